#pragma once

#include "core/ContentHash.h"
#include "core/RenderConfig.h"

#include <osg/Image>

#include <string>

namespace vistrel {

// Writes a rendered picture to the image file named `name` (see
// writeImageFile). A file-system exception, such as a folder that cannot be
// created, is logged as "Render failed: " and gives false like any other
// failed write. The written file's length and content hash go to `digest`.
bool saveImage(const osg::Image* image, const RenderConfig& config, const std::string& name,
               FileDigest* digest = nullptr);

// Writes the contact sheet's thumbnail of a written picture, making its
// folder below `outputDir` without passing a symbolic link. A thumbnail that
// cannot be written is a WARN: the sheet then links the image without a
// preview. A symbolic link on the way is refused with an ERROR and sets
// `refused`.
bool saveThumbnail(const osg::Image& picture, const std::string& path, const std::string& outputDir,
                   bool* refused = nullptr);

}  // namespace vistrel
