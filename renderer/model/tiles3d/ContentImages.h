#pragma once

#include "model/tiles3d/ContentBudget.h"

#include <osg/Image>
#include <osg/ref_ptr>

#include <cstddef>
#include <string>

namespace vistrel {

// One texture image of a content file, decoded. The rows lie bottom first
// (OSG's order, as its own image readers give them), so a glTF texture
// coordinate v samples at t = 1 - v. Null with `reason` when the bytes are
// damaged or too large; `notReadable` names a format this build does not
// decode ("image/ktx2").
struct ContentImage {
    osg::ref_ptr<osg::Image> image;
    std::string reason;
    std::string notReadable;
};

// JPEG and PNG through OSG's own readers, WebP through libwebp; the size is
// read from the header and checked against `maxSide` and the budget before
// anything is decoded.
ContentImage decodeContentImage(const unsigned char* data, std::size_t size, unsigned maxSide, DecodeBudget& budget);

}  // namespace vistrel
