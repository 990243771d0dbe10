#include "ReportRows.h"

#include <QFile>

namespace {

// The columns of one image: 图片, 结果 and (not for the outline image) 备注,
// each headed "<angle><word>".
struct ImageColumns {
    QString angle;
    int file = -1;
    int result = -1;
    int remark = -1;
};

std::vector<ImageColumns> imageColumns(const QStringList& header)
{
    std::vector<ImageColumns> images;
    for (int i = 0; i < header.size(); ++i) {
        const QString& title = header[i];
        if (title.endsWith(QStringLiteral("图片")) && title != QStringLiteral("图片")) {
            images.push_back({title.chopped(2), i, -1, -1});
        } else if (!images.empty() && title == images.back().angle + QStringLiteral("结果")) {
            images.back().result = i;
        } else if (!images.empty() && title == images.back().angle + QStringLiteral("备注")) {
            images.back().remark = i;
        }
    }
    return images;
}

FrameResult worst(FrameResult a, FrameResult b)
{
    // Failed over not done over skipped over hidden over written.
    static const FrameResult order[] = {FrameResult::Written, FrameResult::Hidden, FrameResult::Skipped,
                                        FrameResult::NotDone, FrameResult::Failed};
    int rankA = 0, rankB = 0;
    for (int i = 0; i < 5; ++i) {
        rankA = order[i] == a ? i : rankA;
        rankB = order[i] == b ? i : rankB;
    }
    return rankA >= rankB ? a : b;
}

FrameResult resultOf(const QString& word, const QString& remark)
{
    if (word == QStringLiteral("成功"))
        return remark.contains(QStringLiteral("遮挡")) ? FrameResult::Hidden : FrameResult::Written;
    if (word == QStringLiteral("跳过"))
        return FrameResult::Skipped;
    if (word == QStringLiteral("失败"))
        return FrameResult::Failed;
    return FrameResult::NotDone;
}

ReportRow rowOf(const QStringList& cells, const std::vector<ImageColumns>& images)
{
    ReportRow row;
    row.name = cells.value(1);
    row.folder = cells.value(3);
    row.result = FrameResult::Written;
    QStringList parts;
    for (const ImageColumns& image : images) {
        const QString word = cells.value(image.result);
        const QString remark = image.remark >= 0 ? cells.value(image.remark) : QString();
        if (!cells.value(image.file).isEmpty())
            row.images.append(cells.value(image.file));
        row.result = worst(row.result, resultOf(word, remark));
        parts.append(image.angle + QLatin1Char(' ') + word +
                     (remark.isEmpty() ? QString() : QStringLiteral("（%1）").arg(remark)));
    }
    row.text = parts.join(QStringLiteral("；"));
    return row;
}

}  // namespace

QStringList splitCsvLine(const QString& line)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted && c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
            field += c;
            ++i;
        } else if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (c == QLatin1Char(',') && !quoted) {
            fields.append(std::exchange(field, QString()));
        } else {
            field += c;
        }
    }
    fields.append(field);
    return fields;
}

std::vector<ReportRow> readReportRows(const QString& csvPath)
{
    QFile file(csvPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return {};
    const std::vector<ImageColumns> images = imageColumns(splitCsvLine(lines.first().trimmed()));
    std::vector<ReportRow> rows;
    for (qsizetype i = 1; i < lines.size(); ++i)
        rows.push_back(rowOf(splitCsvLine(QString(lines[i]).remove(QLatin1Char('\r'))), images));
    return rows;
}
