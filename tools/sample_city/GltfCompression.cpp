#include "GltfCompression.h"

#include <draco/compression/decode.h>
#include <draco/compression/encode.h>
#include <draco/mesh/mesh.h>
#include <meshoptimizer.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>

namespace samplecity {

namespace {

constexpr int kFallbackBuffer = 1;

int addDracoAttribute(draco::Mesh& mesh, draco::GeometryAttribute::Type type, int components,
                      const std::vector<float>& values)
{
    const std::size_t count = values.size() / components;
    draco::GeometryAttribute attribute;
    attribute.Init(type, nullptr, static_cast<int8_t>(components), draco::DT_FLOAT32, false,
                   static_cast<int64_t>(sizeof(float) * components), 0);
    const int id = mesh.AddAttribute(attribute, true, static_cast<uint32_t>(count));
    draco::PointAttribute* stored = mesh.attribute(id);
    for (std::size_t k = 0; k < count; ++k) {
        stored->SetAttributeValue(draco::AttributeValueIndex(static_cast<uint32_t>(k)), &values[k * components]);
    }
    return id;
}

// The decoded mesh, to give the accessors the counts and bounds a reader
// will find, and to check that the quantization kept its promise.
std::unique_ptr<draco::Mesh> decodeDraco(const draco::EncoderBuffer& encoded)
{
    draco::DecoderBuffer buffer;
    buffer.Init(encoded.data(), encoded.size());
    draco::Decoder decoder;
    auto decoded = decoder.DecodeMeshFromBuffer(&buffer);
    if (!decoded.ok()) {
        throw std::runtime_error("a Draco mesh that does not decode: " + decoded.status().error_msg_string());
    }
    return std::move(decoded).value();
}

std::vector<float> decodedPositions(const draco::Mesh& decoded)
{
    const draco::PointAttribute* position = decoded.GetNamedAttribute(draco::GeometryAttribute::POSITION);
    std::vector<float> values;
    for (draco::PointIndex p(0); p < decoded.num_points(); ++p) {
        std::array<float, 3> v{};
        position->GetMappedValue(p, v.data());
        values.insert(values.end(), v.begin(), v.end());
    }
    return values;
}

// Draco drops the vertices no triangle uses (the ground's inside the
// hole): the bounds to keep are those of the vertices in use.
void checkDecodedBounds(const tinygltf::Accessor& decoded, const MeshPart& part)
{
    std::vector<float> used;
    for (std::uint32_t index : part.indices) {
        const float* vertex = &part.positions[std::size_t(index) * 3];
        used.insert(used.end(), vertex, vertex + 3);
    }
    tinygltf::Accessor original;
    setPositionBounds(original, used);
    for (int axis = 0; axis < 3; ++axis) {
        if (std::fabs(decoded.minValues[axis] - original.minValues[axis]) > 0.01 ||
            std::fabs(decoded.maxValues[axis] - original.maxValues[axis]) > 0.01) {
            throw std::runtime_error("Draco moved a mesh's bounds by more than 1 cm");
        }
    }
}

int addDracoAccessor(GlbBuilder& builder, int type, std::size_t count)
{
    return builder.addAccessor(-1, TINYGLTF_COMPONENT_TYPE_FLOAT, type, count);
}

std::int16_t quantizeSigned(double value)
{
    return static_cast<std::int16_t>(std::clamp(std::lround(value * 32767.0), -32767L, 32767L));
}

void useFallbackBuffer(GlbBuilder& builder)
{
    if (builder.model.buffers.size() > kFallbackBuffer) {
        return;
    }
    builder.model.buffers.emplace_back();
    builder.byteLessBuffers[kFallbackBuffer].extensions = {{"EXT_meshopt_compression", {{"fallback", true}}}};
    builder.useExtension("EXT_meshopt_compression", true);
    builder.useExtension("KHR_mesh_quantization", true);
}

// A buffer view of the fallback buffer whose bytes are the encoded stream
// in the BIN chunk.
int addMeshoptView(GlbBuilder& builder, const std::vector<unsigned char>& encoded, std::size_t count,
                   std::size_t stride, bool indices)
{
    useFallbackBuffer(builder);
    const std::size_t offset = builder.append(encoded.data(), encoded.size());
    ByteLessBuffer& fallback = builder.byteLessBuffers[kFallbackBuffer];
    const std::size_t fallbackOffset = (fallback.byteLength + 3) & ~std::size_t(3);
    fallback.byteLength = fallbackOffset + count * stride;
    const int view = builder.addViewOf(kFallbackBuffer, fallbackOffset, count * stride,
                                       indices ? TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER : TINYGLTF_TARGET_ARRAY_BUFFER,
                                       indices ? 0 : static_cast<int>(stride));
    builder.bufferViewExtensions[view] = {{"EXT_meshopt_compression",
                                           {{"buffer", 0},
                                            {"byteOffset", offset},
                                            {"byteLength", encoded.size()},
                                            {"byteStride", stride},
                                            {"count", count},
                                            {"mode", indices ? "TRIANGLES" : "ATTRIBUTES"}}}};
    return view;
}

template <typename T>
int addVertexStream(GlbBuilder& builder, const std::vector<T>& values, std::size_t count)
{
    const std::size_t stride = values.size() * sizeof(T) / count;
    std::vector<unsigned char> encoded(meshopt_encodeVertexBufferBound(count, stride));
    encoded.resize(meshopt_encodeVertexBuffer(encoded.data(), encoded.size(), values.data(), count, stride));
    if (encoded.empty()) {
        throw std::runtime_error("meshopt cannot encode a vertex stream");
    }
    return addMeshoptView(builder, encoded, count, stride, false);
}

int addIndexStream(GlbBuilder& builder, const MeshPart& part, tinygltf::Primitive& primitive)
{
    const bool narrow = part.vertexCount() <= std::numeric_limits<std::uint16_t>::max();
    const std::vector<unsigned int> indices(part.indices.begin(), part.indices.end());
    std::vector<unsigned char> encoded(meshopt_encodeIndexBufferBound(indices.size(), part.vertexCount()));
    encoded.resize(meshopt_encodeIndexBuffer(encoded.data(), encoded.size(), indices.data(), indices.size()));
    if (encoded.empty()) {
        throw std::runtime_error("meshopt cannot encode an index stream");
    }
    const int view = addMeshoptView(builder, encoded, indices.size(), narrow ? 2 : 4, true);
    primitive.indices = builder.addAccessor(
        view, narrow ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT : TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT,
        TINYGLTF_TYPE_SCALAR, indices.size());
    return view;
}

int addQuantizedPositions(GlbBuilder& builder, const MeshPart& part, const Quantization& quantization)
{
    std::vector<std::int16_t> values;
    std::array<int, 3> low{32767, 32767, 32767};
    std::array<int, 3> high{-32767, -32767, -32767};
    for (std::size_t v = 0; v < part.vertexCount(); ++v) {
        for (int axis = 0; axis < 3; ++axis) {
            const double relative =
                (part.positions[v * 3 + axis] - quantization.centre[axis]) / quantization.halfExtent;
            values.push_back(quantizeSigned(relative));
            low[axis] = std::min<int>(low[axis], values.back());
            high[axis] = std::max<int>(high[axis], values.back());
        }
        values.push_back(0);  // each vertex 4-byte aligned
    }
    const int view = addVertexStream(builder, values, part.vertexCount());
    const int accessor =
        builder.addAccessor(view, TINYGLTF_COMPONENT_TYPE_SHORT, TINYGLTF_TYPE_VEC3, part.vertexCount(), true);
    builder.model.accessors[accessor].minValues.assign(low.begin(), low.end());
    builder.model.accessors[accessor].maxValues.assign(high.begin(), high.end());
    return accessor;
}

// Texture coordinates as normalized 16-bit integers where they stay within
// the picture; a repeating texture's run past 1 and stays in floats.
int addTexCoords(GlbBuilder& builder, const MeshPart& part)
{
    const auto [low, high] = std::minmax_element(part.texCoords.begin(), part.texCoords.end());
    if (*low < 0.0f || *high > 1.0f) {
        const int view = addVertexStream(builder, part.texCoords, part.vertexCount());
        return builder.addAccessor(view, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC2, part.vertexCount());
    }
    std::vector<std::uint16_t> values;
    for (float t : part.texCoords) {
        values.push_back(static_cast<std::uint16_t>(std::lround(t * 65535.0)));
    }
    const int view = addVertexStream(builder, values, part.vertexCount());
    return builder.addAccessor(view, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, TINYGLTF_TYPE_VEC2, part.vertexCount(),
                               true);
}

int addColours(GlbBuilder& builder, const MeshPart& part)
{
    std::vector<std::uint8_t> values;
    for (float c : part.colours) {
        values.push_back(static_cast<std::uint8_t>(std::lround(std::clamp(c, 0.0f, 1.0f) * 255.0)));
    }
    const int view = addVertexStream(builder, values, part.vertexCount());
    return builder.addAccessor(view, TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE, TINYGLTF_TYPE_VEC4, part.vertexCount(),
                               true);
}

}  // namespace

void setPositionBounds(tinygltf::Accessor& accessor, const std::vector<float>& positions)
{
    accessor.minValues.assign(3, std::numeric_limits<double>::max());
    accessor.maxValues.assign(3, std::numeric_limits<double>::lowest());
    for (std::size_t k = 0; k < positions.size(); ++k) {
        accessor.minValues[k % 3] = std::min(accessor.minValues[k % 3], double(positions[k]));
        accessor.maxValues[k % 3] = std::max(accessor.maxValues[k % 3], double(positions[k]));
    }
}

void addDracoPrimitive(GlbBuilder& builder, const MeshPart& part, tinygltf::Primitive& primitive)
{
    draco::Mesh mesh;
    mesh.set_num_points(static_cast<uint32_t>(part.vertexCount()));
    const int position = addDracoAttribute(mesh, draco::GeometryAttribute::POSITION, 3, part.positions);
    const int texCoord = addDracoAttribute(mesh, draco::GeometryAttribute::TEX_COORD, 2, part.texCoords);
    const int colour =
        part.colours.empty() ? -1 : addDracoAttribute(mesh, draco::GeometryAttribute::COLOR, 4, part.colours);
    for (std::size_t k = 0; k + 2 < part.indices.size(); k += 3) {
        mesh.AddFace({draco::PointIndex(part.indices[k]), draco::PointIndex(part.indices[k + 1]),
                      draco::PointIndex(part.indices[k + 2])});
    }
    draco::Encoder encoder;
    encoder.SetAttributeQuantization(draco::GeometryAttribute::POSITION, 16);
    encoder.SetAttributeQuantization(draco::GeometryAttribute::TEX_COORD, 16);
    encoder.SetAttributeQuantization(draco::GeometryAttribute::COLOR, 10);
    draco::EncoderBuffer encoded;
    const draco::Status status = encoder.EncodeMeshToBuffer(mesh, &encoded);
    if (!status.ok()) {
        throw std::runtime_error("Draco cannot encode a mesh: " + status.error_msg_string());
    }
    const std::unique_ptr<draco::Mesh> decoded = decodeDraco(encoded);

    tinygltf::Value::Object attributes{
        {"POSITION", tinygltf::Value(static_cast<int>(mesh.attribute(position)->unique_id()))},
        {"TEXCOORD_0", tinygltf::Value(static_cast<int>(mesh.attribute(texCoord)->unique_id()))}};
    const std::size_t points = decoded->num_points();
    primitive.attributes["POSITION"] = addDracoAccessor(builder, TINYGLTF_TYPE_VEC3, points);
    tinygltf::Accessor& positions = builder.model.accessors[primitive.attributes["POSITION"]];
    setPositionBounds(positions, decodedPositions(*decoded));
    checkDecodedBounds(positions, part);
    primitive.attributes["TEXCOORD_0"] = addDracoAccessor(builder, TINYGLTF_TYPE_VEC2, points);
    if (colour >= 0) {
        attributes["COLOR_0"] = tinygltf::Value(static_cast<int>(mesh.attribute(colour)->unique_id()));
        primitive.attributes["COLOR_0"] = addDracoAccessor(builder, TINYGLTF_TYPE_VEC4, points);
    }
    primitive.indices = builder.addAccessor(-1, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT, TINYGLTF_TYPE_SCALAR,
                                            static_cast<std::size_t>(decoded->num_faces()) * 3);
    const int view = builder.addView(encoded.data(), encoded.size());
    primitive.extensions["KHR_draco_mesh_compression"] = tinygltf::Value(
        tinygltf::Value::Object{{"bufferView", tinygltf::Value(view)}, {"attributes", tinygltf::Value(attributes)}});
    builder.useExtension("KHR_draco_mesh_compression", true);
}

Quantization quantizationOf(const std::vector<MeshPart>& parts)
{
    std::array<double, 3> low{std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
                              std::numeric_limits<double>::max()};
    std::array<double, 3> high{std::numeric_limits<double>::lowest(), std::numeric_limits<double>::lowest(),
                               std::numeric_limits<double>::lowest()};
    for (const MeshPart& part : parts) {
        for (std::size_t k = 0; k < part.positions.size(); ++k) {
            low[k % 3] = std::min(low[k % 3], double(part.positions[k]));
            high[k % 3] = std::max(high[k % 3], double(part.positions[k]));
        }
    }
    Quantization quantization;
    quantization.halfExtent = 1e-3;
    for (int axis = 0; axis < 3; ++axis) {
        quantization.centre[axis] = (low[axis] + high[axis]) * 0.5;
        quantization.halfExtent = std::max(quantization.halfExtent, (high[axis] - low[axis]) * 0.5);
    }
    return quantization;
}

void addMeshoptPrimitive(GlbBuilder& builder, const MeshPart& part, const Quantization& quantization,
                         tinygltf::Primitive& primitive)
{
    primitive.attributes["POSITION"] = addQuantizedPositions(builder, part, quantization);
    primitive.attributes["TEXCOORD_0"] = addTexCoords(builder, part);
    if (!part.colours.empty()) {
        primitive.attributes["COLOR_0"] = addColours(builder, part);
    }
    addIndexStream(builder, part, primitive);
}

}  // namespace samplecity
