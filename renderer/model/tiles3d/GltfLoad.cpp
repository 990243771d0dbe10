#include "model/tiles3d/GltfLoad.h"

#include "core/ByteOrder.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace vistrel {

namespace {

constexpr std::uint32_t kJsonChunk = 0x4E4F534A;
// tinygltf walks extensions and extras recursively: deeper JSON is refused
// before it can exhaust the stack.
constexpr int kMaxJsonDepth = 100;
constexpr std::uint32_t kBinChunk = 0x004E4942;

std::uint32_t readWord(const unsigned char* at)
{
    std::uint32_t value = 0;
    std::memcpy(&value, at, 4);
    return value;
}

void appendWord(std::string& out, std::uint32_t value)
{
    out.append(reinterpret_cast<const char*>(&value), 4);
}

// The JSON and binary chunks of a glb, checked against its bytes.
bool glbChunks(const unsigned char* data, std::size_t size, std::string& json, ByteSpan& bin, std::string& reason)
{
    if (size < 20 || std::memcmp(data, "glTF", 4) != 0) {
        reason = "a binary glTF without its header";
        return false;
    }
    const std::size_t length = readWord(data + 8);
    if (readWord(data + 4) != 2) {
        reason = "a binary glTF of version " + std::to_string(readWord(data + 4)) + " (only 2 is read)";
        return false;
    }
    if (length > size || length < 20) {
        reason = "a binary glTF whose length (" + std::to_string(length) + " bytes) is not that of its " +
                 std::to_string(size) + " bytes";
        return false;
    }
    const std::size_t jsonLength = readWord(data + 12);
    if (readWord(data + 16) != kJsonChunk || jsonLength > length - 20) {
        reason = "a binary glTF whose first chunk is not JSON or is longer than the file";
        return false;
    }
    json.assign(reinterpret_cast<const char*>(data + 20), jsonLength);
    const std::size_t next = 20 + jsonLength;
    if (length - next >= 8) {
        const std::size_t binLength = readWord(data + next);
        if (binLength > length - next - 8) {
            reason = "a binary glTF with a chunk longer than the file";
            return false;
        }
        if (readWord(data + next + 4) == kBinChunk) {
            bin = {data + next + 8, binLength};
        }
    }
    return true;
}

// Where tinygltf refuses what the compressions write: EXT_meshopt_compression's
// fallback buffers hold no bytes (each is given three), and the indices of a
// Draco-compressed primitive have no buffer view (they are dropped: the
// indices come from the Draco mesh).
void prepareForTinygltf(std::string& json)
{
    if (json.find("EXT_meshopt_compression") == std::string::npos &&
        json.find("KHR_draco_mesh_compression") == std::string::npos) {
        return;
    }
    nlohmann::json document = nlohmann::json::parse(json, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        return;
    }
    const auto hasExtension = [](const nlohmann::json& object, const char* name) {
        return object.is_object() && object.contains("extensions") && object["extensions"].is_object() &&
               object["extensions"].contains(name);
    };
    if (document.contains("buffers") && document["buffers"].is_array()) {
        for (nlohmann::json& buffer : document["buffers"]) {
            if (hasExtension(buffer, "EXT_meshopt_compression") && !buffer.contains("uri")) {
                buffer["uri"] = "data:application/octet-stream;base64,AAAA";
                buffer["byteLength"] = 3;
            }
        }
    }
    if (document.contains("meshes") && document["meshes"].is_array()) {
        for (nlohmann::json& mesh : document["meshes"]) {
            if (!mesh.is_object() || !mesh.contains("primitives") || !mesh["primitives"].is_array()) {
                continue;
            }
            for (nlohmann::json& primitive : mesh["primitives"]) {
                if (hasExtension(primitive, "KHR_draco_mesh_compression")) {
                    primitive.erase("indices");
                }
            }
        }
    }
    json = document.dump();
}

// A glb of the given chunks, each padded as tinygltf expects.
std::string canonicalGlb(std::string json, ByteSpan bin)
{
    json.append((4 - json.size() % 4) % 4, ' ');
    const std::size_t binPadded = bin.size + (4 - bin.size % 4) % 4;
    std::string out;
    out.reserve(28 + json.size() + binPadded);
    out.append("glTF");
    appendWord(out, 2);
    appendWord(out, std::uint32_t(20 + json.size() + (bin.size ? 8 + binPadded : 0)));
    appendWord(out, std::uint32_t(json.size()));
    appendWord(out, kJsonChunk);
    out.append(json);
    if (bin.size) {
        appendWord(out, std::uint32_t(binPadded));
        appendWord(out, kBinChunk);
        out.append(reinterpret_cast<const char*>(bin.data), bin.size);
        out.append(binPadded - bin.size, '\0');
    }
    return out;
}

// The deepest nesting of arrays and objects in a JSON text, strings skipped.
int jsonDepth(const std::string& text)
{
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

struct FolderAccess {
    std::filesystem::path folder;  // canonical; empty: no file may be read
    std::size_t maxBytes = 0;
    std::string problem;
};

// Whether `path` names a file inside the model's folder.
bool insideFolder(const std::string& path, FolderAccess& access)
{
    if (access.folder.empty() || path.find("://") != std::string::npos) {
        access.problem = "names a file by URL or outside the model, which is never read";
        return false;
    }
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    if (error) {
        return false;
    }
    const auto mismatch = std::mismatch(access.folder.begin(), access.folder.end(), resolved.begin(), resolved.end());
    if (mismatch.first != access.folder.end()) {
        access.problem = "names a file outside the model's folder, which is never read";
        return false;
    }
    return true;
}

bool fileExists(const std::string& path, void* user)
{
    auto& access = *static_cast<FolderAccess*>(user);
    if (path.rfind("./", 0) == 0) {
        return false;  // tinygltf's second try, in the working folder: never
    }
    std::error_code error;
    return insideFolder(path, access) && std::filesystem::is_regular_file(path, error);
}

std::string expandPath(const std::string& path, void*)
{
    return path;
}

bool readWholeFile(std::vector<unsigned char>* out, std::string* err, const std::string& path, void* user)
{
    auto& access = *static_cast<FolderAccess*>(user);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!insideFolder(path, access) || error || size > access.maxBytes) {
        if (err) {
            *err = error ? "cannot be read" : "is too large";
        }
        return false;
    }
    std::ifstream stream(path, std::ios::binary);
    out->resize(std::size_t(size));
    stream.read(reinterpret_cast<char*>(out->data()), std::streamsize(size));
    return bool(stream);
}

bool writeWholeFile(std::string*, const std::string&, const std::vector<unsigned char>&, void*)
{
    return false;
}

// Images stay encoded: they are decoded, with their size checked first, when
// a material uses them. One in a buffer view is read later from the checked
// view.
bool keepImageBytes(tinygltf::Image* image, const int, std::string*, std::string*, int, int, const unsigned char* bytes,
                    int size, void*)
{
    if (image->bufferView < 0 && bytes && size > 0) {
        image->image.assign(bytes, bytes + size);
    }
    return true;
}

}  // namespace

