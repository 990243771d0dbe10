// One 3D Tiles content file (b3dm and cmpt headers, glb chunks, the glTF
// inside): what it accepts must survive the bound computation and the k-d
// tree build that follow every read.
#include "model/OsgbSource.h"
#include "model/tiles3d/TileContent.h"

#include <osg/KdTree>
#include <osg/Notify>

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool ready = [] {
        osg::setNotifyLevel(osg::FATAL);
        vistrel::setupPluginPath();
        return true;
    }();
    (void)ready;
    vistrel::ContentContext context;
    // No external file is read; smaller bounds keep each run short.
    context.limits.maxDecodedBytes = std::size_t(64) << 20;
    context.limits.maxTextureSide = 2048;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const vistrel::DecodedContent content = vistrel::decodeTileContent(bytes, "/fuzz/tile.b3dm", context);
    if (content.node) {
        content.node->getBound();
        osg::ref_ptr<osg::KdTreeBuilder> builder = new osg::KdTreeBuilder;
        content.node->accept(*builder);
    }
    return 0;
}
