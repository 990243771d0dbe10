#include "output/PngWriter.h"

#include "output/PngEncoder.h"
#include "output/RasterFile.h"

namespace vistrel {

bool writePng(const WriteRequest& request, std::string& reason, FileDigest& digest)
{
    const auto encode = [&](const osg::Image& picture, std::FILE* out) { return encodePng(picture, request.dpi, out); };
    return writeRasterFile(request, encode, {"png", ""}, reason, digest);
}

}  // namespace vistrel
