#pragma once

#include "core/Extent2.h"

#include <osg/Node>

namespace vistrel {

// The x/y extent of the scene in world coordinates: the geometry loaded so
// far, and the bounds of the roots a shard has not read yet; bounds that
// cannot place a root (checkRootBound) and coordinates beyond any place
// count for nothing.
Extent2 sceneExtent(osg::Node* sceneRoot);

}  // namespace vistrel
