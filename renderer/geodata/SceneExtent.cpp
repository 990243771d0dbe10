#include "geodata/SceneExtent.h"

#include <osg/ComputeBoundsVisitor>

namespace vistrel {

Extent2 sceneExtent(osg::Node* sceneRoot)
{
    Extent2 extent;
    if (!sceneRoot) {
        return extent;
    }
    osg::ComputeBoundsVisitor visitor;
    sceneRoot->accept(visitor);
    const osg::BoundingBox& box = visitor.getBoundingBox();
    if (box.valid()) {
        extent.add(box.xMin(), box.yMin(), box.xMax(), box.yMax());
    }
    return extent;
}

}  // namespace vistrel
