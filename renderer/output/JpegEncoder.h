#pragma once

#include <osg/Image>

#include <cstdio>

namespace vistrel {

// Encodes an 8-bit RGBA or RGB capture image as an upright baseline JPEG
// (alpha dropped) with `quality` limited to 1..100 and a JFIF density of
// `dpi` dots per inch. False on an unsupported image or a libjpeg or write error.
bool encodeJpeg(const osg::Image& image, int dpi, int quality, std::FILE* out);

}  // namespace vistrel
