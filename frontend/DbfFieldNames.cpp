#include "DbfFieldNames.h"

#include "LegacyCodePage.h"

#include "core/DbfText.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <fstream>

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

QByteArray cutAtNul(QByteArray bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return bytes;
}

// The table's field names and text values are all UTF-8 (read by the
// renderer's rule; the records are streamed, never held whole).
bool dbfTextIsUtf8(const QString& dbfPath)
{
    std::ifstream in(QFile::encodeName(dbfPath).toStdString(), std::ios::binary);
    return !in || vistrel::dbfTextIsUtf8(in);
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
        encoding = undeclaredShapefileEncoding(dbfTextIsUtf8(dbfPath));

    QStringList names;
    for (const QByteArray& raw : rawNames) {
        QStringDecoder decoder(encoding.constData());
        const QString name = QString(decoder.decode(raw)).trimmed();
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    }
    return names;
}
