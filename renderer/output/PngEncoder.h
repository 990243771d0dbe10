#pragma once

#include <osg/Image>

#include <cstdio>

namespace vistrel {

// Encodes an 8-bit RGBA or RGB capture image as an upright 8-bit RGB PNG
// (alpha dropped) with a pHYs chunk of `dpi` dots per inch. Tuned for speed:
// fast zlib level and a single cheap row filter; still lossless.
// False on an unsupported image or a libpng or write error.
bool encodePng(const osg::Image& image, int dpi, std::FILE* out);

}  // namespace vistrel
