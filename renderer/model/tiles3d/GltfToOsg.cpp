#include "model/tiles3d/GltfToOsg.h"

#include "model/tiles3d/GltfDecompress.h"
#include "model/tiles3d/GltfLoad.h"
#include "model/tiles3d/GltfMaterials.h"

#include <osg/Geometry>
#include <osg/MatrixTransform>

#include <cmath>
#include <cstring>
#include <set>

namespace vistrel {

namespace {

// Extensions of a glTF file this reader follows; one the file requires that
// is not here refuses it.
const std::set<std::string>& readExtensions()
{
    static const std::set<std::string> names = {"KHR_draco_mesh_compression", "EXT_meshopt_compression",
                                                "KHR_mesh_quantization",      "KHR_texture_transform",
                                                "EXT_texture_webp",           "CESIUM_RTC",
                                                "KHR_materials_unlit"};
    return names;
}

constexpr int kMaxNodeDepth = 64;

// The vertex data of one primitive, read from its accessors or its Draco mesh.
struct PrimitiveData {
    std::vector<float> positions;
    std::vector<float> texCoords;
    std::vector<std::uint32_t> indices;
    bool indexed = false;
};

class GraphBuilder {
public:
    GraphBuilder(const GltfData& data, const ContentContext& context, DecodeBudget& budget)
        : data_(data), budget_(budget), materials_(data, context.limits.maxTextureSide, budget)
    {
    }

    osg::ref_ptr<osg::Group> scene(std::string& reason, std::vector<std::string>& notReadable);

private:
    osg::Node* node(int index, int depth);
    osg::Group* mesh(int index);
    osg::ref_ptr<osg::Geometry> primitive(const tinygltf::Primitive& source);
    bool readPrimitive(const tinygltf::Primitive& source, int texCoord, PrimitiveData& out);
    bool fail(const std::string& reason)
    {
        if (reason_.empty()) {
            reason_ = reason;
        }
        return false;
    }

