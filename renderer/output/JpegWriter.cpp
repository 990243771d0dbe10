#include "output/JpegWriter.h"

#include "output/JpegEncoder.h"
#include "output/RasterFile.h"

#include <algorithm>

namespace vistrel {

bool writeJpeg(const WriteRequest& request, std::string& reason, FileDigest& digest)
{
    const auto encode = [&](const osg::Image& picture, std::FILE* out) {
        return encodeJpeg(picture, request.dpi, request.quality, out);
    };
    const RasterPlugin plugin{"jpg", "JPEG_QUALITY " + std::to_string(std::clamp(request.quality, 1, 100))};
    return writeRasterFile(request, encode, plugin, reason, digest);
}

}  // namespace vistrel
