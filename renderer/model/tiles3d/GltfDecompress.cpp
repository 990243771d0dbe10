#include "model/tiles3d/GltfDecompress.h"

#include <draco/compression/decode.h>
#include <meshoptimizer.h>

namespace vistrel {

namespace {

struct MeshoptView {
    int buffer = -1;
    std::size_t offset = 0;
    std::size_t length = 0;
    std::size_t stride = 0;
    std::size_t count = 0;
    std::string mode;
    std::string filter;
};

std::string valueString(const tinygltf::Value& value, const char* key, const char* fallback)
{
    return value.Has(key) && value.Get(key).IsString() ? value.Get(key).Get<std::string>() : fallback;
}

bool readMeshoptView(const tinygltf::Value& extension, MeshoptView& view)
{
    const double buffer = valueNumber(extension, "buffer", -1.0);
    const double offset = valueNumber(extension, "byteOffset", 0.0);
    const double length = valueNumber(extension, "byteLength", -1.0);
    const double stride = valueNumber(extension, "byteStride", -1.0);
    const double count = valueNumber(extension, "count", -1.0);
    constexpr double kMax = 4294967295.0;
    if (!(buffer >= 0.0 && buffer <= kMax && offset >= 0.0 && offset <= kMax && length >= 0.0 && length <= kMax &&
          stride >= 1.0 && stride <= 256.0 && count >= 0.0 && count <= kMax)) {
        return false;
    }
    view = {int(buffer),
            std::size_t(offset),
            std::size_t(length),
            std::size_t(stride),
            std::size_t(count),
            valueString(extension, "mode", "ATTRIBUTES"),
            valueString(extension, "filter", "NONE")};
    return true;
}

// The decoder's own preconditions, checked here so that no assertion of the
// library is left to stop a damaged file.
bool decodeMeshopt(const MeshoptView& view, const unsigned char* source, std::vector<unsigned char>& out)
{
    const std::size_t count = view.count;
    const std::size_t stride = view.stride;
    if (view.mode == "ATTRIBUTES") {
        if (stride % 4 != 0 || meshopt_decodeVertexBuffer(out.data(), count, stride, source, view.length) != 0) {
            return false;
        }
        if (view.filter == "OCTAHEDRAL" && (stride == 4 || stride == 8)) {
            meshopt_decodeFilterOct(out.data(), count, stride);
        } else if (view.filter == "QUATERNION" && stride == 8) {
            meshopt_decodeFilterQuat(out.data(), count, stride);
        } else if (view.filter == "EXPONENTIAL") {
            meshopt_decodeFilterExp(out.data(), count, stride);
        } else if (view.filter != "NONE") {
            return false;
        }
        return true;
    }
    if (stride != 2 && stride != 4) {
        return false;
    }
    if (view.mode == "TRIANGLES") {
        return count % 3 == 0 && meshopt_decodeIndexBuffer(out.data(), count, stride, source, view.length) == 0;
    }
    return view.mode == "INDICES" && meshopt_decodeIndexSequence(out.data(), count, stride, source, view.length) == 0;
}

}  // namespace

bool decodeMeshoptViews(GltfData& data, DecodeBudget& budget, std::string& reason)
{
    for (std::size_t i = 0; i < data.model.bufferViews.size(); ++i) {
        const auto found = data.model.bufferViews[i].extensions.find("EXT_meshopt_compression");
        if (found == data.model.bufferViews[i].extensions.end()) {
            continue;
        }
        MeshoptView view;
        if (!readMeshoptView(found->second, view) || std::size_t(view.buffer) >= data.model.buffers.size()) {
            reason = "a meshopt-compressed buffer view that is damaged";
            return false;
        }
        const std::vector<unsigned char>& buffer = data.model.buffers[view.buffer].data;
        if (view.offset > buffer.size() || view.length > buffer.size() - view.offset) {
            reason = "a meshopt-compressed buffer view past its buffer";
            return false;
        }
        if (!budget.take(view.count, view.stride)) {
            reason = "more decoded data than a tile may hold";
            return false;
        }
        std::vector<unsigned char> out(view.count * view.stride);
        if (!out.empty() && !decodeMeshopt(view, buffer.data() + view.offset, out)) {
            reason = "a meshopt-compressed buffer view that does not decode";
            return false;
        }
        data.decoded.push_back(std::move(out));
        data.views[i] = {data.decoded.back().data(), data.decoded.back().size()};
    }
    return true;
}

namespace {

bool dracoAttribute(const draco::Mesh& mesh, const tinygltf::Value& attributes, const char* name, int components,
                    std::vector<float>& out)
{
    const double id = valueNumber(attributes, name, -1.0);
    if (id < 0.0 || id > 4294967295.0) {
        return false;
    }
    const draco::PointAttribute* attribute = mesh.GetAttributeByUniqueId(std::uint32_t(id));
    if (!attribute || attribute->num_components() < components) {
        return false;
    }
    out.resize(std::size_t(mesh.num_points()) * components);
    for (draco::PointIndex p(0); p < mesh.num_points(); ++p) {
        if (!attribute->ConvertValue<float>(attribute->mapped_index(p), std::int8_t(components),
                                            &out[std::size_t(p.value()) * components])) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool decodeDracoPrimitive(const GltfData& data, const tinygltf::Value& extension, DracoMesh& mesh, DecodeBudget& budget,
                          std::string& reason)
{
    const double view = valueNumber(extension, "bufferView", -1.0);
    if (view < 0.0 || view >= double(data.views.size()) || !data.views[std::size_t(view)].data) {
        reason = "a Draco-compressed mesh past its buffer";
        return false;
    }
    const ByteSpan span = data.views[std::size_t(view)];
    draco::DecoderBuffer buffer;
    buffer.Init(reinterpret_cast<const char*>(span.data), span.size);
    draco::Decoder decoder;
    auto decoded = decoder.DecodeMeshFromBuffer(&buffer);
    if (!decoded.ok() || !decoded.value()) {
        reason = "a Draco-compressed mesh that does not decode";
        return false;
    }
    const std::unique_ptr<draco::Mesh> decodedMesh = std::move(decoded).value();
    const std::size_t points = decodedMesh->num_points();
    const std::size_t faces = decodedMesh->num_faces();
    if (!budget.take(points, 5 * sizeof(float)) || !budget.take(faces, 3 * sizeof(std::uint32_t))) {
        reason = "more decoded data than a tile may hold";
        return false;
    }
    const tinygltf::Value& attributes = extension.Get("attributes");
    if (!dracoAttribute(*decodedMesh, attributes, "POSITION", 3, mesh.positions)) {
        reason = "a Draco-compressed mesh without positions";
        return false;
    }
    if (attributes.Has("TEXCOORD_0") && !dracoAttribute(*decodedMesh, attributes, "TEXCOORD_0", 2, mesh.texCoords)) {
        reason = "a Draco-compressed mesh with damaged texture coordinates";
        return false;
    }
    mesh.indices.resize(faces * 3);
    for (draco::FaceIndex f(0); f < decodedMesh->num_faces(); ++f) {
        const draco::Mesh::Face& face = decodedMesh->face(f);
        for (int k = 0; k < 3; ++k) {
            if (face[k].value() >= points) {
                reason = "a Draco-compressed mesh with an index beyond its vertices";
                return false;
            }
            mesh.indices[std::size_t(f.value()) * 3 + k] = face[k].value();
        }
    }
    return true;
}

}  // namespace vistrel
