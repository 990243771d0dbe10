#pragma once

#include "core/ContentHash.h"

#include <osg/Image>
#include <osg/ref_ptr>

#include <string>

namespace vistrel {

// A copy of an 8-bit RGBA or RGB picture (rows bottom first, as captured)
// made at most `maxWidth` pixels wide by averaging the pixels each new pixel
// covers; the height keeps the picture's proportions. A picture that is
// narrow enough is copied as it is. Null for an unsupported picture.
osg::ref_ptr<osg::Image> shrinkPicture(const osg::Image& picture, int maxWidth);

// Writes a JPEG thumbnail at most `maxWidth` (320) pixels wide of `picture`
// to `path` under a temporary name, renamed into place once complete. False,
// with the system's reason in `reason`, when it cannot be written. The
// written file's length and content hash go to `digest` when given.
bool writeThumbnail(const osg::Image& picture, const std::string& path, std::string& reason, int maxWidth = 320,
                    FileDigest* digest = nullptr);

}  // namespace vistrel
