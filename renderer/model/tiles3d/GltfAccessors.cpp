#include "model/tiles3d/GltfReading.h"

#include <algorithm>
#include <cstring>

namespace vistrel {

namespace {

bool within(std::size_t offset, std::size_t length, std::size_t size)
{
    return offset <= size && length <= size - offset;
}

// One component at `at` as a float, normalised where the accessor says so.
float component(const unsigned char* at, int type, bool normalized)
{
    switch (type) {
    case TINYGLTF_COMPONENT_TYPE_BYTE: {
        const auto value = static_cast<std::int8_t>(*at);
        return normalized ? std::max(value / 127.0f, -1.0f) : float(value);
    }
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return normalized ? *at / 255.0f : float(*at);
    case TINYGLTF_COMPONENT_TYPE_SHORT: {
        std::int16_t value = 0;
        std::memcpy(&value, at, 2);
        return normalized ? std::max(value / 32767.0f, -1.0f) : float(value);
    }
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
        std::uint16_t value = 0;
        std::memcpy(&value, at, 2);
        return normalized ? value / 65535.0f : float(value);
    }
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: {
        std::uint32_t value = 0;
        std::memcpy(&value, at, 4);
        return float(value);
    }
    default: {
        float value = 0.0f;
        std::memcpy(&value, at, 4);
        return value;
    }
    }
}

std::uint32_t indexAt(const unsigned char* at, int type)
{
    if (type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE) {
        return *at;
    }
    if (type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT) {
        std::uint16_t value = 0;
        std::memcpy(&value, at, 2);
        return value;
    }
    std::uint32_t value = 0;
    std::memcpy(&value, at, 4);
    return value;
}

// The bytes of `count` elements of `elementSize` from `offset` of a view,
// `stride` apart; null when they do not fit in it.
const unsigned char* elementsIn(const GltfData& data, int view, std::size_t offset, std::size_t count,
                                std::size_t elementSize, std::size_t stride)
{
    if (view < 0 || std::size_t(view) >= data.views.size() || !data.views[view].data || count == 0) {
        return nullptr;
    }
    const ByteSpan span = data.views[view];
    if (offset > span.size || stride < elementSize || (count - 1) > (span.size - offset) / stride) {
        return nullptr;
    }
    if (!within(offset + (count - 1) * stride, elementSize, span.size)) {
        return nullptr;
    }
    return span.data + offset;
}

// The sparse values of an accessor written over `out`.
bool applySparse(const GltfData& data, const tinygltf::Accessor& accessor, int components, std::vector<float>& out,
                 std::string& reason)
{
    const auto& sparse = accessor.sparse;
    const int indexType = sparse.indices.componentType;
    const int indexSize = tinygltf::GetComponentSizeInBytes(static_cast<std::uint32_t>(indexType));
    const int valueSize = tinygltf::GetComponentSizeInBytes(static_cast<std::uint32_t>(accessor.componentType));
    if (sparse.count <= 0 || sparse.indices.byteOffset < 0 || sparse.values.byteOffset < 0 || indexSize <= 0 ||
        indexType == TINYGLTF_COMPONENT_TYPE_BYTE || indexType == TINYGLTF_COMPONENT_TYPE_SHORT) {
        reason = "a sparse accessor that is damaged";
        return false;
    }
    const std::size_t count = std::size_t(sparse.count);
    const std::size_t elementSize = std::size_t(valueSize) * components;
    const unsigned char* indices =
        elementsIn(data, sparse.indices.bufferView, sparse.indices.byteOffset, count, indexSize, indexSize);
    const unsigned char* values =
        elementsIn(data, sparse.values.bufferView, sparse.values.byteOffset, count, elementSize, elementSize);
    if (!indices || !values) {
        reason = "a sparse accessor past its buffer";
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t target = indexAt(indices + i * indexSize, indexType);
        if (target >= accessor.count) {
            reason = "a sparse index past its accessor";
            return false;
        }
        for (int c = 0; c < components; ++c) {
            out[std::size_t(target) * components + c] = component(values + i * elementSize + std::size_t(c) * valueSize,
                                                                  accessor.componentType, accessor.normalized);
        }
    }
    return true;
}

}  // namespace

