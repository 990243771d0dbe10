#include "LegacyCodePage.h"

#include "core/DbfText.h"

#include <QStringDecoder>

#include <cstdlib>

#include <langinfo.h>

namespace {

constexpr const char* kFallbackCodePage = vistrel::kUndeclaredLegacyEncoding;

bool isUtf8OrAscii(const QByteArray& codeset)
{
    const QByteArray name = codeset.toUpper();
    return name.isEmpty() || name == "UTF-8" || name == "UTF8" || name == "ANSI_X3.4-1968" || name == "ASCII" ||
           name == "US-ASCII";
}

}  // namespace

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

namespace {

// Language driver ids and the Windows code pages they stand for.
int languageDriverCodePage(int id)
{
    switch (id) {
    case 1:
    case 11:
    case 13:
    case 15:
    case 17:
    case 21:
    case 24:
    case 25:
    case 27: return 437;
    case 2:
    case 10:
    case 14:
    case 16:
    case 18:
    case 20:
    case 22:
    case 26:
    case 29:
    case 37:
    case 55: return 850;
    case 3:
    case 88:
    case 89: return 1252;
    case 4: return 10000;
    case 8:
    case 23:
    case 102: return 865;
    case 19:
    case 123: return 932;
    case 28:
    case 108: return 863;
    case 31:
    case 34:
    case 35:
    case 64:
    case 100:
    case 135: return 852;
    case 36: return 860;
    case 38:
    case 101: return 866;
    case 77:
    case 122: return 936;
    case 78:
    case 121: return 949;
    case 79:
    case 120: return 950;
    case 80:
    case 124: return 874;
    case 103: return 861;
    case 104: return 895;
    case 105: return 620;
    case 106:
    case 134: return 737;
    case 107:
    case 136: return 857;
    case 150: return 10007;
    case 151: return 10029;
    case 200: return 1250;
    case 201: return 1251;
    case 202: return 1254;
    case 203: return 1253;
    case 204: return 1257;
    default: return -1;
    }
}

}  // namespace

QByteArray declaredShapefileEncoding(const QByteArray& cpgFirstLine, int languageDriver)
{
    const QByteArray cpg = cpgFirstLine.trimmed();
    if (cpg.isEmpty()) {
        if (languageDriver == 0)
            return {};
        if (languageDriver == 87)
            return "ISO-8859-1";
        const int codePage = languageDriverCodePage(languageDriver);
        return codePage > 0 ? "CP" + QByteArray::number(codePage) : "LDID/" + QByteArray::number(languageDriver);
    }
    const int number = std::atoi(cpg.constData());
    if ((number >= 437 && number <= 950) || (number >= 1250 && number <= 1258))
        return "CP" + QByteArray::number(number);
    if (cpg.startsWith("8859"))
        return "ISO-8859-" + cpg.mid(cpg.size() > 4 && cpg[4] == '-' ? 5 : 4);
    if (cpg.toUpper().startsWith("UTF-8"))
        return "UTF-8";
    return cpg;
}

QByteArray undeclaredShapefileEncoding(bool textIsUtf8)
{
    return textIsUtf8 ? QByteArray("UTF-8") : QByteArray(kFallbackCodePage);
}
