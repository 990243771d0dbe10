#pragma once

#include <osg/Node>

#include <string>

namespace vistrel {

// Why a loaded graph cannot be drawn or intersected safely; empty when it
// can: a cycle, nesting too deep, an index beyond its vertex array, a
// non-finite vertex or transform, a per-vertex array shorter than the
// vertices used, a texture image larger than its data, a drawable other
// than osg::Geometry.
std::string checkLoadedGraph(osg::Node& root);

}  // namespace vistrel
