#pragma once

#include <osg/Node>
#include <osg/ref_ptr>

#include <cstddef>
#include <string>
#include <vector>

namespace vistrel {

// Bounds on what one tile's content may hold, so that a damaged or hostile
// file is refused before it can exhaust memory.
struct ContentLimits {
    std::size_t maxFileBytes = std::size_t(1) << 30;  // a content file, or one external buffer or image
    std::size_t maxDecodedBytes = std::size_t(2) << 30;  // all vertex, index and pixel data decoded from it
    unsigned maxTextureSide = 16384;
    int maxInnerContents = 64;  // nesting of cmpt inside cmpt
};

// How the tileset asks its content to be read.
struct ContentContext {
    std::string folder;  // where the content's external buffers and images are resolved (no URL is fetched)
    std::string modelFolder;  // no file outside it is ever read; empty: `folder`
    bool yUp = true;  // glTF y-up (3D Tiles' rule); false where the tileset says gltfUpAxis "Z"
    ContentLimits limits;
};

// What reading one content file gave: the geometry in the tile's own
// coordinates (z up, RTC_CENTER / CESIUM_RTC applied; the tile's transform
// not yet), or null with `reason` when the file is refused. `notReadable`
// names each feature of the file this build cannot read (an extension such
// as "KHR_texture_basisu", "image/ktx2", or a kind of content: "i3dm",
// "pnts"): the caller warns once per kind and counts the tile as refused. A
// cmpt is read whole or not at all: one inner tile refused refuses it.
struct DecodedContent {
    osg::ref_ptr<osg::Node> node;
    std::string reason;
    std::vector<std::string> notReadable;
};

// Reads b3dm, cmpt, glb or glTF JSON content (told apart by their bytes, not
// by the name), named `fileName` for messages.
DecodedContent decodeTileContent(const std::string& bytes, const std::string& fileName, const ContentContext& context);

}  // namespace vistrel
