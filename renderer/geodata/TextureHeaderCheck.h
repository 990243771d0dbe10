#pragma once

#include <cstddef>
#include <string>

namespace vistrel {

// Why an image file held in memory (a texture a tile embeds or names, with
// `extension`) cannot be handed to its decoder; empty when it can. Only JPEG
// and PNG of at most 16384 pixels a side pass; the size is read from the
// file's own header before anything is decoded.
std::string checkEmbeddedImage(const std::string& extension, const char* data, std::size_t size);

}  // namespace vistrel
