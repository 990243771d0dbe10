#pragma once

#include <osg/Image>

#include <cstdlib>

// Pixel access to a renderer's capture image (RGB or RGBA, bottom row first) with
// coordinates counted from the top-left corner, as in the written files.
namespace testsupport {

struct Rgba {
    int r, g, b, a;
};

inline Rgba pixelFromTop(const osg::Image& image, int x, int yFromTop)
{
    const unsigned char* p = image.data(x, image.t() - 1 - yFromTop);
    return {p[0], p[1], p[2], image.getPixelFormat() == GL_RGBA ? p[3] : 255};
}

inline bool isColour(const Rgba& c, int r, int g, int b, int tolerance = 2)
{
    return std::abs(c.r - r) <= tolerance && std::abs(c.g - g) <= tolerance && std::abs(c.b - b) <= tolerance;
}

inline bool isRed(const Rgba& c)
{
    return c.r > 200 && c.g < 60 && c.b < 60;
}

}  // namespace testsupport
