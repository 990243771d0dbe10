#include "model/TextureHeaderCheck.h"

#include "core/ByteOrder.h"

#include <cstdint>
#include <cstring>

namespace vistrel {

namespace {

// The largest texture side a tile may hold.
constexpr std::uint32_t kMaxTextureSide = 16384;

std::string checkSize(std::uint32_t width, std::uint32_t height)
{
    if (width > kMaxTextureSide || height > kMaxTextureSide) {
        return "embeds a texture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels, more than " +
               std::to_string(kMaxTextureSide) + " a side";
    }
    return std::string();
}

// The frame size of a JPEG stream; false when no frame header comes before
// the image data.
bool jpegSize(const unsigned char* data, std::size_t size, std::uint32_t& width, std::uint32_t& height)
{
    std::size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF) {
            return false;
        }
        const unsigned char marker = data[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) {
            return false;
        }
        const std::size_t length = readBigEndian(data + at + 2, 2);
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (length < 7 || at + 9 > size) {
                return false;
            }
            height = readBigEndian(data + at + 5, 2);
            width = readBigEndian(data + at + 7, 2);
            return true;
        }
        if (length < 2) {
            return false;
        }
        at += 2 + length;
    }
    return false;
}

}  // namespace

namespace {

std::string imageProblem(const std::string& extension, const char* data, std::size_t size)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    if (extension == "jpg" || extension == "jpeg") {
        // What is not a JPEG the decoder refuses by itself.
        if (size < 3 || bytes[0] != 0xFF || bytes[1] != 0xD8) {
            return std::string();
        }
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        if (!jpegSize(bytes, size, width, height)) {
            return "embeds a JPEG texture without a frame size";
        }
        return checkSize(width, height);
    }
    if (extension == "png") {
        static const unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        if (size < 8 || std::memcmp(bytes, signature, 8) != 0) {
            return std::string();
        }
        if (size < 24 || std::memcmp(bytes + 12, "IHDR", 4) != 0) {
            return "embeds a PNG texture without a header";
        }
        return checkSize(readBigEndian(bytes + 16, 4), readBigEndian(bytes + 20, 4));
    }
    if (extension.empty()) {
        // No decoder is chosen for a name without an extension.
        return std::string();
    }
    return "embeds a texture of type \"" + extension.substr(0, 16) + "\" that tiles do not use";
}

}  // namespace

bool checkEmbeddedImage(const std::string& extension, const char* data, std::size_t size, std::string& reason)
{
    reason = imageProblem(extension, data, size);
    return reason.empty();
}

bool encodedImageSize(const unsigned char* data, std::size_t size, std::uint32_t& width, std::uint32_t& height)
{
    static const unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 24 && std::memcmp(data, signature, 8) == 0 && std::memcmp(data + 12, "IHDR", 4) == 0) {
        width = readBigEndian(data + 16, 4);
        height = readBigEndian(data + 20, 4);
        return true;
    }
    return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && jpegSize(data, size, width, height);
}

}  // namespace vistrel
