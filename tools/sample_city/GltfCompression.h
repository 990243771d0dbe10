#pragma once

// The compressed encodings of the city's meshes in glTF: Draco
// (KHR_draco_mesh_compression) and meshopt (EXT_meshopt_compression over
// attributes quantized as KHR_mesh_quantization allows).

#include "GlbBuilder.h"
#include "GltfContent.h"

#include <array>
#include <vector>

namespace samplecity {

// POSITION's min and max from x, y, z triples.
void setPositionBounds(tinygltf::Accessor& accessor, const std::vector<float>& positions);

// The part as one Draco-compressed primitive: positions within 1 mm
// (16 bits over the part), texture coordinates 16 bits, colours 10 bits.
void addDracoPrimitive(GlbBuilder& builder, const MeshPart& part, tinygltf::Primitive& primitive);

// Positions of a whole mesh as normalized 16-bit integers: the node puts
// them back with translation `centre` and scale `halfExtent` (glTF axes).
struct Quantization {
    std::array<double, 3> centre{};
    double halfExtent = 1.0;
};
Quantization quantizationOf(const std::vector<MeshPart>& parts);

// The part as a primitive whose streams are meshopt-encoded into the BIN
// chunk, over a fallback buffer that holds no bytes.
void addMeshoptPrimitive(GlbBuilder& builder, const MeshPart& part, const Quantization& quantization,
                         tinygltf::Primitive& primitive);

}  // namespace samplecity
