#pragma once

// What the glTF readers of this folder share: the parsed model with its
// buffer views checked against their buffers, and the accessor reading.

#include "model/tiles3d/ContentBudget.h"

#include <tiny_gltf.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vistrel {

struct ByteSpan {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
};

struct GltfData {
    tinygltf::Model model;
    // The bytes of each buffer view, inside its buffer; empty for a view
    // whose range lies outside it (an accessor on it is refused).
    std::vector<ByteSpan> views;
    // Owner of the bytes of views decoded from EXT_meshopt_compression.
    std::vector<std::vector<unsigned char>> decoded;
};

// Fills GltfData::views from the model's buffers.
void spanBufferViews(GltfData& data);

// An accessor's elements as floats, `components` a vertex (its type must have
// that many), with the normalisation and sparse values applied.
bool readAccessorFloats(const GltfData& data, int accessor, int components, std::vector<float>& out,
                        DecodeBudget& budget, std::string& reason);

// An index accessor (unsigned byte, short or int) whose indices all lie
// below `vertexCount`.
bool readAccessorIndices(const GltfData& data, int accessor, std::size_t vertexCount, std::vector<std::uint32_t>& out,
                         DecodeBudget& budget, std::string& reason);

// A number of a glTF extension object, or `fallback` where it is absent.
double valueNumber(const tinygltf::Value& value, const char* key, double fallback);

}  // namespace vistrel
