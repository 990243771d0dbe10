#include "geodata/SceneExtent.h"

#include <osg/ComputeBoundsVisitor>
#include <osg/Group>
#include <osg/Transform>

namespace vistrel {

namespace {

// Empty groups that stand for tiles not read yet (a shard reads its roots
// only when a frame needs them) carry the bound of what they will hold.
class PlaceholderBounds : public osg::NodeVisitor {
public:
    PlaceholderBounds() : osg::NodeVisitor(osg::NodeVisitor::TRAVERSE_ALL_CHILDREN) {}

    void apply(osg::Group& group) override
    {
        if (group.getNumChildren() == 0 && group.getInitialBound().valid()) {
            const osg::BoundingSphere& bound = group.getInitialBound();
            const osg::Vec3d center = osg::Vec3d(bound.center()) * osg::computeLocalToWorld(getNodePath());
            const double r = bound.radius();
            extent.add(center.x() - r, center.y() - r, center.x() + r, center.y() + r);
        }
        traverse(group);
    }

    Extent2 extent;
};

}  // namespace

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
    PlaceholderBounds placeholders;
    sceneRoot->accept(placeholders);
    if (!placeholders.extent.empty) {
        extent.add(placeholders.extent.minX, placeholders.extent.minY, placeholders.extent.maxX,
                   placeholders.extent.maxY);
    }
    return extent;
}

}  // namespace vistrel
