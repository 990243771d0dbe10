#pragma once

#include "render/FrameCamera.h"
#include "render/PictureSource.h"

#include <osg/Image>

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

// Renders `setup` (overlays removed first) and judges the captured picture.
VerticalCheckResult checkVerticalImage(PictureSource& renderer, const CameraSetup& setup);

// Samples at most 1023 pixels per axis: near white, near black and the
// brightness spread decide whether the picture holds a model.
VerticalCheckResult computeImageStatistics(const osg::Image* image);

}  // namespace vistrel
