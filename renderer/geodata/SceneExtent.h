#pragma once

#include "geodata/FrameReprojection.h"

#include <osg/Node>

namespace vistrel {

// The x/y extent of the loaded scene in world coordinates (the tile levels
// loaded so far; the root levels cover the whole model).
Extent2 sceneExtent(osg::Node* sceneRoot);

}  // namespace vistrel
