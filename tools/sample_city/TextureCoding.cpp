#include "TextureCoding.h"

#include <osgDB/ReaderWriter>
#include <osgDB/Registry>
#include <webp/encode.h>

#include <cstring>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace samplecity {

namespace {

std::string encodePng(const osg::Image& image)
{
    // OSG's PNG writer flips the rows of a bottom-left image into the file's
    // top-first order.
    osgDB::ReaderWriter* writer = osgDB::Registry::instance()->getReaderWriterForExtension("png");
    std::ostringstream out;
    if (!writer || !writer->writeImage(image, out).success()) {
        throw std::runtime_error("cannot encode a texture as PNG");
    }
    return out.str();
}

std::string encodeWebp(const osg::Image& image)
{
    const int width = image.s();
    const int height = image.t();
    const int stride = width * 3;
    std::vector<unsigned char> topFirst(static_cast<std::size_t>(stride) * height);
    for (int row = 0; row < height; ++row) {
        std::memcpy(&topFirst[static_cast<std::size_t>(row) * stride], image.data(0, height - 1 - row), stride);
    }
    // Lossless at the fastest effort: the sample is written on every build.
    WebPConfig config;
    WebPPicture picture;
    if (!WebPConfigInit(&config) || !WebPConfigLosslessPreset(&config, 0) || !WebPPictureInit(&picture)) {
        throw std::runtime_error("cannot set up the WebP encoder");
    }
    picture.use_argb = 1;
    picture.width = width;
    picture.height = height;
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    const bool encoded = WebPPictureImportRGB(&picture, topFirst.data(), stride) && WebPEncode(&config, &picture);
    std::string bytes = encoded ? std::string(reinterpret_cast<const char*>(writer.mem), writer.size) : std::string();
    WebPMemoryWriterClear(&writer);
    WebPPictureFree(&picture);
    if (bytes.empty()) {
        throw std::runtime_error("cannot encode a texture as WebP");
    }
    return bytes;
}

}  // namespace

const char* mimeType(TextureFormat format)
{
    return format == TextureFormat::Png ? "image/png" : "image/webp";
}

const std::string& TextureCoder::encode(const osg::Image& image, TextureFormat format)
{
    if (image.getPixelFormat() != GL_RGB || image.getDataType() != GL_UNSIGNED_BYTE || image.r() != 1) {
        throw std::runtime_error("a texture that is not 8-bit RGB cannot be written to glTF here");
    }
    const auto key = std::make_pair(&image, format);
    auto found = encoded_.find(key);
    if (found == encoded_.end()) {
        found = encoded_.emplace(key, format == TextureFormat::Png ? encodePng(image) : encodeWebp(image)).first;
    }
    return found->second;
}

}  // namespace samplecity
