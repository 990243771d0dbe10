#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// How a frame came out of a run, as its row of render_report.csv tells.
enum class FrameResult {
    Written,  // every image written
    Hidden,  // written, but an image is remarked as hidden by the model
    Skipped,  // skipped by the pre-check (no failure)
    Failed,  // an image failed
    NotDone,  // the run stopped before it
};

// One frame's row of render_report.csv.
struct ReportRow {
    QString name;  // 图斑编号
    QString folder;  // 输出文件夹, below the output folder
    QStringList images;  // file names of the images written, in column order
    FrameResult result = FrameResult::NotDone;
    QString text;  // the row in words: "正射 成功；北 失败（原因）"
};

// The rows of a report; none when the file cannot be read.
std::vector<ReportRow> readReportRows(const QString& csvPath);

// One line of a CSV file split into its fields (quotes as the report writes
// them: a field in double quotes, a quote inside doubled).
QStringList splitCsvLine(const QString& line);
