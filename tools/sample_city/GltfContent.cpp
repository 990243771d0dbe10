#include "GltfContent.h"

#include "GlbBuilder.h"
#include "GltfCompression.h"

#include <osg/Geometry>
#include <osg/Texture2D>

#include <algorithm>
#include <limits>
#include <map>
#include <stdexcept>

namespace samplecity {

namespace {

int gltfWrap(osg::Texture::WrapMode mode)
{
    switch (mode) {
    case osg::Texture::REPEAT: return TINYGLTF_TEXTURE_WRAP_REPEAT;
    case osg::Texture::MIRROR: return TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT;
    default: return TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE;
    }
}

void takeTexture(const osg::Geometry& geometry, MeshPart& part)
{
    const osg::StateSet* state = geometry.getStateSet();
    const auto* texture =
        state ? dynamic_cast<const osg::Texture2D*>(state->getTextureAttribute(0, osg::StateAttribute::TEXTURE))
              : nullptr;
    if (!texture || !texture->getImage()) {
        throw std::runtime_error("a drawable without its texture");
    }
    part.image = texture->getImage();
    part.wrapS = gltfWrap(texture->getWrap(osg::Texture::WRAP_S));
    part.wrapT = gltfWrap(texture->getWrap(osg::Texture::WRAP_T));
}

void takeColours(const osg::Geometry& geometry, MeshPart& part)
{
    const auto* colours = dynamic_cast<const osg::Vec4Array*>(geometry.getColorArray());
    if (!colours || colours->empty()) {
        return;
    }
    if (geometry.getColorBinding() == osg::Geometry::BIND_OVERALL) {
        const osg::Vec4& c = colours->front();
        part.baseColour = {c.r(), c.g(), c.b(), c.a()};
        return;
    }
    for (const osg::Vec4& c : *colours) {
        part.colours.insert(part.colours.end(), {c.r(), c.g(), c.b(), c.a()});
    }
}

MeshPart meshPart(const osg::Geometry& geometry)
{
    const auto* vertices = dynamic_cast<const osg::Vec3Array*>(geometry.getVertexArray());
    const auto* texCoords = dynamic_cast<const osg::Vec2Array*>(geometry.getTexCoordArray(0));
    if (!vertices || !texCoords || texCoords->size() != vertices->size()) {
        throw std::runtime_error("a drawable without positions and texture coordinates for each vertex");
    }
    MeshPart part;
    for (const osg::Vec3& v : *vertices) {
        part.positions.insert(part.positions.end(), {v.x(), v.z(), -v.y()});
    }
    for (const osg::Vec2& t : *texCoords) {
        // OpenGL's t runs up from the image's first row, which the PNG and
        // WebP files put at the bottom.
        part.texCoords.insert(part.texCoords.end(), {t.x(), 1.0f - t.y()});
    }
    takeColours(geometry, part);
    for (unsigned k = 0; k < geometry.getNumPrimitiveSets(); ++k) {
        const auto* triangles = dynamic_cast<const osg::DrawElementsUInt*>(geometry.getPrimitiveSet(k));
        if (!triangles || triangles->getMode() != GL_TRIANGLES) {
            throw std::runtime_error("a drawable that is not an indexed triangle list");
        }
        part.indices.insert(part.indices.end(), triangles->begin(), triangles->end());
    }
    takeTexture(geometry, part);
    return part;
}

// Materials as photographed meshes want them: the texture's colours, no
// light of their own (KHR_materials_unlit), one image per material.
int addMaterial(GlbBuilder& builder, const MeshPart& part, const GlbOptions& options, TextureCoder& coder)
{
    tinygltf::Model& model = builder.model;
    const std::string& bytes = coder.encode(*part.image, options.textures);
    tinygltf::Image image;
    image.bufferView = builder.addView(bytes.data(), bytes.size());
    image.mimeType = mimeType(options.textures);
    model.images.push_back(image);

    tinygltf::Sampler sampler;
    sampler.minFilter = TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
    sampler.magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
    sampler.wrapS = part.wrapS;
    sampler.wrapT = part.wrapT;
    auto known = std::find_if(model.samplers.begin(), model.samplers.end(), [&](const tinygltf::Sampler& s) {
        return s.wrapS == sampler.wrapS && s.wrapT == sampler.wrapT;
    });
    if (known == model.samplers.end()) {
        model.samplers.push_back(sampler);
        known = model.samplers.end() - 1;
    }

    tinygltf::Texture texture;
    texture.sampler = static_cast<int>(known - model.samplers.begin());
    const int imageIndex = static_cast<int>(model.images.size() - 1);
    if (options.textures == TextureFormat::Webp) {
        texture.extensions["EXT_texture_webp"] =
            tinygltf::Value(tinygltf::Value::Object{{"source", tinygltf::Value(imageIndex)}});
        builder.useExtension("EXT_texture_webp", true);
    } else {
        texture.source = imageIndex;
    }
    model.textures.push_back(texture);

    tinygltf::Material material;
    material.pbrMetallicRoughness.baseColorTexture.index = static_cast<int>(model.textures.size() - 1);
    material.pbrMetallicRoughness.baseColorFactor.assign(part.baseColour.begin(), part.baseColour.end());
    material.pbrMetallicRoughness.metallicFactor = 0.0;
    material.pbrMetallicRoughness.roughnessFactor = 1.0;
    material.extensions["KHR_materials_unlit"] = tinygltf::Value(tinygltf::Value::Object{});
    builder.useExtension("KHR_materials_unlit", false);
    model.materials.push_back(material);
    return static_cast<int>(model.materials.size() - 1);
}

template <typename T>
int addFloats(GlbBuilder& builder, const std::vector<T>& values, int type, int components)
{
    const int view = builder.addView(values.data(), values.size() * sizeof(T), TINYGLTF_TARGET_ARRAY_BUFFER);
    return builder.addAccessor(view, TINYGLTF_COMPONENT_TYPE_FLOAT, type, values.size() / components);
}

void addPlainPrimitive(GlbBuilder& builder, const MeshPart& part, tinygltf::Primitive& primitive)
{
    const int position = addFloats(builder, part.positions, TINYGLTF_TYPE_VEC3, 3);
    setPositionBounds(builder.model.accessors[position], part.positions);
    primitive.attributes["POSITION"] = position;
    primitive.attributes["TEXCOORD_0"] = addFloats(builder, part.texCoords, TINYGLTF_TYPE_VEC2, 2);
    if (!part.colours.empty()) {
        primitive.attributes["COLOR_0"] = addFloats(builder, part.colours, TINYGLTF_TYPE_VEC4, 4);
    }
    if (part.vertexCount() <= std::numeric_limits<std::uint16_t>::max()) {
        const std::vector<std::uint16_t> indices(part.indices.begin(), part.indices.end());
        const int view = builder.addView(indices.data(), indices.size() * 2, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
        primitive.indices =
            builder.addAccessor(view, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, TINYGLTF_TYPE_SCALAR, indices.size());
    } else {
        const int view =
            builder.addView(part.indices.data(), part.indices.size() * 4, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
        primitive.indices =
            builder.addAccessor(view, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT, TINYGLTF_TYPE_SCALAR, part.indices.size());
    }
}

}  // namespace

std::vector<MeshPart> meshParts(const osg::Geode& geode)
{
    std::vector<MeshPart> parts;
    for (unsigned i = 0; i < geode.getNumDrawables(); ++i) {
        const osg::Geometry* geometry = geode.getDrawable(i)->asGeometry();
        if (!geometry) {
            throw std::runtime_error("a drawable that is no geometry");
        }
        parts.push_back(meshPart(*geometry));
    }
    return parts;
}

std::string geodeToGlb(const osg::Geode& geode, const std::array<double, 3>& offset, const GlbOptions& options,
                       TextureCoder& textures)
{
    const std::vector<MeshPart> parts = meshParts(geode);
    GlbBuilder builder;
    tinygltf::Node node;
    node.mesh = 0;
    node.translation = {offset[0], offset[2], -offset[1]};
    Quantization quantization;
    if (options.mesh == MeshCoding::Meshopt) {
        quantization = quantizationOf(parts);
        for (int axis = 0; axis < 3; ++axis) {
            node.translation[axis] += quantization.centre[axis];
        }
        node.scale.assign(3, quantization.halfExtent);
    }
    tinygltf::Mesh mesh;
    for (const MeshPart& part : parts) {
        tinygltf::Primitive primitive;
        primitive.mode = TINYGLTF_MODE_TRIANGLES;
        primitive.material = addMaterial(builder, part, options, textures);
        if (options.mesh == MeshCoding::Draco) {
            addDracoPrimitive(builder, part, primitive);
        } else if (options.mesh == MeshCoding::Meshopt) {
            addMeshoptPrimitive(builder, part, quantization, primitive);
        } else {
            addPlainPrimitive(builder, part, primitive);
        }
        mesh.primitives.push_back(primitive);
    }
    builder.model.meshes.push_back(mesh);
    builder.model.nodes.push_back(node);
    tinygltf::Scene scene;
    scene.nodes.push_back(0);
    builder.model.scenes.push_back(scene);
    builder.model.defaultScene = 0;
    return writeGlb(builder);
}

}  // namespace samplecity
