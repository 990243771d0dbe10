#pragma once

#include "model/tiles3d/GltfReading.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vistrel {

// Decodes every buffer view compressed with EXT_meshopt_compression in place
// of its (fallback) bytes; false, with `reason`, when one does not decode.
bool decodeMeshoptViews(GltfData& data, DecodeBudget& budget, std::string& reason);

// A primitive's mesh decoded from KHR_draco_mesh_compression: positions
// (three floats a point), texture coordinates (two, or none) and triangle
// indices.
struct DracoMesh {
    std::vector<float> positions;
    std::vector<float> texCoords;
    std::vector<std::uint32_t> indices;
};

bool decodeDracoPrimitive(const GltfData& data, const tinygltf::Value& extension, DracoMesh& mesh, DecodeBudget& budget,
                          std::string& reason);

}  // namespace vistrel