bool loadGltfModel(const unsigned char* data, std::size_t size, bool binary, const ContentContext& context,
                   tinygltf::Model& model, std::string& reason)
{
    std::string json;
    ByteSpan bin;
    if (binary) {
        if (!glbChunks(data, size, json, bin, reason)) {
            return false;
        }
    } else {
        json.assign(reinterpret_cast<const char*>(data), size);
    }
    if (jsonDepth(json) > kMaxJsonDepth) {
        reason = "a glTF whose JSON is nested more than " + std::to_string(kMaxJsonDepth) + " deep";
        return false;
    }
    prepareForTinygltf(json);
    FolderAccess access;
    std::string base;
    if (!context.folder.empty()) {
        // Absolute, so that tinygltf's first try is the only one that counts.
        std::error_code error;
        base = std::filesystem::weakly_canonical(std::filesystem::absolute(context.folder, error), error).string();
        const std::string& bound = context.modelFolder.empty() ? context.folder : context.modelFolder;
        access.folder = std::filesystem::weakly_canonical(std::filesystem::absolute(bound, error), error);
    }
    access.maxBytes = context.limits.maxFileBytes;
    tinygltf::TinyGLTF loader;
    loader.SetFsCallbacks({&fileExists, &expandPath, &readWholeFile, &writeWholeFile, &access});
    loader.SetImageLoader(&keepImageBytes, nullptr);
    std::string err;
    std::string warn;
    bool loaded = false;
    try {
        if (binary) {
            const std::string glb = canonicalGlb(std::move(json), bin);
            loaded = loader.LoadBinaryFromMemory(
                &model, &err, &warn, reinterpret_cast<const unsigned char*>(glb.data()), unsigned(glb.size()), base);
        } else {
            loaded = loader.LoadASCIIFromString(&model, &err, &warn, json.data(), unsigned(json.size()), base);
        }
    } catch (const std::exception& caught) {
        err = caught.what();
        loaded = false;
    }
    if (loaded && !access.problem.empty()) {
        reason = "a glTF that " + access.problem;
        return false;
    }
    if (!loaded) {
        const std::string what = access.problem.empty() ? err.substr(0, err.find('\n')) : access.problem;
        reason = "a glTF that does not parse (" + what.substr(0, 200) + ")";
    }
    return loaded;
}

}  // namespace vistrel
