#pragma once

#include "core/Extent2.h"
#include "core/PolygonFrame.h"

#include <osg/Node>

#include <string>
#include <vector>

namespace vistrel {

// Gives every frame the height of the scene's bounding-sphere centre.
void resetFrameHeights(std::vector<PolygonFrame>& frames, const osg::Node* sceneRoot);

// Logs whether the frames' joint x/y bounds lie near the scene. Moves nothing.
void checkFramesNearScene(const std::vector<PolygonFrame>& frames, const osg::Node* sceneRoot);

// Measures the model surface under every frame on the vertical lines of a
// 5 x 5 grid over its bounds that fall in its area (holes left out), through
// the loaded tiles only (nothing is paged in).
void sampleFrameHeights(osg::Node* sceneRoot, std::vector<PolygonFrame>& frames);

// The same for one frame, without the log line: true when a line hit the
// model (the frame's heights are then set).
bool sampleFrameHeight(osg::Node* sceneRoot, PolygonFrame& frame);
// "Sampled model heights for n/m frames. Z range=(...)": the frames whose
// heights are no longer those resetFrameHeights gave them.
void logSampledHeights(const osg::Node* sceneRoot, const std::vector<PolygonFrame>& frames);

}  // namespace vistrel
