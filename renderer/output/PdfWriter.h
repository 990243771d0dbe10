#pragma once

#include "core/ContentHash.h"

#include <osg/Image>

#include <string>

namespace vistrel {

// Writes the capture image (8-bit RGBA or RGB, bottom row first) as a one-page
// PDF whose page is the image's printed size at `outputDpi` (1 when below 1)
// and shows it upright over the whole page: catalog, page tree, page, an
// uncompressed RGB image XObject and its content stream, with an exact
// cross-reference table. The file appears under `path` only when every byte
// was written. False for a missing or empty image or any write error; the
// system's reason for a write error then goes to `reason` when given. The
// written file's length and content hash go to `digest` when given.
bool writePdf(const osg::Image* image, int outputDpi, const std::string& path, std::string* reason = nullptr,
              FileDigest* digest = nullptr);

// `text` with a backslash before every "\", "(" and ")".
std::string escapePdfString(const std::string& text);

}  // namespace vistrel
