#pragma once

#include "model/tiles3d/ContentBudget.h"
#include "model/tiles3d/TileContent.h"

#include <cstddef>

namespace vistrel {

// Reads a glTF file (binary when `binary`, else its JSON) held in memory into
// an OSG graph in the tile's z-up coordinates, CESIUM_RTC applied. The
// reason of a refused file names what is wrong, not the file.
DecodedContent decodeGltf(const unsigned char* data, std::size_t size, bool binary, const ContentContext& context,
                          DecodeBudget& budget);

}  // namespace vistrel
