#pragma once

#include "model/tiles3d/GltfReading.h"
#include "model/tiles3d/TileContent.h"

#include <cstddef>
#include <string>

namespace vistrel {

// Parses a glTF file with tinygltf: the chunks of a binary one checked
// against its bytes first, external buffers and images read only from inside
// `context.folder` (no URL is fetched), images kept undecoded. False, with
// `reason`, when the file is refused.
bool loadGltfModel(const unsigned char* data, std::size_t size, bool binary, const ContentContext& context,
                   tinygltf::Model& model, std::string& reason);

}  // namespace vistrel
