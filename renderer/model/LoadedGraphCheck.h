#pragma once

#include <osg/Node>

#include <string>

namespace vistrel {

// Whether a loaded graph can be drawn and intersected safely; false, with
// `reason`, when it cannot: a cycle, nesting too deep, an index beyond its vertex array, a
// non-finite vertex or transform, a per-vertex array shorter than the
// vertices used, a texture image larger than its data, a drawable other
// than osg::Geometry.
bool checkLoadedGraph(osg::Node& root, std::string& reason);

}  // namespace vistrel
