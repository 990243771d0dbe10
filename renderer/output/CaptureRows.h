#pragma once

#include <osg/Image>

namespace vistrel {

// Row access to a capture image for the encoders. Capture images hold rows
// bottom first (OpenGL order); files want the top row first.

// Bytes per pixel of an 8-bit RGBA (4) or RGB (3) image; 0 for any other
// layout, which the encoders do not take.
int rgbPixelBytes(const osg::Image& image);

// Row `r` of the upright picture (r = 0 is the top row).
inline const unsigned char* uprightRow(const osg::Image& image, int r)
{
    return image.data(0, image.t() - 1 - r);
}

}  // namespace vistrel
