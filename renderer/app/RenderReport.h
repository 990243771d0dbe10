#pragma once

#include "core/ImageResult.h"
#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"
#include "output/NameTemplate.h"

#include <string>
#include <vector>

namespace vistrel {

// The report's file name: render_report.<extension>, or for one shard of a
// batch render_report.shard-<k>-of-<n>.<extension>.
std::string reportFileName(int shardIndex, int shardCount, const std::string& extension = "csv");

// Writes <output_dir>/<fileName> (render_report.csv by default): UTF-8 with a byte-order mark, LF line
// ends, one header line with Chinese titles and one row per frame with its
// identity, folder, extent, heights and, per configured angle (and for the
// range-line image after "top" when output_top_range is set), the image's
// file name, outcome, time, occlusion score, camera angle and remark; then,
// after all of those, the visible share of every configured angle and the
// frame's model share. A frame without heights measured on the model leaves
// its height cells empty, and so does a measure not taken.
// The file replaces an earlier report only once it is complete. When it
// cannot be written, "Failed to write CSV report: " with the path and the
// system's reason is logged (ERROR) and false returned: the run then fails.
bool writeRenderReport(const RenderConfig& config, const NameTemplate& names, const std::vector<PolygonFrame>& frames,
                       const ResultsTable& results, const std::string& fileName = "render_report.csv");

// The images of a report as its result cells show them: every configured
// angle of every frame (a repeated angle once per entry) and, with
// output_top_range, the outline image after each "top". The run's summary
// line and the contact sheet give these numbers too.
struct ImageCounts {
    int written = 0;
    int skipped = 0;
    int failed = 0;
    int notDone = 0;  // never reached: the run was stopped
    int hidden = 0;  // images with the remark kRemarkMostlyHidden
    int partlyOutside = 0;  // images with the remark kRemarkPartlyOutside
    int planned() const { return written + skipped + failed + notDone; }
};
ImageCounts countImages(const RenderConfig& config, const ResultsTable& results);

// RFC 4180 cell: enclosed in double quotes, with inner quotes doubled, when
// the text holds a comma, double quote, CR or LF; otherwise unchanged.
std::string csvField(const std::string& text);

// A text cell a spreadsheet shows as text: one that begins with "=", "+",
// "-" or "@" (a formula there) gets a leading TAB, like the number cells;
// then quoted as csvField does.
std::string csvTextField(const std::string& text);

// A TAB followed by the value with three decimals, so spreadsheets keep it as text.
std::string textNumberCell(double value);

// A share with three decimals, or empty for one not measured (below 0).
std::string shareCell(double share);

}  // namespace vistrel