void spanBufferViews(GltfData& data)
{
    data.views.assign(data.model.bufferViews.size(), ByteSpan());
    for (std::size_t i = 0; i < data.model.bufferViews.size(); ++i) {
        const tinygltf::BufferView& view = data.model.bufferViews[i];
        if (view.buffer < 0 || std::size_t(view.buffer) >= data.model.buffers.size()) {
            continue;
        }
        const std::vector<unsigned char>& buffer = data.model.buffers[view.buffer].data;
        if (within(view.byteOffset, view.byteLength, buffer.size()) && view.byteLength > 0) {
            data.views[i] = {buffer.data() + view.byteOffset, view.byteLength};
        }
    }
}

bool readAccessorFloats(const GltfData& data, int index, int components, std::vector<float>& out, DecodeBudget& budget,
                        std::string& reason)
{
    if (index < 0 || std::size_t(index) >= data.model.accessors.size()) {
        reason = "an attribute without its accessor";
        return false;
    }
    const tinygltf::Accessor& accessor = data.model.accessors[index];
    const int size = tinygltf::GetComponentSizeInBytes(static_cast<std::uint32_t>(accessor.componentType));
    if (tinygltf::GetNumComponentsInType(static_cast<std::uint32_t>(accessor.type)) != components || size <= 0 ||
        accessor.componentType == TINYGLTF_COMPONENT_TYPE_DOUBLE ||
        accessor.componentType == TINYGLTF_COMPONENT_TYPE_INT) {
        reason = "an attribute accessor of the wrong type";
        return false;
    }
    if (!budget.take(accessor.count, sizeof(float) * components)) {
        reason = "more decoded data than a tile may hold";
        return false;
    }
    out.assign(accessor.count * components, 0.0f);
    const std::size_t elementSize = std::size_t(size) * components;
    if (accessor.bufferView >= 0 && accessor.count > 0) {
        const int viewStride = std::size_t(accessor.bufferView) < data.model.bufferViews.size()
                                   ? data.model.bufferViews[accessor.bufferView].byteStride
                                   : 0;
        const std::size_t stride = viewStride > 0 ? std::size_t(viewStride) : elementSize;
        const unsigned char* at =
            elementsIn(data, accessor.bufferView, accessor.byteOffset, accessor.count, elementSize, stride);
        if (!at) {
            reason = "an accessor past its buffer";
            return false;
        }
        for (std::size_t i = 0; i < accessor.count; ++i) {
            for (int c = 0; c < components; ++c) {
                out[i * components + c] =
                    component(at + i * stride + std::size_t(c) * size, accessor.componentType, accessor.normalized);
            }
        }
    }
    return !accessor.sparse.isSparse || applySparse(data, accessor, components, out, reason);
}

bool readAccessorIndices(const GltfData& data, int index, std::size_t vertexCount, std::vector<std::uint32_t>& out,
                         DecodeBudget& budget, std::string& reason)
{
    if (index < 0 || std::size_t(index) >= data.model.accessors.size()) {
        reason = "indices without their accessor";
        return false;
    }
    const tinygltf::Accessor& accessor = data.model.accessors[index];
    const int type = accessor.componentType;
    if (accessor.type != TINYGLTF_TYPE_SCALAR || accessor.sparse.isSparse ||
        (type != TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE && type != TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT &&
         type != TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT)) {
        reason = "an index accessor of the wrong type";
        return false;
    }
    if (!budget.take(accessor.count, sizeof(std::uint32_t))) {
        reason = "more decoded data than a tile may hold";
        return false;
    }
    const std::size_t size = std::size_t(tinygltf::GetComponentSizeInBytes(static_cast<std::uint32_t>(type)));
    const unsigned char* at = elementsIn(data, accessor.bufferView, accessor.byteOffset, accessor.count, size, size);
    if (!at && accessor.count > 0) {
        reason = "an index accessor past its buffer";
        return false;
    }
    out.resize(accessor.count);
    for (std::size_t i = 0; i < accessor.count; ++i) {
        out[i] = indexAt(at + i * size, type);
        if (out[i] >= vertexCount) {
            reason = "an index beyond its " + std::to_string(vertexCount) + " vertices";
            return false;
        }
    }
    return true;
}

double valueNumber(const tinygltf::Value& value, const char* key, double fallback)
{
    if (!value.IsObject() || !value.Has(key)) {
        return fallback;
    }
    const tinygltf::Value& number = value.Get(key);
    return number.IsNumber() || number.IsInt() ? number.GetNumberAsDouble() : fallback;
}

}  // namespace vistrel
