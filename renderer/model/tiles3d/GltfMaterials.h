#pragma once

#include "model/tiles3d/GltfReading.h"

#include <osg/StateSet>
#include <osg/Texture2D>
#include <osg/Vec4>
#include <osg/ref_ptr>

#include <map>
#include <string>
#include <vector>

namespace vistrel {

// How a material maps its base colour texture: the texture coordinate set
// and the KHR_texture_transform of it (identity without one).
struct TextureMapping {
    int texCoord = 0;
    double offset[2] = {0.0, 0.0};
    double rotation = 0.0;
    double scale[2] = {1.0, 1.0};
};

// The render state of a glTF file's materials, made once per material and
// once per texture: the geometries that use them share them.
class MaterialStates {
public:
    MaterialStates(const GltfData& data, unsigned maxTextureSide, DecodeBudget& budget)
        : data_(data), maxTextureSide_(maxTextureSide), budget_(budget)
    {
    }

    // The state of `material` (-1: the default one); null with `reason`
    // when its texture cannot be read, `notReadable` naming the format.
    osg::StateSet* state(int material, std::string& reason, std::vector<std::string>& notReadable);

    // The base colour factor, drawn as the geometry's overall colour.
    osg::Vec4 colour(int material) const;

    TextureMapping mapping(int material) const;

private:
    osg::Texture2D* texture(int index, std::string& reason, std::vector<std::string>& notReadable);
    int imageOf(const tinygltf::Texture& texture, std::string& reason, std::vector<std::string>& notReadable) const;
    osg::Image* image(int index, std::string& reason, std::vector<std::string>& notReadable);

    const GltfData& data_;
    unsigned maxTextureSide_;
    DecodeBudget& budget_;
    std::map<int, osg::ref_ptr<osg::StateSet>> states_;
    std::map<int, osg::ref_ptr<osg::Texture2D>> textures_;
    std::map<int, osg::ref_ptr<osg::Image>> images_;  // decoded once for all textures that use it
};

}  // namespace vistrel
