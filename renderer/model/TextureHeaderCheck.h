#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vistrel {

// Whether an image file held in memory (a texture a tile embeds or names,
// with `extension`) can be handed to its decoder; false, with `reason`, when
// it cannot. Only JPEG
// and PNG of at most 16384 pixels a side pass; the size is read from the
// file's own header before anything is decoded.
bool checkEmbeddedImage(const std::string& extension, const char* data, std::size_t size, std::string& reason);

// The pixel size a JPEG or PNG file held in memory declares in its header;
// false when the bytes are neither or their header is cut.
bool encodedImageSize(const unsigned char* data, std::size_t size, std::uint32_t& width, std::uint32_t& height);

}  // namespace vistrel
