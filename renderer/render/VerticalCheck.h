#pragma once

#include "render/FrameCamera.h"
#include "render/PictureSource.h"

#include <osg/Image>

#include <functional>
#include <string>

namespace vistrel {

// The verdict on a frame's vertical picture: does it show a real model?
struct VerticalCheckResult {
    bool passed = false;
    bool rendered = true;  // false: the picture could not be rendered at all
    double whiteFraction = 0.0;  // share of sampled pixels that are near white
    double blackFraction = 0.0;  // share that are near black
    double stddev = 0.0;  // brightness deviation, 0..255 scale
    std::string message;
};

// Renders `setup` (overlays removed first) and judges the captured picture;
// with a frame, only the pixels over its area (holes left out) count.
VerticalCheckResult checkVerticalImage(PictureSource& renderer, const CameraSetup& setup,
                                       const PolygonFrame* frame = nullptr);

// Which pixels of the picture (column, row from the bottom) are judged.
using PixelFilter = std::function<bool(int, int)>;

// Samples at most 1023 pixels per axis: near white, near black and the
// brightness spread decide whether the picture holds a model. With a filter,
// only the sampled pixels it accepts count; when it accepts none, all do.
VerticalCheckResult computeImageStatistics(const osg::Image* image, const PixelFilter& counts = {});

// The filter of the pixels of a vertical picture taken with `setup` (of
// `width` x `height` pixels) whose centres lie within a pixel of the frame's area.
PixelFilter frameAreaPixels(const PolygonFrame& frame, const CameraSetup& setup, int width, int height);

}  // namespace vistrel
