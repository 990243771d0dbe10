#include "GlbBuilder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace samplecity {

namespace {

constexpr std::uint32_t kGlbMagic = 0x46546C67;  // "glTF"
constexpr std::uint32_t kJsonChunk = 0x4E4F534A;
constexpr std::uint32_t kBinChunk = 0x004E4942;

std::uint32_t readU32(const std::string& bytes, std::size_t at)
{
    if (at + 4 > bytes.size()) {
        throw std::runtime_error("a GLB shorter than its header says");
    }
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

void writeU32(std::string& bytes, std::uint32_t value)
{
    bytes.append(reinterpret_cast<const char*>(&value), 4);
}

}  // namespace

GlbBuilder::GlbBuilder()
{
    model.asset.version = "2.0";
    model.asset.generator = "make_sample_city";
    model.buffers.emplace_back();
}

std::size_t GlbBuilder::append(const void* data, std::size_t size)
{
    std::vector<unsigned char>& bin = model.buffers[0].data;
    bin.resize((bin.size() + 3) & ~std::size_t(3), 0);
    const std::size_t offset = bin.size();
    const auto* bytes = static_cast<const unsigned char*>(data);
    bin.insert(bin.end(), bytes, bytes + size);
    return offset;
}

int GlbBuilder::addView(const void* data, std::size_t size, int target, int stride)
{
    return addViewOf(0, append(data, size), size, target, stride);
}

int GlbBuilder::addViewOf(int buffer, std::size_t offset, std::size_t size, int target, int stride)
{
    tinygltf::BufferView view;
    view.buffer = buffer;
    view.byteOffset = offset;
    view.byteLength = size;
    view.byteStride = static_cast<std::size_t>(stride);
    view.target = target;
    model.bufferViews.push_back(view);
    return static_cast<int>(model.bufferViews.size() - 1);
}

int GlbBuilder::addAccessor(int view, int componentType, int type, std::size_t count, bool normalized)
{
    tinygltf::Accessor accessor;
    accessor.bufferView = view;
    accessor.componentType = componentType;
    accessor.type = type;
    accessor.count = count;
    accessor.normalized = normalized;
    model.accessors.push_back(accessor);
    return static_cast<int>(model.accessors.size() - 1);
}

void GlbBuilder::useExtension(const std::string& name, bool required)
{
    auto add = [&name](std::vector<std::string>& list) {
        if (std::find(list.begin(), list.end(), name) == list.end()) {
            list.push_back(name);
        }
    };
    add(model.extensionsUsed);
    if (required) {
        add(model.extensionsRequired);
    }
}

std::string writeGlb(const GlbBuilder& builder)
{
    tinygltf::TinyGLTF writer;
    std::ostringstream out;
    if (!writer.WriteGltfSceneToStream(&builder.model, out, false, true)) {
        throw std::runtime_error("tinygltf cannot write the glTF model");
    }
    if (builder.byteLessBuffers.empty() && builder.bufferViewExtensions.empty()) {
        return out.str();
    }
    GlbChunks chunks = splitGlb(out.str());
    for (const auto& [index, byteLess] : builder.byteLessBuffers) {
        // tinygltf wrote an empty data URI for it.
        chunks.json.at("buffers").at(index) = {{"byteLength", byteLess.byteLength},
                                               {"extensions", byteLess.extensions}};
    }
    for (const auto& [index, extensions] : builder.bufferViewExtensions) {
        chunks.json.at("bufferViews").at(index)["extensions"] = extensions;
    }
    return joinGlb(chunks);
}

GlbChunks splitGlb(const std::string& glb)
{
    if (readU32(glb, 0) != kGlbMagic || readU32(glb, 4) != 2 || readU32(glb, 8) != glb.size()) {
        throw std::runtime_error("not a GLB of version 2");
    }
    GlbChunks chunks;
    std::size_t at = 12;
    while (at < glb.size()) {
        const std::uint32_t length = readU32(glb, at);
        const std::uint32_t type = readU32(glb, at + 4);
        if (at + 8 + length > glb.size()) {
            throw std::runtime_error("a GLB chunk longer than the file");
        }
        const std::string body = glb.substr(at + 8, length);
        if (type == kJsonChunk) {
            chunks.json = nlohmann::json::parse(body);
        } else if (type == kBinChunk) {
            chunks.bin = body;
        }
        at += 8 + length;
    }
    return chunks;
}

std::string joinGlb(const GlbChunks& chunks)
{
    std::string json = chunks.json.dump();
    json.resize((json.size() + 3) & ~std::size_t(3), ' ');
    std::string bin = chunks.bin;
    bin.resize((bin.size() + 3) & ~std::size_t(3), '\0');
    const std::size_t total = 12 + 8 + json.size() + (bin.empty() ? 0 : 8 + bin.size());
    std::string glb;
    writeU32(glb, kGlbMagic);
    writeU32(glb, 2);
    writeU32(glb, static_cast<std::uint32_t>(total));
    writeU32(glb, static_cast<std::uint32_t>(json.size()));
    writeU32(glb, kJsonChunk);
    glb += json;
    if (!bin.empty()) {
        writeU32(glb, static_cast<std::uint32_t>(bin.size()));
        writeU32(glb, kBinChunk);
        glb += bin;
    }
    return glb;
}

}  // namespace samplecity
