#pragma once

// The header of a .osgb file: its magic numbers, byte order, scene type,
// version and compressor, read before any of its body is handed to a reader.

#include <cstddef>
#include <string>

namespace vistrel {

// Tiles are a few MB; a larger file or inflated body is not one.
constexpr std::size_t kMaxTileBytes = std::size_t(512) << 20;

struct OsgbLayout {
    std::string problem;  // empty when the header can be read
    bool swapped = false;  // stored in the other byte order
    std::string compressor;  // "0" (plain), "zlib", ...
    std::size_t compressorAt = 0;  // offset of the compressor name's length
    std::size_t bodyAt = 0;  // offset of what follows the name
};

OsgbLayout readOsgbLayout(const std::string& bytes);

// Inflates a zlib or gzip body into `out`; false, with `problem`, when it is
// damaged, truncated or larger than kMaxTileBytes.
bool inflateOsgbBody(const char* data, std::size_t size, std::string& out, std::string& problem);

// Whether the bytes of a .osgb can be handed to the reader; false, with
// `reason`, when they cannot. Checks the header, the compressor and the
// first sizes it declares.
bool checkOsgbHeader(const std::string& bytes, std::string& reason);

}  // namespace vistrel
