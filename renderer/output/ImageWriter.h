#pragma once

#include "core/ContentHash.h"
#include "core/RenderConfig.h"

#include <osg/Image>

#include <string>

namespace vistrel {

// `name` with an extension: unchanged when its file name has one, otherwise
// ".jpg" appended for output_format "jpeg" and "." + output_format for any other.
std::string resolveOutputPath(const std::string& name, const std::string& outputFormat);

// The format to write `path` in: its extension lower-cased ("jpeg" read as
// "jpg") when that is png, jpg or pdf; otherwise `outputFormat` ("jpeg" read as "jpg").
std::string effectiveFormat(const std::string& path, const std::string& outputFormat);

// The write step after a successful render. Completes the name, creates its
// folder, picks the format and writes a PDF or a raster file, logging "Wrote "
// or "Failed to write image: " with the path and the system's reason. Below
// output_dir no folder that is a symbolic link is written through: the write
// is refused with an ERROR naming the link. `image` is the renderer's
// capture image: RGBA, 8 bits per channel, bottom row first.
// Throws std::filesystem::filesystem_error ("create_directories") when the
// folder cannot be created; the caller reports it as a render failure.
// The written file's length and content hash go to `digest` when given.
bool writeImageFile(const osg::Image* image, const RenderConfig& config, const std::string& name,
                    FileDigest* digest = nullptr);

// Writes `image` to `path` as JPEG (format "jpg" or "jpeg", with jpg_quality)
// or PNG (any other format), recording output_dpi. When the encoder fails,
// OpenSceneGraph's image writer gets a last try. The file appears under `path`
// only when complete; an earlier file there survives a failure. The system's
// reason for a failure goes to `reason` when given, the written file's length
// and content hash to `digest`.
bool writeRasterImage(const osg::Image* image, const RenderConfig& config, const std::string& path,
                      const std::string& format, std::string* reason = nullptr, FileDigest* digest = nullptr);

}  // namespace vistrel