    const GltfData& data_;
    DecodeBudget& budget_;
    MaterialStates materials_;
    std::map<int, osg::ref_ptr<osg::Node>> nodes_;
    std::map<int, osg::ref_ptr<osg::Group>> meshes_;
    std::set<int> onPath_;
    std::string reason_;
    std::vector<std::string> notReadable_;
};

bool GraphBuilder::readPrimitive(const tinygltf::Primitive& source, int texCoord, PrimitiveData& out)
{
    std::string reason;
    const auto draco = source.extensions.find("KHR_draco_mesh_compression");
    if (draco != source.extensions.end()) {
        DracoMesh mesh;
        if (!decodeDracoPrimitive(data_, draco->second, mesh, budget_, reason)) {
            return fail(reason);
        }
        out = {std::move(mesh.positions), std::move(mesh.texCoords), std::move(mesh.indices), true};
        return true;
    }
    const auto position = source.attributes.find("POSITION");
    if (position == source.attributes.end()) {
        return true;  // nothing to draw
    }
    if (!readAccessorFloats(data_, position->second, 3, out.positions, budget_, reason)) {
        return fail(reason);
    }
    const std::size_t vertices = out.positions.size() / 3;
    const auto uv = source.attributes.find("TEXCOORD_" + std::to_string(texCoord));
    if (uv != source.attributes.end()) {
        if (!readAccessorFloats(data_, uv->second, 2, out.texCoords, budget_, reason)) {
            return fail(reason);
        }
        if (out.texCoords.size() / 2 != vertices) {
            return fail("texture coordinates of another count than the vertices");
        }
    }
    out.indexed = source.indices >= 0;
    if (out.indexed && !readAccessorIndices(data_, source.indices, vertices, out.indices, budget_, reason)) {
        return fail(reason);
    }
    return true;
}

// glTF texture coordinates (origin top left, KHR_texture_transform applied)
// as OSG's (origin bottom left).
osg::ref_ptr<osg::Vec2Array> textureCoordinates(const std::vector<float>& uv, const TextureMapping& mapping)
{
    osg::ref_ptr<osg::Vec2Array> out = new osg::Vec2Array(uv.size() / 2);
    const double c = std::cos(mapping.rotation);
    const double s = std::sin(mapping.rotation);
    for (std::size_t i = 0; i < out->size(); ++i) {
        const double u = uv[2 * i] * mapping.scale[0];
        const double v = uv[2 * i + 1] * mapping.scale[1];
        // Offset * rotation * scale, the rotation counter-clockwise in (u, v).
        const double mappedU = c * u - s * v + mapping.offset[0];
        const double mappedV = s * u + c * v + mapping.offset[1];
        (*out)[i].set(float(mappedU), float(1.0 - mappedV));
    }
    return out;
}

osg::ref_ptr<osg::Geometry> GraphBuilder::primitive(const tinygltf::Primitive& source)
{
    const int mode = source.mode < 0 ? TINYGLTF_MODE_TRIANGLES : source.mode;
    if (mode != TINYGLTF_MODE_TRIANGLES && mode != TINYGLTF_MODE_TRIANGLE_STRIP && mode != TINYGLTF_MODE_TRIANGLE_FAN) {
        return nullptr;  // points and lines are not drawn
    }
    std::string reason;
    osg::StateSet* state = materials_.state(source.material, reason, notReadable_);
    if (!state) {
        fail(reason);
        return nullptr;
    }
    const TextureMapping mapping = materials_.mapping(source.material);
    PrimitiveData read;
    if (!readPrimitive(source, mapping.texCoord, read) || read.positions.empty()) {
        return nullptr;
    }
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array(read.positions.size() / 3);
    for (std::size_t i = 0; i < vertices->size(); ++i) {
        (*vertices)[i].set(read.positions[3 * i], read.positions[3 * i + 1], read.positions[3 * i + 2]);
    }
    geometry->setVertexArray(vertices.get());
    if (!read.texCoords.empty() && state->getTextureAttribute(0, osg::StateAttribute::TEXTURE)) {
        geometry->setTexCoordArray(0, textureCoordinates(read.texCoords, mapping).get(), osg::Array::BIND_PER_VERTEX);
    }
    osg::ref_ptr<osg::Vec4Array> colour = new osg::Vec4Array;
    colour->push_back(materials_.colour(source.material));
    geometry->setColorArray(colour.get(), osg::Array::BIND_OVERALL);
    if (read.indexed) {
        geometry->addPrimitiveSet(
            new osg::DrawElementsUInt(GLenum(mode), unsigned(read.indices.size()), read.indices.data()));
    } else {
        geometry->addPrimitiveSet(new osg::DrawArrays(GLenum(mode), 0, GLsizei(vertices->size())));
    }
    geometry->setStateSet(state);
    return geometry;
}

osg::Group* GraphBuilder::mesh(int index)
{
    const auto known = meshes_.find(index);
    if (known != meshes_.end()) {
        return known->second.get();
    }
    osg::ref_ptr<osg::Group> group = new osg::Group;
    for (const tinygltf::Primitive& source : data_.model.meshes[index].primitives) {
        osg::ref_ptr<osg::Geometry> geometry = primitive(source);
        if (!reason_.empty()) {
            return nullptr;
        }
        if (geometry) {
            group->addChild(geometry.get());
        }
    }
    meshes_[index] = group;
    return group.get();
}

osg::Matrixd nodeMatrix(const tinygltf::Node& node)
{
    if (node.matrix.size() == 16) {
        return osg::Matrixd(node.matrix.data());
    }
    osg::Matrixd matrix;
    if (node.scale.size() == 3) {
        matrix.postMultScale(osg::Vec3d(node.scale[0], node.scale[1], node.scale[2]));
    }
    if (node.rotation.size() == 4) {
        matrix.postMultRotate(osg::Quat(node.rotation[0], node.rotation[1], node.rotation[2], node.rotation[3]));
    }
    if (node.translation.size() == 3) {
        matrix.postMultTranslate(osg::Vec3d(node.translation[0], node.translation[1], node.translation[2]));
    }
    return matrix;
}

osg::Node* GraphBuilder::node(int index, int depth)
{
    if (index < 0 || std::size_t(index) >= data_.model.nodes.size() || depth > kMaxNodeDepth || onPath_.count(index)) {
        fail("a node hierarchy that is damaged (a missing node, a cycle, or too deep)");
        return nullptr;
    }
    const auto known = nodes_.find(index);
    if (known != nodes_.end()) {
        return known->second.get();
    }
    const tinygltf::Node& source = data_.model.nodes[index];
    osg::ref_ptr<osg::MatrixTransform> transform = new osg::MatrixTransform(nodeMatrix(source));
    if (source.mesh >= 0) {
        osg::Group* group = std::size_t(source.mesh) < data_.model.meshes.size() ? mesh(source.mesh) : nullptr;
        if (!group) {
            fail("a node naming a mesh that is not there");
            return nullptr;
        }
        transform->addChild(group);
    }
    onPath_.insert(index);
    for (const int child : source.children) {
        osg::Node* built = node(child, depth + 1);
        if (!built) {
            return nullptr;
        }
        transform->addChild(built);
    }
    onPath_.erase(index);
    nodes_[index] = transform;
    return transform.get();
}

// The root nodes of the file's scene.
std::vector<int> sceneRoots(const tinygltf::Model& model)
{
    std::vector<int> roots;
    const int chosen = model.defaultScene >= 0 ? model.defaultScene : 0;
    if (std::size_t(chosen) < model.scenes.size()) {
        roots = model.scenes[chosen].nodes;
    } else if (model.scenes.empty()) {
        // Without a scene, every node that is no other's child is drawn.
        std::vector<bool> isChild(model.nodes.size(), false);
        for (const tinygltf::Node& parent : model.nodes) {
            for (const int child : parent.children) {
                if (child >= 0 && std::size_t(child) < isChild.size()) {
                    isChild[child] = true;
                }
            }
        }
        for (std::size_t i = 0; i < isChild.size(); ++i) {
            if (!isChild[i]) {
                roots.push_back(int(i));
            }
        }
    }
    return roots;
}

osg::ref_ptr<osg::Group> GraphBuilder::scene(std::string& reason, std::vector<std::string>& notReadable)
{
    osg::ref_ptr<osg::Group> root = new osg::Group;
    const std::vector<int> roots = sceneRoots(data_.model);
    for (const int index : roots) {
        osg::Node* built = node(index, 0);
        if (!built) {
            break;
        }
        root->addChild(built);
    }
    reason = reason_;
    notReadable = notReadable_;
    return reason.empty() ? root : nullptr;
}

// Names the required extensions this reader does not follow.
bool requiredExtensionsRead(const tinygltf::Model& model, DecodedContent& result)
{
    for (const std::string& name : model.extensionsRequired) {
        if (!readExtensions().count(name)) {
            result.notReadable.push_back(name);
        }
    }
    if (result.notReadable.empty()) {
        return true;
    }
    result.reason = "a glTF that requires ";
    for (std::size_t i = 0; i < result.notReadable.size(); ++i) {
        result.reason += (i ? ", " : "") + result.notReadable[i];
    }
    result.reason += ", which this build does not read";
    return false;
}

// The file's y-up frame turned z-up, CESIUM_RTC's centre added.
osg::Matrixd tileFrame(const tinygltf::Model& model, bool yUp)
{
    osg::Matrixd matrix;
    if (yUp) {
        matrix.set(1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, -1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0);
    }
    const auto rtc = model.extensions.find("CESIUM_RTC");
    if (rtc != model.extensions.end() && rtc->second.Has("center")) {
        const tinygltf::Value& centre = rtc->second.Get("center");
        if (centre.IsArray() && centre.ArrayLen() == 3) {
            matrix.postMultTranslate(osg::Vec3d(centre.Get(0).GetNumberAsDouble(), centre.Get(1).GetNumberAsDouble(),
                                                centre.Get(2).GetNumberAsDouble()));
        }
    }
    return matrix;
}

}  // namespace

DecodedContent decodeGltf(const unsigned char* bytes, std::size_t size, bool binary, const ContentContext& context,
                          DecodeBudget& budget)
{
    DecodedContent result;
    GltfData data;
    if (!loadGltfModel(bytes, size, binary, context, data.model, result.reason) ||
        !requiredExtensionsRead(data.model, result)) {
        return result;
    }
    spanBufferViews(data);
    if (!decodeMeshoptViews(data, budget, result.reason)) {
        return result;
    }
    GraphBuilder builder(data, context, budget);
    osg::ref_ptr<osg::Group> scene = builder.scene(result.reason, result.notReadable);
    if (!scene) {
        return result;
    }
    osg::ref_ptr<osg::MatrixTransform> frame = new osg::MatrixTransform(tileFrame(data.model, context.yUp));
    frame->addChild(scene.get());
    result.node = frame;
    return result;
}

}  // namespace vistrel
