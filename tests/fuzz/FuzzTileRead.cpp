// The checked .osgb read of the tile callback; what it accepts must survive
// the bound computation and the k-d tree build that follow every read, and
// its bound, read as a root's, the root grid.
#include "model/RootGrid.h"
#include "model/RootIndex.h"
#include "model/OsgbSource.h"
#include "model/SceneLoader.h"
#include "model/TileReadCallback.h"

#include <osg/KdTree>
#include <osg/Notify>

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool ready = [] {
        osg::setNotifyLevel(osg::FATAL);
        vistrel::setupPluginPath();
        // Textures named as separate files are read as the pager reads them.
        vistrel::installTileReadCallback();
        return true;
    }();
    (void)ready;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string reason;
    osg::ref_ptr<osg::Node> node = vistrel::readCheckedOsgb(bytes, "/fuzz/Tile/Tile.osgb", nullptr, reason);
    if (node) {
        vistrel::RootEntry entry;
        entry.path = "/fuzz/Tile/Tile.osgb";
        entry.readable = true;
        entry.bound = node->getBound();
        vistrel::checkRootBound(entry.bound, reason);
        const vistrel::RootGrid grid({entry}, osg::Vec3d(512000.0, 3390000.0, 0.0));
        const osg::Vec3d at = osg::Vec3d(entry.bound.center()) + osg::Vec3d(512000.0, 3390000.0, 0.0);
        grid.overRectangle(at.x() - 1.0, at.y() - 1.0, at.x() + 1.0, at.y() + 1.0);
        grid.inPrism({at + osg::Vec3d(0.0, 0.0, 100.0), at, {0.0, 1.0, 0.0}, 50.0, 30.0});
        osg::ref_ptr<osg::KdTreeBuilder> builder = new osg::KdTreeBuilder;
        node->accept(*builder);
    }
    return 0;
}
