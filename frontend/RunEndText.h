#pragma once

#include <QMessageBox>
#include <QString>

struct RunEnd;
struct RunSummary;

// What the end of a run says: the closing log line, the status text and
// the end box with the numbers, the reason of a failure and the renderer's
// own words under "详细信息".
struct RunEndText {
    QString logLine;
    QString status;
    QMessageBox::Icon icon = QMessageBox::Information;
    QString text;  // the end box
    QString details;
};

// elapsed: the run's time as shown; previewFrames: a test export's frame
// limit, 0 for a full run.
RunEndText runEndText(const RunEnd& end, const RunSummary& run, const QString& elapsed, int previewFrames);
