#include "RunOutputReader.h"

#include <QRegularExpression>

namespace {

// "[timestamp][LEVEL] message"
const QRegularExpression& logLinePattern()
{
    static const QRegularExpression pattern(QStringLiteral("^\\[[^\\]]*\\]\\[(INFO|WARN|ERROR)\\] (.*)$"));
    return pattern;
}

// The files the renderer writes per image; the CSV and HTML reports are
// logged with "Wrote " too.
bool isImagePath(const QString& path)
{
    static const QRegularExpression suffix(QStringLiteral("\\.(png|jpe?g|pdf)$"),
                                           QRegularExpression::CaseInsensitiveOption);
    return suffix.match(path).hasMatch();
}

bool isConfigError(const QString& line)
{
    return line.startsWith(QLatin1String("Config error: ")) || line.startsWith(QLatin1String("Cannot open config: "))
        || line.startsWith(QLatin1String("Config load failed: "));
}

} // namespace

void RunOutputReader::reset()
{
    *this = RunOutputReader();
}

std::optional<WrittenImage> RunOutputReader::readLine(const QString& line)
{
    const QRegularExpressionMatch logLine = logLinePattern().match(line);
    if (!logLine.hasMatch()) {
        if (isConfigError(line))
            m_summary.configError = line.trimmed();
        return std::nullopt;
    }
    const QString level = logLine.captured(1);
    const QString message = logLine.captured(2);
    if (level == QLatin1String("ERROR"))
        m_summary.lastError = message;

    static const QRegularExpression frameLine(QStringLiteral("^FRAME_PROGRESS frame=(\\d+) total_frames=\\d+ name=(.*)$"));
    static const QRegularExpression skipLine(QStringLiteral("^SKIP_FRAME name="));
    static const QRegularExpression imageLine(QStringLiteral(
        "^IMAGE_PROGRESS image=\\d+ total_images=(\\d+) frame=(\\d+) .* angle=(\\S+) success=([01])"));
    static const QRegularExpression finishedLine(
        QStringLiteral("^Render finished\\. Success (\\d+)/(\\d+), skipped (\\d+), failed (\\d+)"));
    static const QRegularExpression runStateLine(
        QStringLiteral("^RUN_STATE shard_index=(\\d+) shard_count=(\\d+) resume=([01])"));

    const QLatin1String htmlReport("Wrote HTML report: ");
    if (message.startsWith(htmlReport)) {
        m_summary.htmlReport = message.mid(htmlReport.size());
        return std::nullopt;
    }
    if (message.startsWith(QLatin1String("Wrote "))) {
        const QString path = message.mid(6);
        if (isImagePath(path))
            m_written.append(path);
        return std::nullopt;
    }
    if (message.startsWith(QLatin1String("Resumed "))) {
        ++m_summary.resumedImages;
        return std::nullopt;
    }
    if (message == QLatin1String("Stopped by signal")) {
        m_summary.stoppedBySignal = true;
        return std::nullopt;
    }
    if (const QRegularExpressionMatch m = frameLine.match(message); m.hasMatch()) {
        m_currentFrame = m.captured(1).toInt();
        m_frameNames.insert(m_currentFrame, m.captured(2));
        return std::nullopt;
    }
    if (skipLine.match(message).hasMatch()) {
        m_skippedFrame = m_currentFrame;
        return std::nullopt;
    }
    if (const QRegularExpressionMatch m = runStateLine.match(message); m.hasMatch()) {
        m_summary.runState = true;
        m_summary.shardIndex = m.captured(1).toInt();
        m_summary.shardCount = m.captured(2).toInt();
        m_summary.resume = m.captured(3) == QLatin1String("1");
        return std::nullopt;
    }
    if (const QRegularExpressionMatch m = finishedLine.match(message); m.hasMatch()) {
        m_summary.finishedLine = true;
        m_summary.succeeded = m.captured(1).toInt();
        m_summary.totalImages = m.captured(2).toInt();
        m_summary.skipped = m.captured(3).toInt();
        m_summary.failed = m.captured(4).toInt();
        return std::nullopt;
    }
    const QRegularExpressionMatch m = imageLine.match(message);
    if (!m.hasMatch())
        return std::nullopt;

    const int frame = m.captured(2).toInt();
    const QString angle = m.captured(3);
    if (!m_summary.finishedLine) {
        m_summary.totalImages = m.captured(1).toInt();
        if (m.captured(4) == QLatin1String("1"))
            ++m_summary.succeeded;
        else if (frame == m_skippedFrame)
            ++m_summary.skipped;
        else
            ++m_summary.failed;
    }

    const QStringList written = std::exchange(m_written, {});
    if (written.isEmpty())
        return std::nullopt;
    // The image of the angle comes first; only the vertical view has a
    // second one, the outline image.
    const bool outline = written.size() > 1 && angle == QLatin1String("top");
    return WrittenImage{written.last(), m_frameNames.value(frame),
                        outline ? QStringLiteral("top_range") : angle};
}

std::optional<WrittenImage> RunOutputReader::finish()
{
    const QStringList written = std::exchange(m_written, {});
    if (written.isEmpty())
        return std::nullopt;
    return WrittenImage{written.last(), m_frameNames.value(m_currentFrame), QString()};
}
