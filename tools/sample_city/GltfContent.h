#pragma once

// One level node of the city (a geode of textured triangle meshes) as the
// content of a 3D Tiles tile: a binary glTF with one node and one mesh, a
// primitive per drawable with its own material and texture. glTF is y-up:
// a vertex (east, north, up) is written (east, up, -north), which the
// 3D Tiles reader's y-up to z-up rotation turns back into the same vertex.

#include "TextureCoding.h"

#include <osg/Geode>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace samplecity {

enum class MeshCoding { Plain, Draco, Meshopt };

struct GlbOptions {
    MeshCoding mesh = MeshCoding::Plain;
    TextureFormat textures = TextureFormat::Png;
};

// One drawable in glTF terms.
struct MeshPart {
    std::vector<float> positions;  // x, y, z in glTF axes, relative to the node
    std::vector<float> texCoords;  // u, v; v runs down from the picture's top
    std::vector<float> colours;  // RGBA per vertex; empty where one colour covers the part
    std::array<float, 4> baseColour{1, 1, 1, 1};
    std::vector<std::uint32_t> indices;  // triangles
    const osg::Image* image = nullptr;
    int wrapS = 0;  // glTF sampler wrap modes
    int wrapT = 0;

    std::size_t vertexCount() const { return positions.size() / 3; }
};

// The geode's drawables. Throws on a drawable the city never makes.
std::vector<MeshPart> meshParts(const osg::Geode& geode);

// The geode as a .glb; `offset` (east, north, up metres) is the node's
// translation, added to every vertex. Throws on a failure to encode.
std::string geodeToGlb(const osg::Geode& geode, const std::array<double, 3>& offset, const GlbOptions& options,
                       TextureCoder& textures);

}  // namespace samplecity
