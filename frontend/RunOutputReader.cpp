#include "RunOutputReader.h"

#include "core/ImagePlan.h"
#include "core/OutputFormats.h"
#include "core/RunProtocol.h"

#include <QFileInfo>

#include <algorithm>

#include <string_view>

using namespace vistrel;

namespace {

// The files the renderer writes per image; the CSV and HTML reports are
// logged with "Wrote " too.
bool isImagePath(const QString& path)
{
    return outputFormatOfName(path.toStdString()) != nullptr;
}

// A dossier sheet or the book: neither is one of the images.
bool readSheetPath(const QString& path, RunSummary& summary)
{
    const QString name = QFileInfo(path).fileName();
    if (name.startsWith(QString::fromUtf8(kBookFileStem)) && name.endsWith(QLatin1String(".pdf"))) {
        summary.dossierBook = path;
        return true;
    }
    if (!name.endsWith(QString::fromUtf8(kSheetFileSuffix)))
        return false;
    summary.dossierSheet = path;
    return true;
}

bool isConfigError(const QString& line)
{
    const auto message = matchRunMessage(line.trimmed().toStdString());
    if (!message)
        return false;
    const RunMessage id = message->id;
    return id == RunMessage::CannotOpenConfig || id == RunMessage::ConfigLoadFailed ||
           (id >= RunMessage::ConfigSizePositive && id <= RunMessage::ConfigOther);
}

QString text(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

bool startsWith(const std::string& message, std::string_view prefix)
{
    return std::string_view(message).substr(0, prefix.size()) == prefix;
}

}  // namespace

void RunOutputReader::reset(bool outlineImages)
{
    *this = RunOutputReader(outlineImages);
}

std::optional<WrittenImage> RunOutputReader::readLine(const QString& line)
{
    const std::optional<LogLine> logLine = parseLogLine(line.toStdString());
    if (!logLine) {
        if (isConfigError(line))
            m_summary.configError = line.trimmed();
        return std::nullopt;
    }
    const std::string& message = logLine->message;
    if (logLine->level == "ERROR")
        m_summary.lastError = text(message);
    if (readEvent(message))
        return std::nullopt;
    if (const auto frame = parseFrameProgress(message)) {
        m_currentFrame = frame->frame;
        m_frameNames.insert(m_currentFrame, text(frame->name));
        return std::nullopt;
    }
    if (const auto skip = parseSkipFrame(message)) {
        m_summary.skippedFrame = m_currentFrame;
        m_summary.skipReasons.append(text(skip->name) + QStringLiteral("：") + text(skip->reason));
        return std::nullopt;
    }
    if (const auto state = parseRunState(message)) {
        m_summary.runState = true;
        m_summary.shardIndex = state->shardIndex;
        m_summary.shardCount = state->shardCount;
        m_summary.resume = state->resume;
        return std::nullopt;
    }
    if (const auto finished = parseRunFinished(message)) {
        m_summary.finishedLine = true;
        m_summary.succeeded = finished->succeeded;
        m_summary.totalImages = finished->totalImages;
        m_summary.skipped = finished->skipped;
        m_summary.failed = finished->failed;
        m_summary.notDone = finished->notDone;
        m_summary.hidden = finished->hidden;
        m_summary.partlyOutside = finished->partlyOutside;
        return std::nullopt;
    }
    if (const auto image = parseImageProgress(message))
        return readImageProgress(*image);
    readTileNotice(message);
    return std::nullopt;
}

void RunOutputReader::readTileNotice(const std::string& message)
{
    const auto matched = matchRunMessage(message);
    if (!matched)
        return;
    if (matched->id == RunMessage::TileCounts)
        m_summary.tilesMissing =
            QString::fromStdString(matched->values[0]).toInt() + QString::fromStdString(matched->values[1]).toInt();
    else if (matched->id == RunMessage::TilesStillLoading)
        ++m_summary.tilesStillLoading;
}

bool RunOutputReader::readEvent(const std::string& message)
{
    if (startsWith(message, kWroteHtmlReportPrefix)) {
        m_summary.htmlReport = text(message).mid(int(kWroteHtmlReportPrefix.size()));
        return true;
    }
    if (startsWith(message, kWrotePrefix)) {
        const QString path = text(message).mid(int(kWrotePrefix.size()));
        if (readSheetPath(path, m_summary))
            return true;
        if (isImagePath(path))
            m_written.append(path);
        return true;
    }
    if (startsWith(message, kResumedPrefix)) {
        if (readSheetPath(text(message).mid(int(kResumedPrefix.size())), m_summary))
            return true;
        ++m_summary.resumedImages;
        m_takenOver = true;
        return true;
    }
    if (message == kStoppedBySignal) {
        m_summary.stoppedBySignal = true;
        return true;
    }
    return false;
}

std::optional<WrittenImage> RunOutputReader::readImageProgress(const ImageProgress& image)
{
    const QString angle = text(image.angle);
    const QStringList written = std::exchange(m_written, {});
    if (std::exchange(m_takenOver, false))
        ++m_summary.takenOverSteps;
    if (!m_summary.finishedLine)
        countImages(image, int(written.size()));

    if (written.isEmpty())
        return std::nullopt;
    // The image of the angle comes first; only the vertical view has a
    // second one, the outline image.
    const bool outline = written.size() > 1 && angle == QLatin1String("top");
    return WrittenImage{written.last(), m_frameNames.value(image.frame), outline ? QStringLiteral("top_range") : angle};
}

// One progress line stands for the images of one angle of a frame: two for
// the vertical view with its outline image.
void RunOutputReader::countImages(const ImageProgress& image, int written)
{
    const int planned = image.angle == "top" && m_outlineImages ? 2 : 1;
    m_summary.totalImages = image.totalImages + (m_outlineImages ? image.totalFrames : 0);
    if (image.success) {
        m_summary.succeeded += planned;
    } else if (image.frame == m_summary.skippedFrame) {
        m_summary.skipped += planned;
    } else {
        m_summary.succeeded += std::min(written, planned);
        m_summary.failed += planned - std::min(written, planned);
    }
}

std::optional<WrittenImage> RunOutputReader::finish()
{
    const QStringList written = std::exchange(m_written, {});
    if (written.isEmpty())
        return std::nullopt;
    return WrittenImage{written.last(), m_frameNames.value(m_currentFrame), QString()};
}
