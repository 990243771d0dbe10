// Prints docs/configuration.md, made from the same table as Tavrin's
// tooltips:
//
//   tavrin_config_doc > docs/configuration.md
#include "ConfigReference.h"

#include <cstdio>

int main()
{
    const QByteArray text = configurationMarkdown().toUtf8();
    return std::fwrite(text.constData(), 1, size_t(text.size()), stdout) == size_t(text.size()) ? 0 : 1;
}
