#pragma once

#include "core/RenderConfig.h"

#include <osg/Image>

#include <string>

namespace vistrel {

// Writes a rendered picture to the image file named `name` (see
// writeImageFile). A file-system exception, such as a folder that cannot be
// created, is logged as "Render failed: " and gives false like any other
// failed write.
bool saveImage(const osg::Image* image, const RenderConfig& config, const std::string& name);

// Writes the contact sheet's thumbnail of a written picture, making its
// folder. A thumbnail that cannot be written is a WARN: the sheet then links
// the image without a preview.
bool saveThumbnail(const osg::Image& picture, const std::string& path);

}  // namespace vistrel
