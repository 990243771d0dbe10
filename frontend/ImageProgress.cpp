#include "ImageProgress.h"

#include <QRegularExpression>

std::optional<ImageProgress> parseImageProgress(const QString& line)
{
    static const QRegularExpression pattern(QStringLiteral(
        "IMAGE_PROGRESS image=(\\d+) total_images=(\\d+) frame=(\\d+) "
        "total_frames=(\\d+) elapsed=([0-9.]+) eta=([0-9.]+)"));
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch())
        return std::nullopt;

    // toInt gives 0 for numbers beyond 32 bits, which is what we want.
    ImageProgress progress;
    progress.image = match.captured(1).toInt();
    progress.totalImages = match.captured(2).toInt();
    progress.frame = match.captured(3).toInt();
    progress.totalFrames = match.captured(4).toInt();
    progress.etaSeconds = match.captured(6).toDouble();
    return progress;
}
