#pragma once

#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"

#include <cstdint>
#include <map>
#include <string>

namespace vistrel {

// Decides where every image of a run is written. One object lives for the
// whole batch: it numbers "#" per folder text and keeps every path it has
// handed out, so no two images of the run ever get the same path. It only
// computes names; the writers create the folders.
class NameTemplate {
public:
    explicit NameTemplate(const RenderConfig& config);

    // Full UTF-8 path of the image of `frame` seen from `angle`, from
    // photo_name_template or, without one, <frame folder>/<angle>.<ext>.
    // A path handed out before gets "_2", "_3", ... before its extension.
    // Throws std::system_error when the text is not valid UTF-8.
    std::string buildPhotoPath(const PolygonFrame& frame, const std::string& angle);

    // Full UTF-8 path of the frame's own folder (used without a template and
    // listed in the report). Does not change the name tables.
    // Throws std::system_error when the text is not valid UTF-8.
    std::string buildFrameFolder(const PolygonFrame& frame) const;

    // The template with "<角度>", "<ANGLE>" and the placeholders replaced and
    // every "#" numbered within its folder text (this advances the counters).
    std::string expandTemplate(const PolygonFrame& frame, const std::string& angle);

private:
    // `path` itself when it is new in this run, otherwise the first free
    // <stem>_<n><ext> from the count of its repeats on; records the result.
    std::string claimPath(const std::string& path);

    std::string outputDir_;
    std::string outputFormat_;
    std::string fieldSeparator_;
    std::string template_;
    std::map<std::string, std::int32_t> folderCounters_;  // folder text as expanded -> last "#" number
    std::map<std::string, std::int32_t> pathUses_;  // folder + "|" + file name -> uses
};

// `text` with every <...> placeholder replaced by its value over
// `attributes` (see evaluatePlaceholder); a stray "<", ">" or "<>" stays.
std::string expandPlaceholders(const std::string& text, const std::map<std::string, std::string>& attributes);

// A picture's caption from caption_template: the name template's
// placeholders, with <名称> the frame's name where the layer has no such field.
std::string captionText(const std::string& captionTemplate, const PolygonFrame& frame, const std::string& angle);

// A path component the file system takes: "\ / : * ? " < > |" and bytes below
// 0x20 become "_"; bytes from 0x80 up stay. Empty text becomes "frame".
std::string sanitizePathComponent(const std::string& component);

}  // namespace vistrel
