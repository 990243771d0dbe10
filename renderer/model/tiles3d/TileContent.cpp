#include "model/tiles3d/TileContent.h"

#include "model/LoadedGraphCheck.h"
#include "model/tiles3d/GltfToOsg.h"

#include <nlohmann/json.hpp>

#include <osg/MatrixTransform>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace vistrel {

namespace {

// Older b3dm writers put the batch length where the table lengths are now:
// a value this large there is read as such a header.
constexpr std::uint32_t kLegacyHeaderMark = 570425344;

std::uint32_t wordAt(const unsigned char* at)
{
    std::uint32_t value = 0;
    std::memcpy(&value, at, 4);
    return value;
}

struct Reading {
    const ContentContext& context;
    DecodeBudget budget;
};

DecodedContent decodeAny(const unsigned char* data, std::size_t size, Reading& reading, int depth);

// RTC_CENTER of a b3dm feature table: three numbers in its JSON, or three
// floats of its binary part named by byteOffset.
bool rtcCentre(std::string json, const unsigned char* binary, std::size_t binarySize, osg::Vec3d& centre,
               std::string& reason)
{
    // Some writers pad the table with zero bytes rather than spaces.
    json.erase(json.find_last_not_of(std::string(" \t\r\n\0", 5)) + 1);
    if (json.empty()) {
        return true;
    }
    const nlohmann::json table = nlohmann::json::parse(json, nullptr, false);
    if (table.is_discarded() || !table.is_object()) {
        reason = "a b3dm whose feature table is not JSON";
        return false;
    }
    const auto found = table.find("RTC_CENTER");
    if (found == table.end()) {
        return true;
    }
    const nlohmann::json& value = *found;
    const bool inJson =
        value.is_array() && value.size() == 3 && value[0].is_number() && value[1].is_number() && value[2].is_number();
    const bool inBinary = value.is_object() && value.contains("byteOffset") &&
                          value.at("byteOffset").is_number_unsigned() &&
                          value.at("byteOffset").get<std::uint64_t>() <= binarySize &&
                          binarySize - value.at("byteOffset").get<std::uint64_t>() >= 3 * sizeof(float);
    if (inJson) {
        centre.set(value[0].get<double>(), value[1].get<double>(), value[2].get<double>());
    } else if (inBinary) {
        float values[3];
        std::memcpy(values, binary + value.at("byteOffset").get<std::uint64_t>(), sizeof(values));
        centre.set(values[0], values[1], values[2]);
    } else {
        reason = "a b3dm whose RTC_CENTER is damaged";
        return false;
    }
    if (!std::isfinite(centre.x()) || !std::isfinite(centre.y()) || !std::isfinite(centre.z())) {
        reason = "a b3dm whose RTC_CENTER is not finite";
        return false;
    }
    return true;
}

DecodedContent decodeB3dm(const unsigned char* data, std::size_t size, Reading& reading)
{
    DecodedContent result;
    if (size < 28) {
        result.reason = "a b3dm shorter than its header";
        return result;
    }
    std::uint64_t header = 28;
    std::uint64_t featureJson = wordAt(data + 12);
    std::uint64_t featureBinary = wordAt(data + 16);
    std::uint64_t batch = std::uint64_t(wordAt(data + 20)) + wordAt(data + 24);
    if (wordAt(data + 20) >= kLegacyHeaderMark) {
        header = 20;  // batch length, batch table length
        featureJson = featureBinary = 0;
        batch = wordAt(data + 16);
    } else if (wordAt(data + 24) >= kLegacyHeaderMark) {
        header = 24;  // batch table JSON and binary lengths, batch length
        featureJson = featureBinary = 0;
        batch = std::uint64_t(wordAt(data + 12)) + wordAt(data + 16);
    }
    const std::uint64_t length = wordAt(data + 8);
    const std::uint64_t glb = header + featureJson + featureBinary + batch;
    if (length > size || glb > length) {
        result.reason = "a b3dm whose tables are longer than the file";
        return result;
    }
    osg::Vec3d centre;
    if (featureJson > 0 && !rtcCentre(std::string(reinterpret_cast<const char*>(data + header), featureJson),
                                      data + header + featureJson, featureBinary, centre, result.reason)) {
        return result;
    }
    result = decodeGltf(data + glb, length - glb, true, reading.context, reading.budget);
    if (result.node && centre != osg::Vec3d()) {
        osg::ref_ptr<osg::MatrixTransform> moved = new osg::MatrixTransform(osg::Matrixd::translate(centre));
        moved->addChild(result.node.get());
        result.node = moved;
    }
    return result;
}

DecodedContent decodeCmpt(const unsigned char* data, std::size_t size, Reading& reading, int depth)
{
    DecodedContent result;
    if (size < 16 || wordAt(data + 8) > size || wordAt(data + 8) < 16) {
        result.reason = "a cmpt whose length is not that of the file";
        return result;
    }
    if (depth >= reading.context.limits.maxInnerContents) {
        result.reason = "a cmpt nested more than " + std::to_string(reading.context.limits.maxInnerContents) + " deep";
        return result;
    }
    const std::size_t length = wordAt(data + 8);
    const std::uint32_t tiles = wordAt(data + 12);
    osg::ref_ptr<osg::Group> group = new osg::Group;
    std::size_t at = 16;
    for (std::uint32_t i = 0; i < tiles; ++i) {
        const std::size_t inner = length - at >= 12 ? wordAt(data + at + 8) : 0;
        if (inner < 12 || inner > length - at) {
            result.reason = "a cmpt whose inner tile " + std::to_string(i + 1) + " is longer than the file";
            return result;
        }
        DecodedContent part = decodeAny(data + at, inner, reading, depth + 1);
        if (!part.node) {
            part.reason = "inner tile " + std::to_string(i + 1) + ": " + part.reason;
            return part;
        }
        group->addChild(part.node.get());
        at += inner;
    }
    result.node = group;
    return result;
}

DecodedContent notReadableKind(const char* kind, const char* what)
{
    DecodedContent result;
    result.notReadable.push_back(kind);
    result.reason = std::string(what) + ", which this build does not read";
    return result;
}

DecodedContent decodeAny(const unsigned char* data, std::size_t size, Reading& reading, int depth)
{
    const auto is = [&](const char* magic) { return size >= 4 && std::memcmp(data, magic, 4) == 0; };
    if (is("b3dm")) {
        return decodeB3dm(data, size, reading);
    }
    if (is("cmpt")) {
        return decodeCmpt(data, size, reading, depth);
    }
    if (is("glTF")) {
        return decodeGltf(data, size, true, reading.context, reading.budget);
    }
    if (is("i3dm")) {
        return notReadableKind("i3dm", "instanced models (i3dm)");
    }
    if (is("pnts")) {
        return notReadableKind("pnts", "a point cloud (pnts)");
    }
    std::size_t first = 0;
    while (first < size && std::isspace(data[first])) {
        ++first;
    }
    if (first < size && data[first] == '{') {
        return decodeGltf(data, size, false, reading.context, reading.budget);
    }
    DecodedContent result;
    result.reason = "neither b3dm, cmpt nor glTF content";
    return result;
}

}  // namespace

DecodedContent decodeTileContent(const std::string& bytes, const std::string& fileName, const ContentContext& context)
{
    DecodedContent result;
    if (bytes.size() > context.limits.maxFileBytes || bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
        result.reason = fileName + ": the file is larger than a tile may be";
        return result;
    }
    Reading reading{context, DecodeBudget(context.limits.maxDecodedBytes)};
    try {
        result = decodeAny(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), reading, 0);
    } catch (const std::exception& caught) {
        result = DecodedContent();
        result.reason = std::string("the content could not be read (") + caught.what() + ")";
    }
    std::string problem;
    if (result.node && !checkLoadedGraph(*result.node, problem)) {
        result.node = nullptr;
        result.reason = "content with " + problem;
    }
    if (!result.node) {
        result.reason = fileName + ": " + (result.reason.empty() ? "content that could not be read" : result.reason);
    }
    return result;
}

}  // namespace vistrel
