#pragma once

#include "output/WriteRequest.h"

#include <cstdio>
#include <functional>
#include <string>

namespace vistrel {

// A raster encoder: writes the picture to the open stream; false when it
// does not take the picture's layout or the stream fails.
using RasterEncoder = std::function<bool(const osg::Image& picture, std::FILE* out)>;

// OpenSceneGraph's image plug-in that gets a last try when the encoder
// fails: the extension it is registered for and the option text it gets
// besides the registry's own ("JPEG_QUALITY 90"), or empty.
struct RasterPlugin {
    std::string extension;
    std::string options;
};

// The common part of the raster writers: writes request.pixels to
// request.path through `encode` as a staged file; when the encoder fails,
// `plugin` gets a last try with an RGB copy (its bytes staged the same way).
// A folder that takes no new file fails at once. Arguments and outcome as
// for an ImageWriterFunction.
bool writeRasterFile(const WriteRequest& request, const RasterEncoder& encode, const RasterPlugin& plugin,
                     std::string& reason, FileDigest& digest);

}  // namespace vistrel
