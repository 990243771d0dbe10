#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>

namespace vistrel {
struct ImageProgress;
}

// An image file the renderer has written, for the preview.
struct WrittenImage {
    QString path;
    QString frameName;
    QString angle;  // angle key, "top_range" for the outline image; empty when unknown
};

// What the renderer's output has told about the run so far.
struct RunSummary {
    int succeeded = 0;
    int skipped = 0;
    int failed = 0;
    int totalImages = 0;
    int notDone = 0;  // images a stopped run never reached
    int hidden = 0;  // written images that show little of their frame (图斑大部分被遮挡)
    int partlyOutside = 0;  // vertical images of frames partly off the model (图斑部分在模型范围外)
    bool finishedLine = false;  // "Render finished." was seen: the numbers are the renderer's own
    bool stoppedBySignal = false;
    QString lastError;  // message of the last ERROR line
    QString configError;  // configuration error printed without log prefix
    QStringList skipReasons;  // "frame: reason" of every SKIP_FRAME line
    QString htmlReport;  // contact sheet this run wrote ("Wrote HTML report: ")
    QString dossierSheet;  // the last dossier sheet written or taken over
    QString dossierBook;  // the run's book of sheets, when it was written
    // Shard and resume state ("RUN_STATE"); absent for plain runs.
    bool runState = false;
    int shardIndex = 0;
    int shardCount = 1;
    bool resume = false;
    int resumedImages = 0;
    // Progress steps whose images were taken over from an earlier run: they
    // cost next to nothing and do not count for the time left.
    int takenOverSteps = 0;
    int skippedFrame = 0;  // position of the frame the last SKIP_FRAME line named
    // Tiles the run lacked: missing or refused (the tile count line), and
    // images drawn while tiles were still loading.
    int tilesMissing = 0;
    int tilesStillLoading = 0;
};

// Follows the renderer's output line by line: counts the images, keeps the
// reason of a failure, and pairs every "Wrote " line with the frame and the
// angle that its IMAGE_PROGRESS line names.
//
// Without the renderer's summary line (a killed run) the images are counted
// as the summary counts them: the outline image beside a vertical view is an
// image of its own, planned, skipped or failed with it.
class RunOutputReader {
public:
    // Whether the run writes the outline image beside the vertical view
    // (the vertical view is among its angles and the outline image is on).
    explicit RunOutputReader(bool outlineImages = false) : m_outlineImages(outlineImages) {}

    // Reads one line. Gives the last image that this line completes: an
    // IMAGE_PROGRESS line completes the images written since the previous one
    // (for "top" with the outline image on: top, then top_range).
    std::optional<WrittenImage> readLine(const QString& line);

    // At the end of the output: an image written without a progress line.
    std::optional<WrittenImage> finish();

    const RunSummary& summary() const { return m_summary; }
    void reset(bool outlineImages);

private:
    bool readEvent(const std::string& message);  // "Wrote …", "Resumed …", a stop
    void readTileNotice(const std::string& message);
    std::optional<WrittenImage> readImageProgress(const vistrel::ImageProgress& image);
    void countImages(const vistrel::ImageProgress& image, int written);

    bool m_outlineImages = false;
    RunSummary m_summary;
    QHash<int, QString> m_frameNames;  // by frame position
    int m_currentFrame = 0;
    bool m_takenOver = false;  // a "Resumed" line since the last progress line
    QStringList m_written;  // written since the last progress line
};
