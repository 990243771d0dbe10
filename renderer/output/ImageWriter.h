#pragma once

#include "core/RenderConfig.h"
#include "output/WriteRequest.h"
#include "output/WriteResult.h"

#include <optional>
#include <string>
#include <string_view>

namespace vistrel {

// `name` with an extension: unchanged when its file name has one, otherwise
// "." and the key of the format output_format names appended ("jpeg" gives
// ".jpg"; a value no format names is appended as it is).
std::string resolveOutputPath(const std::string& name, const std::string& outputFormat);

// The key of the format to write `path` in: the one its extension names
// (see outputFormatOfName), otherwise the one `outputFormat` names (see
// outputFormatKey).
std::string effectiveFormat(const std::string& path, const std::string& outputFormat);

// The request to write `pixels` (the renderer's capture image: RGBA, 8 bits
// per channel, bottom row first) to the image file `name`: the completed
// path (resolveOutputPath), its format (effectiveFormat; null when no row
// names it) and of output_dpi, jpg_quality and `place` what that format's
// row says its writer needs.
WriteRequest writeRequest(const osg::Image* pixels, const RenderConfig& config, const std::string& name,
                          std::optional<PicturePlace> place = std::nullopt);

// The write step after a successful render: makes the folder of
// request.path and hands the request to its format's writer; the result
// holds the path and, for a failure, the system's reason. Below `outputDir`
// no folder that is a symbolic link is written through: the write is refused
// (RefusedLink, the link's path as reason). A folder that cannot be made
// gives FolderFailed with the file-system error's text. Nothing is logged;
// the written file's length and content hash go to the result's digest.
// Files beside the picture (its world file) are the caller's next step,
// once the picture is in place: see writeWorldFiles.
WriteResult writeImageFile(const WriteRequest& request, const std::string& outputDir);
// writeImageFile of writeRequest(image, config, name) below config.output_dir.
WriteResult writeImageFile(const osg::Image* image, const RenderConfig& config, const std::string& name);

// The writer registered for the format `key`; null when none is.
ImageWriterFunction writerFor(std::string_view key);

}  // namespace vistrel
