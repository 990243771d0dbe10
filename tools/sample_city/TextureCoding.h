#pragma once

// The city's textures as glTF files carry them: PNG or WebP bytes with the
// picture's top row first (the generated images hold their bottom row
// first, as OpenGL takes them). Each image is encoded once and reused by
// every variant that carries it.

#include <osg/Image>

#include <map>
#include <string>

namespace samplecity {

enum class TextureFormat { Png, Webp };

const char* mimeType(TextureFormat format);

class TextureCoder {
public:
    // The encoded bytes of an RGB image. Throws when it cannot be encoded.
    const std::string& encode(const osg::Image& image, TextureFormat format);

private:
    std::map<std::pair<const osg::Image*, TextureFormat>, std::string> encoded_;
};

}  // namespace samplecity
