#include "DbfFieldNames.h"

#include "LegacyCodePage.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>

namespace {

constexpr qsizetype kFirstDescriptor = 32;
constexpr qsizetype kDescriptorSize = 32;
constexpr qsizetype kNameSize = 11;
constexpr char kTerminator = 0x0D;

unsigned littleEndian(const QByteArray& bytes, qsizetype at, int count)
{
    unsigned value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

// Valid UTF-8, allowing a sequence cut off by the end of a fixed-width field.
bool isUtf8AllowingCutEnd(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)QString(decoder.decode(bytes));
    if (!decoder.hasError())
        return true;
    // Strip a trailing incomplete sequence (at most three bytes) and retry.
    for (qsizetype cut = 1; cut <= 3 && cut <= bytes.size(); ++cut) {
        const auto byte = static_cast<unsigned char>(bytes.at(bytes.size() - cut));
        if ((byte & 0xC0) == 0xC0) {
            QStringDecoder again(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            (void)QString(again.decode(bytes.first(bytes.size() - cut)));
            return !again.hasError();
        }
        if ((byte & 0xC0) != 0x80)
            break;
    }
    return false;
}

QByteArray cutAtNul(QByteArray bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return bytes;
}

// True when every field name and text value of the table is valid UTF-8;
// the records are streamed, never held whole.
bool dbfTextIsUtf8(QFile& file, const QByteArray& header, const QList<QByteArray>& names)
{
    for (const QByteArray& name : names) {
        if (!isUtf8AllowingCutEnd(name))
            return false;
    }
    if (header.size() < kFirstDescriptor)
        return true;
    const unsigned records = littleEndian(header, 4, 4);
    const qsizetype headerLength = littleEndian(header, 8, 2);
    const qsizetype recordLength = littleEndian(header, 10, 2);
    QList<QPair<qsizetype, qsizetype>> textFields;
    qsizetype offset = 1;  // after the deletion flag
    for (qsizetype d = kFirstDescriptor; d + kDescriptorSize <= header.size() && header.at(d) != kTerminator;
         d += kDescriptorSize) {
        const qsizetype length = static_cast<unsigned char>(header.at(d + 16));
        if (header.at(d + 11) == 'C')
            textFields.append({offset, length});
        offset += length;
    }
    if (textFields.isEmpty() || recordLength == 0 || !file.seek(headerLength))
        return true;
    for (unsigned r = 0; r < records; ++r) {
        const QByteArray record = file.read(recordLength);
        if (record.size() < recordLength)
            break;
        for (const auto& [start, length] : textFields) {
            if (start >= recordLength)
                continue;
            QByteArrayView value = QByteArrayView(record).sliced(start, std::min(length, recordLength - start));
            while (!value.isEmpty() && value.back() == ' ')
                value.chop(1);
            if (!isUtf8AllowingCutEnd(value))
                return false;
        }
    }
    return true;
}

QByteArray cpgFirstLine(const QString& dbfPath)
{
    const QFileInfo info(dbfPath);
    for (const char* suffix : {".cpg", ".CPG"}) {
        QFile cpg(info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QLatin1String(suffix));
        if (cpg.open(QIODevice::ReadOnly)) {
            QByteArray line = cpg.readLine(4096);
            for (const char end : {'\r', '\n'}) {
                if (line.contains(end))
                    line.truncate(line.indexOf(end));
            }
            return line;
        }
    }
    return {};
}

}  // namespace

QString dbfPathForShapefile(const QString& shpPath)
{
    const QFileInfo info(shpPath);
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".dbf");
}

QStringList readDbfFieldNames(const QString& dbfPath)
{
    QFile file(dbfPath);
    if (!QFileInfo(dbfPath).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray start = file.read(kFirstDescriptor);
    if (start.size() < kFirstDescriptor)
        return {};
    const qsizetype headerLength = littleEndian(start, 8, 2);
    const qsizetype limit = std::min(file.size(), headerLength);
    if (limit < 2 * kDescriptorSize)
        return {};
    const QByteArray header = start + file.read(limit - kFirstDescriptor);

    QList<QByteArray> rawNames;
    for (qsizetype offset = kFirstDescriptor; offset + kDescriptorSize <= header.size(); offset += kDescriptorSize) {
        if (header.at(offset) == kTerminator)
            break;
        rawNames.append(cutAtNul(header.mid(offset, kNameSize)));
        // Stop unless the next descriptor fits completely in the header.
        if (limit < offset + 2 * kDescriptorSize)
            break;
    }

    // The same rule as the renderer's reader: a declared encoding first,
    // else UTF-8 when all text is UTF-8, else GB18030.
    QByteArray encoding = declaredShapefileEncoding(cpgFirstLine(dbfPath), static_cast<unsigned char>(start.at(29)));
    if (encoding.isEmpty() || !QStringDecoder(encoding.constData()).isValid())
        encoding = undeclaredShapefileEncoding(dbfTextIsUtf8(file, header, rawNames));

    QStringList names;
    for (const QByteArray& raw : rawNames) {
        QStringDecoder decoder(encoding.constData());
        const QString name = QString(decoder.decode(raw)).trimmed();
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    }
    return names;
}
