#pragma once

#include "core/ContentHash.h"
#include "core/RenderConfig.h"
#include "output/WriteResult.h"

#include <osg/Image>

#include <string>

namespace vistrel {

// `name` with an extension: unchanged when its file name has one, otherwise
// "." and the key of the format output_format names appended ("jpeg" gives
// ".jpg"; a value no format names is appended as it is).
std::string resolveOutputPath(const std::string& name, const std::string& outputFormat);

// The key of the format to write `path` in: the one its extension names
// (see outputFormatOfName), otherwise the one `outputFormat` names (see
// outputFormatKey).
std::string effectiveFormat(const std::string& path, const std::string& outputFormat);

// The write step after a successful render. Completes the name, makes its
// folder, picks the format and writes a PDF or a raster file; the result
// holds the completed path and, for a failure, the system's reason. Below
// output_dir no folder that is a symbolic link is written through: the write
// is refused (RefusedLink, the link's path as reason). A folder that cannot
// be made gives FolderFailed with the file-system error's text. `image` is
// the renderer's capture image: RGBA, 8 bits per channel, bottom row first.
// Nothing is logged; the written file's length and content hash go to the
// result's digest.
WriteResult writeImageFile(const osg::Image* image, const RenderConfig& config, const std::string& name);

// Writes `image` to `path` as JPEG (format "jpg" or "jpeg", with jpg_quality)
// or PNG (any other format), recording output_dpi. When the encoder fails,
// OpenSceneGraph's image writer gets a last try. The file appears under `path`
// only when complete; an earlier file there survives a failure. The system's
// reason for a failure goes to `reason` when given, the written file's length
// and content hash to `digest`.
bool writeRasterImage(const osg::Image* image, const RenderConfig& config, const std::string& path,
                      const std::string& format, std::string* reason = nullptr, FileDigest* digest = nullptr);

}  // namespace vistrel
