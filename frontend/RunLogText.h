#pragma once

#include <QString>

// The log pane's Chinese rendering of one line of the renderer's output.
// The "[time][LEVEL] " prefix stays (the pane colours by it); the progress
// lines, the written files, the skipped frames, the summary and the failure
// messages are put in Chinese; other lines come back unchanged. The
// renderer's own log file and output stay English. skippedFrame: the
// position of the frame the last SKIP_FRAME line named (its images are
// skipped, not failed).
QString logPaneText(const QString& line, int skippedFrame = 0);
