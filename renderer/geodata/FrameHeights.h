#pragma once

#include "core/PolygonFrame.h"

#include <osg/Node>

#include <functional>
#include <string>
#include <vector>

namespace vistrel {

// Gives every frame the height of the scene's bounding-sphere centre.
void resetFrameHeights(std::vector<PolygonFrame>& frames, const osg::Node* sceneRoot);

// Logs whether the frames' joint x/y bounds lie near the scene. Moves nothing.
void checkFramesNearScene(const std::vector<PolygonFrame>& frames, const osg::Node* sceneRoot);

// Measures the model surface under every frame on a 5 x 5 grid of vertical
// lines through the loaded tiles only (nothing is paged in). `beforeFrame`,
// when given, is called for each frame before its lines are cast (to load
// the tiles under it).
void sampleFrameHeights(osg::Node* sceneRoot, std::vector<PolygonFrame>& frames,
                        const std::function<void(const PolygonFrame&)>& beforeFrame = nullptr);

// "(minX, minY) - (maxX, maxY), center=(cx, cy)".
std::string formatBounds(double minX, double minY, double maxX, double maxY);

}  // namespace vistrel
