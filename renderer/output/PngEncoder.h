#pragma once

#include <osg/Image>

#include <cstdio>

namespace vistrel {

// Encodes an 8-bit RGBA or RGB capture image as an upright 8-bit RGB PNG
// (alpha dropped) with a pHYs chunk of `dpi` dots per inch (none below 1).
// Tuned for speed: libdeflate's fastest level and a single cheap row filter;
// still lossless. False on an unsupported image or a write error.
bool encodePng(const osg::Image& image, int dpi, std::FILE* out);

}  // namespace vistrel
