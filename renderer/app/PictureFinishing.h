#pragma once

#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"
#include "render/FrameCamera.h"

#include <osg/Image>

#include <string>

namespace vistrel {

// What a picture shows: the image it becomes and where the camera was.
struct FinishingContext {
    const PolygonFrame& frame;
    const std::string& key;  // the image's angle key, or kOutlineImageKey
    const CameraSetup& setup;  // the camera placement that drew it
    const RenderConfig& config;
};

// The step between capture and encoding: every picture of the batch passes
// here once, right after it is taken from the renderer and before it is handed
// to the writers (a picture the pre-check took passes when it is kept as the
// "top" image; it may then serve more than one "top" entry of the frame).
// This is the place for marks drawn on a picture (labels, scale bars, north
// arrows) and for measures of what a picture shows; `pixels` is RGBA or RGB,
// 8 bits per channel, bottom row first, and may be the renderer's own buffer
// (a batch without writer threads), which the next draw overwrites.
// With annotate, the marks are drawn here (a picture they cannot be drawn on
// keeps none, with a WARN).
void finishPicture(const FinishingContext& context, osg::Image& pixels);

// Today's local date, YYYY-MM-DD, as captions and sheets give it.
std::string todayText();

}  // namespace vistrel
