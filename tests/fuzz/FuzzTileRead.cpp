// The checked .osgb read of the tile callback; what it accepts must survive
// the bound computation and the k-d tree build that follow every read.
#include "geodata/SceneLoader.h"
#include "geodata/TileReadCallback.h"

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
        node->getBound();
        osg::ref_ptr<osg::KdTreeBuilder> builder = new osg::KdTreeBuilder;
        node->accept(*builder);
    }
    return 0;
}
