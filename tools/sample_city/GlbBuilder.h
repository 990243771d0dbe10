#pragma once

// A glTF model under construction, with its one binary buffer (the GLB's
// BIN chunk), and its writing as a .glb through tinygltf. Extensions on
// buffers and buffer views, which tinygltf does not write, are kept here
// and put into the file's JSON after it.

#include <nlohmann/json.hpp>
#include <tiny_gltf.h>

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace samplecity {

// A buffer that holds no bytes in the file, only a length and extensions.
struct ByteLessBuffer {
    std::size_t byteLength = 0;
    nlohmann::json extensions;
};

struct GlbBuilder {
    tinygltf::Model model;
    std::map<int, ByteLessBuffer> byteLessBuffers;  // by buffer index
    std::map<int, nlohmann::json> bufferViewExtensions;  // buffer view index -> its "extensions"

    GlbBuilder();

    // Appends bytes to the BIN chunk, 4-byte aligned; returns the offset.
    std::size_t append(const void* data, std::size_t size);
    // A buffer view over bytes appended to the BIN chunk.
    int addView(const void* data, std::size_t size, int target = 0, int stride = 0);
    // A buffer view of `buffer` (no bytes here).
    int addViewOf(int buffer, std::size_t offset, std::size_t size, int target, int stride);
    int addAccessor(int view, int componentType, int type, std::size_t count, bool normalized = false);
    void useExtension(const std::string& name, bool required);
};

// The whole .glb. Throws when tinygltf cannot write it.
std::string writeGlb(const GlbBuilder& builder);

// The JSON chunk of a .glb and its BIN chunk (empty when it has none).
// Throws on a file that is no GLB.
struct GlbChunks {
    nlohmann::json json;
    std::string bin;
};
GlbChunks splitGlb(const std::string& glb);
std::string joinGlb(const GlbChunks& chunks);

}  // namespace samplecity
