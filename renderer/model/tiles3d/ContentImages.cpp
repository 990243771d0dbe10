#include "model/tiles3d/ContentImages.h"

#include "model/TextureHeaderCheck.h"

#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <webp/decode.h>

#include <cstdint>
#include <cstring>
#include <sstream>

namespace vistrel {

namespace {

enum class ImageKind { Png, Jpeg, Webp, Ktx2, Unknown };

ImageKind imageKind(const unsigned char* data, std::size_t size)
{
    static const unsigned char png[] = {0x89, 'P', 'N', 'G'};
    static const unsigned char ktx2[] = {0xAB, 'K', 'T', 'X', ' ', '2', '0', 0xBB};
    if (size >= 4 && std::memcmp(data, png, 4) == 0) {
        return ImageKind::Png;
    }
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) {
        return ImageKind::Jpeg;
    }
    if (size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0) {
        return ImageKind::Webp;
    }
    if (size >= 8 && std::memcmp(data, ktx2, 8) == 0) {
        return ImageKind::Ktx2;
    }
    return ImageKind::Unknown;
}

std::string sizeProblem(std::uint32_t width, std::uint32_t height, unsigned maxSide, DecodeBudget& budget)
{
    if (width == 0 || height == 0) {
        return "a texture image without size";
    }
    if (width > maxSide || height > maxSide) {
        return "a texture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels, more than " +
               std::to_string(maxSide) + " a side";
    }
    // Four bytes a pixel at most (16-bit PNG channels: eight).
    if (!budget.take(std::size_t(width) * height, 8)) {
        return "more decoded data than a tile may hold";
    }
    return std::string();
}

ContentImage readThroughOsg(const unsigned char* data, std::size_t size, const char* extension)
{
    ContentImage result;
    osgDB::ReaderWriter* reader = osgDB::Registry::instance()->getReaderWriterForExtension(extension);
    if (!reader) {
        result.reason = std::string("no image reader for ") + extension;
        return result;
    }
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
    osgDB::ReaderWriter::ReadResult read = reader->readImage(stream);
    result.image = read.getImage();
    if (!result.image || !result.image->data()) {
        result.image = nullptr;
        result.reason = std::string("a ") + extension + " texture that does not decode";
    }
    return result;
}

ContentImage readWebp(const unsigned char* data, std::size_t size, int width, int height)
{
    ContentImage result;
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(data, size, &features) != VP8_STATUS_OK) {
        result.reason = "a WebP texture that does not decode";
        return result;
    }
    osg::ref_ptr<osg::Image> image = new osg::Image;
    const GLenum format = features.has_alpha ? GL_RGBA : GL_RGB;
    image->allocateImage(width, height, 1, format, GL_UNSIGNED_BYTE);
    const int stride = int(image->getRowSizeInBytes());
    const std::size_t bytes = image->getTotalSizeInBytes();
    const uint8_t* done = features.has_alpha ? WebPDecodeRGBAInto(data, size, image->data(), bytes, stride)
                                             : WebPDecodeRGBInto(data, size, image->data(), bytes, stride);
    if (!done) {
        result.reason = "a WebP texture that does not decode";
        return result;
    }
    image->setInternalTextureFormat(format);
    image->flipVertical();
    result.image = image;
    return result;
}

}  // namespace

ContentImage decodeContentImage(const unsigned char* data, std::size_t size, unsigned maxSide, DecodeBudget& budget)
{
    ContentImage result;
    const ImageKind kind = data ? imageKind(data, size) : ImageKind::Unknown;
    if (kind == ImageKind::Ktx2) {
        result.notReadable = "image/ktx2";
        result.reason = "a KTX2 texture, which this build does not read";
        return result;
    }
    if (kind == ImageKind::Unknown) {
        result.reason = "a texture image of unknown type";
        return result;
    }
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (kind == ImageKind::Webp) {
        int w = 0;
        int h = 0;
        if (!WebPGetInfo(data, size, &w, &h)) {
            result.reason = "a WebP texture without a readable header";
            return result;
        }
        width = std::uint32_t(w);
        height = std::uint32_t(h);
    } else if (!encodedImageSize(data, size, width, height)) {
        result.reason = "a texture image without a readable header";
        return result;
    }
    result.reason = sizeProblem(width, height, maxSide, budget);
    if (!result.reason.empty()) {
        return result;
    }
    if (kind == ImageKind::Webp) {
        return readWebp(data, size, int(width), int(height));
    }
    result = readThroughOsg(data, size, kind == ImageKind::Png ? "png" : "jpeg");
    if (result.image && (unsigned(result.image->s()) > maxSide || unsigned(result.image->t()) > maxSide)) {
        result.image = nullptr;
        result.reason = "a texture larger than its header says";
    }
    return result;
}

}  // namespace vistrel
