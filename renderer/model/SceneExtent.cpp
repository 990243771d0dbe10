#include "model/SceneExtent.h"

#include "model/RootIndex.h"

#include <osg/ComputeBoundsVisitor>
#include <osg/Group>
#include <osg/Transform>

#include <cmath>
#include <initializer_list>

namespace vistrel {

namespace {

// A world coordinate is a tile coordinate moved by the model origin, each
// within the limits of RootIndex.h; anything beyond is no model's extent.
constexpr double kMaxWorldCoordinate = 2.0 * kMaxRootCentre + kMaxRootRadius;

bool saneCoordinates(std::initializer_list<double> values)
{
    for (const double v : values) {
        if (!(std::fabs(v) <= kMaxWorldCoordinate)) {
            return false;
        }
    }
    return true;
}

// Empty groups that stand for tiles not read yet (a shard reads its roots
// only when a frame needs them) carry the bound of what they will hold.
class PlaceholderBounds : public osg::NodeVisitor {
public:
    PlaceholderBounds() : osg::NodeVisitor(osg::NodeVisitor::TRAVERSE_ALL_CHILDREN) {}

    void apply(osg::Group& group) override
    {
        if (group.getNumChildren() == 0 && placesRoot(group.getInitialBound())) {
            const osg::BoundingSphere& bound = group.getInitialBound();
            const osg::Vec3d center = osg::Vec3d(bound.center()) * osg::computeLocalToWorld(getNodePath());
            const double r = bound.radius();
            if (saneCoordinates({center.x(), center.y()})) {
                extent.add(center.x() - r, center.y() - r, center.x() + r, center.y() + r);
            }
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
    // Loaded geometry far beyond any place (a vertex at 1e30) is no extent.
    if (box.valid() && saneCoordinates({box.xMin(), box.yMin(), box.xMax(), box.yMax()})) {
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
