#pragma once

#include "core/ImageResult.h"
#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"

#include <string>
#include <vector>

namespace vistrel {

// Where the contact sheet keeps the thumbnail of an image:
// <output_dir>/render_report_files/<frame index, 6 digits>_<angle>.jpg.
std::string thumbnailPath(const RenderConfig& config, const PolygonFrame& frame, const std::string& angle);

// Writes <output_dir>/<fileName>, the contact sheet of the run: a page that
// works from the file system alone (no scripts, fonts or styles from
// elsewhere), one row per frame with its name, bounds and heights, and per
// configured angle (and the outline image after "top" when output_top_range
// is set) a thumbnail linked to the full image with its result, score, view
// angle and remark; skipped and failed images show their reason instead. It
// is built from the same results as the CSV report. Thumbnails missing for
// written images (taken over from a run without the sheet) are made from the
// files. The page replaces an earlier one only once complete; when it
// cannot be written an ERROR is logged and false returned.
bool writeHtmlReport(const RenderConfig& config, const std::vector<PolygonFrame>& frames, const ResultsTable& results,
                     const std::string& fileName);

// Text for HTML: & < > " ' as character references.
std::string htmlText(const std::string& text);

// A path below the page's folder as a relative URL: "/" kept, bytes other
// than letters, digits and "-._~" percent-encoded.
std::string relativeUrl(const std::string& path, const std::string& base);

}  // namespace vistrel
