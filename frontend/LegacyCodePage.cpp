#include "LegacyCodePage.h"

#include <QStringDecoder>

#include <langinfo.h>

namespace {

constexpr char kFallbackCodePage[] = "GB18030";

bool isUtf8OrAscii(const QByteArray& codeset)
{
    const QByteArray name = codeset.toUpper();
    return name.isEmpty() || name == "UTF-8" || name == "UTF8" || name == "ANSI_X3.4-1968"
        || name == "ASCII" || name == "US-ASCII";
}

} // namespace

QByteArray legacyCodePageName(const QByteArray& localeCodeset)
{
    if (isUtf8OrAscii(localeCodeset))
        return kFallbackCodePage;
    if (!QStringDecoder(localeCodeset.constData()).isValid())
        return kFallbackCodePage;
    return localeCodeset;
}

QString decodeLocal8Bit(const QByteArray& bytes)
{
    const QByteArray name = legacyCodePageName(QByteArray(nl_langinfo(CODESET)));
    QStringDecoder decoder(name.constData());
    return decoder.decode(bytes);
}
