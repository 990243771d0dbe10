#include "DbfFieldNames.h"

#include "LegacyCodePage.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

constexpr qsizetype kFirstDescriptor = 32;
constexpr qsizetype kDescriptorSize = 32;
constexpr qsizetype kNameSize = 11;
constexpr char kTerminator = 0x0D;

QString decodeFieldName(QByteArray bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    QString name = QString::fromUtf8(bytes).trimmed();
    if (name.contains(QChar::ReplacementCharacter))
        name = decodeLocal8Bit(bytes).trimmed();
    return name;
}

} // namespace

QString dbfPathForShapefile(const QString& shpPath)
{
    const QFileInfo info(shpPath);
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".dbf");
}

QStringList readDbfFieldNames(const QString& dbfPath)
{
    QFile file(dbfPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    if (data.size() < kFirstDescriptor)
        return {};

    const auto byteAt = [&data](qsizetype i) { return static_cast<unsigned char>(data.at(i)); };
    const qsizetype headerLength = byteAt(8) | (byteAt(9) << 8);
    const qsizetype limit = std::min(data.size(), headerLength);
    if (limit < 2 * kDescriptorSize)
        return {};

    QStringList names;
    for (qsizetype offset = kFirstDescriptor; offset + kDescriptorSize <= data.size();
         offset += kDescriptorSize) {
        if (data.at(offset) == kTerminator)
            break;
        const QString name = decodeFieldName(data.mid(offset, kNameSize));
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
        // Stop unless the next descriptor fits completely in the header.
        if (limit < offset + 2 * kDescriptorSize)
            break;
    }
    return names;
}
