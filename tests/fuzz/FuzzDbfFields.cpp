// Tavrin's field discovery over any attribute file.
#include "FuzzTempFile.h"

#include "DbfFieldNames.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::filesystem::path file = writeFuzzFile("fields.dbf", data, size);
    const QStringList names = readDbfFieldNames(QString::fromStdString(file.string()));
    for (const QString& name : names) {
        if (name.isEmpty()) {
            __builtin_trap();
        }
    }
    return 0;
}
