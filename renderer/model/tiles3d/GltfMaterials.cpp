#include "model/tiles3d/GltfMaterials.h"

#include "model/tiles3d/ContentImages.h"

namespace vistrel {

namespace {

osg::Texture::WrapMode wrapMode(int glTFWrap)
{
    switch (glTFWrap) {
    case TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE: return osg::Texture::CLAMP_TO_EDGE;
    case TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT: return osg::Texture::MIRROR;
    default: return osg::Texture::REPEAT;
    }
}

const tinygltf::Material* materialAt(const GltfData& data, int material)
{
    return material >= 0 && std::size_t(material) < data.model.materials.size() ? &data.model.materials[material]
                                                                                : nullptr;
}

}  // namespace

int MaterialStates::imageOf(const tinygltf::Texture& texture, std::string& reason,
                            std::vector<std::string>& notReadable) const
{
    // A WebP source comes before the fallback; a Basis Universal one this
    // build cannot decode.
    const auto webp = texture.extensions.find("EXT_texture_webp");
    if (webp != texture.extensions.end()) {
        const double source = valueNumber(webp->second, "source", -1.0);
        if (source >= 0.0) {
            return source < double(data_.model.images.size()) ? int(source) : -2;
        }
    }
    if (texture.source < 0 && texture.extensions.count("KHR_texture_basisu")) {
        notReadable.push_back("KHR_texture_basisu");
        reason = "a KTX2 texture (KHR_texture_basisu), which this build does not read";
        return -1;
    }
    if (texture.source < 0 || std::size_t(texture.source) >= data_.model.images.size()) {
        reason = "a texture without its image";
        return -1;
    }
    return texture.source;
}

osg::Image* MaterialStates::image(int index, std::string& reason, std::vector<std::string>& notReadable)
{
    const auto known = images_.find(index);
    if (known != images_.end()) {
        return known->second.get();
    }
    const tinygltf::Image& image = data_.model.images[index];
    ByteSpan bytes{image.image.data(), image.image.size()};
    if (image.bufferView >= 0) {
        bytes = std::size_t(image.bufferView) < data_.views.size() ? data_.views[image.bufferView] : ByteSpan();
    }
    if (!bytes.data) {
        reason = image.uri.empty() ? "a texture image past its buffer" : "a texture image that is missing";
        return nullptr;
    }
    ContentImage decoded = decodeContentImage(bytes.data, bytes.size, maxTextureSide_, budget_);
    if (!decoded.image) {
        reason = decoded.reason;
        if (!decoded.notReadable.empty()) {
            notReadable.push_back(decoded.notReadable);
        }
        return nullptr;
    }
    images_[index] = decoded.image;
    return decoded.image.get();
}

osg::Texture2D* MaterialStates::texture(int index, std::string& reason, std::vector<std::string>& notReadable)
{
    const auto known = textures_.find(index);
    if (known != textures_.end()) {
        return known->second.get();
    }
    if (index < 0 || std::size_t(index) >= data_.model.textures.size()) {
        reason = "a material naming a texture that is not there";
        return nullptr;
    }
    const tinygltf::Texture& source = data_.model.textures[index];
    const int imageIndex = imageOf(source, reason, notReadable);
    if (imageIndex < 0) {
        reason = reason.empty() ? "a texture without its image" : reason;
        return nullptr;
    }
    osg::Image* decoded = image(imageIndex, reason, notReadable);
    if (!decoded) {
        return nullptr;
    }
    osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D(decoded);
    const tinygltf::Sampler* sampler = source.sampler >= 0 && std::size_t(source.sampler) < data_.model.samplers.size()
                                           ? &data_.model.samplers[source.sampler]
                                           : nullptr;
    texture->setWrap(osg::Texture::WRAP_S, wrapMode(sampler ? sampler->wrapS : TINYGLTF_TEXTURE_WRAP_REPEAT));
    texture->setWrap(osg::Texture::WRAP_T, wrapMode(sampler ? sampler->wrapT : TINYGLTF_TEXTURE_WRAP_REPEAT));
    texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::LINEAR_MIPMAP_LINEAR);
    texture->setFilter(osg::Texture::MAG_FILTER, osg::Texture::LINEAR);
    textures_[index] = texture;
    return texture.get();
}

osg::StateSet* MaterialStates::state(int material, std::string& reason, std::vector<std::string>& notReadable)
{
    const auto known = states_.find(material);
    if (known != states_.end()) {
        return known->second.get();
    }
    osg::ref_ptr<osg::StateSet> state = new osg::StateSet;
    const tinygltf::Material* source = materialAt(data_, material);
    if (source && source->pbrMetallicRoughness.baseColorTexture.index >= 0) {
        osg::Texture2D* base = texture(source->pbrMetallicRoughness.baseColorTexture.index, reason, notReadable);
        if (!base) {
            return nullptr;
        }
        state->setTextureAttributeAndModes(0, base, osg::StateAttribute::ON);
    }
    // Like the OSGB tiles: the light is in the texture.
    state->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    states_[material] = state;
    return state.get();
}

osg::Vec4 MaterialStates::colour(int material) const
{
    const tinygltf::Material* source = materialAt(data_, material);
    if (!source || source->pbrMetallicRoughness.baseColorFactor.size() != 4) {
        return osg::Vec4(1.0f, 1.0f, 1.0f, 1.0f);
    }
    const std::vector<double>& factor = source->pbrMetallicRoughness.baseColorFactor;
    return osg::Vec4(float(factor[0]), float(factor[1]), float(factor[2]), float(factor[3]));
}

TextureMapping MaterialStates::mapping(int material) const
{
    TextureMapping mapping;
    const tinygltf::Material* source = materialAt(data_, material);
    if (!source) {
        return mapping;
    }
    const tinygltf::TextureInfo& info = source->pbrMetallicRoughness.baseColorTexture;
    mapping.texCoord = info.texCoord;
    const auto transform = info.extensions.find("KHR_texture_transform");
    if (transform == info.extensions.end()) {
        return mapping;
    }
    const tinygltf::Value& value = transform->second;
    const double texCoord = valueNumber(value, "texCoord", info.texCoord);
    mapping.texCoord = texCoord >= 0.0 && texCoord <= 64.0 ? int(texCoord) : -1;  // -1: none drawn
    mapping.rotation = valueNumber(value, "rotation", 0.0);
    for (int k = 0; k < 2; ++k) {
        if (value.Has("offset") && value.Get("offset").IsArray() && value.Get("offset").ArrayLen() == 2) {
            mapping.offset[k] = value.Get("offset").Get(k).GetNumberAsDouble();
        }
        if (value.Has("scale") && value.Get("scale").IsArray() && value.Get("scale").ArrayLen() == 2) {
            mapping.scale[k] = value.Get("scale").Get(k).GetNumberAsDouble();
        }
    }
    return mapping;
}

}  // namespace vistrel
