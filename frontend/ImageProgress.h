#pragma once

#include <QString>

#include <optional>

// The numbers of one IMAGE_PROGRESS line of the renderer.
struct ImageProgress
{
    int image = 0;
    int totalImages = 0;
    int frame = 0;
    int totalFrames = 0;
    double etaSeconds = 0.0;
};

// Finds an IMAGE_PROGRESS record anywhere in the line (the renderer puts its
// log prefix before it and the angle fields after it). Lines without one,
// or without the eta field, give nothing.
std::optional<ImageProgress> parseImageProgress(const QString& line);
