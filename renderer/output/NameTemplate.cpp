#include "output/NameTemplate.h"

#include "core/CameraAngle.h"
#include "core/OutputFormats.h"
#include "output/TemplatePlaceholder.h"
#include "output/Utf8Text.h"

#include <filesystem>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

constexpr const char* kSeparators = "\\/";
// Longest expanded name; far beyond any path a file system accepts.
constexpr std::size_t kMaxExpandedBytes = 16384;

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (std::size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size())) {
        text.replace(pos, from.size(), to);
    }
}

// Splits at "\" and "/", dropping empty pieces.
std::vector<std::string> splitAtSeparators(const std::string& text)
{
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(kSeparators, start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start) {
            pieces.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return pieces;
}

// A cleaned folder name that would lead out of its parent gets its dots replaced.
std::string containedFolderName(const std::string& part)
{
    const std::string cleaned = sanitizePathComponent(part);
    if (cleaned == ".") {
        return "_";
    }
    if (cleaned == "..") {
        return "__";
    }
    return cleaned;
}

}  // namespace

std::string sanitizePathComponent(const std::string& component)
{
    if (component.empty()) {
        return "frame";
    }
    std::string cleaned = component;
    for (char& c : cleaned) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || std::string("\\/:*?\"<>|").find(c) != std::string::npos) {
            c = '_';
        }
    }
    return cleaned;
}

NameTemplate::NameTemplate(const RenderConfig& config)
    : outputDir_(config.output_dir), outputFormat_(config.output_format), fieldSeparator_(config.field_separator),
      template_(config.photo_name_template)
{
}

std::string expandPlaceholders(const std::string& text, const std::map<std::string, std::string>& attributes)
{
    // Placeholders are "<" + at least one byte other than "<" and ">" + ">";
    // a stray "<", ">" or an empty "<>" stays as it is.
    std::string expanded;
    std::size_t copied = 0;
    for (std::size_t open = text.find('<'); open != std::string::npos; open = text.find('<', open)) {
        const std::size_t next = text.find_first_of("<>", open + 1);
        if (next == std::string::npos) {
            break;
        }
        if (text[next] == '<' || next == open + 1) {
            open = text[next] == '<' ? next : next + 1;
            continue;
        }
        expanded.append(text, copied, open - copied);
        expanded += evaluatePlaceholder(text.substr(open + 1, next - open - 1), attributes);
        copied = next + 1;
        open = next + 1;
    }
    expanded.append(text, copied, std::string::npos);
    return expanded;
}

std::string captionText(const std::string& captionTemplate, const PolygonFrame& frame, const std::string& angle)
{
    std::string text = captionTemplate;
    replaceAll(text, "<角度>", angleLabel(angle));
    replaceAll(text, "<ANGLE>", angle);
    if (frame.attributes.count("名称") == 0) {
        replaceAll(text, "<名称>", frame.name);
    }
    return expandPlaceholders(text, frame.attributes);
}

std::string NameTemplate::expandTemplate(const PolygonFrame& frame, const std::string& angle)
{
    std::string text = template_;
    replaceAll(text, "<角度>", angleLabel(angle));
    replaceAll(text, "<ANGLE>", angle);

    std::string expanded = expandPlaceholders(text, frame.attributes);
    if (expanded.size() > kMaxExpandedBytes) {
        // No file system takes a path this long, and numbering it would be slow.
        throw std::length_error("photo name longer than " + std::to_string(kMaxExpandedBytes) +
                                " bytes after expansion");
    }

    // The folder text is taken from the whole name as numbered so far; only
    // the position of its last separator moves as digits replace "#".
    std::size_t lastSeparator = expanded.find_last_of(kSeparators);
    for (std::size_t pos = expanded.find('#'); pos != std::string::npos; pos = expanded.find('#', pos)) {
        std::string folder;
        if (lastSeparator != std::string::npos) {
            const std::size_t end = expanded.find_last_not_of(kSeparators, lastSeparator);
            if (end != std::string::npos) {
                folder.assign(expanded, 0, end + 1);
            }
        }
        const std::string number = std::to_string(++folderCounters_[folder]);
        expanded.replace(pos, 1, number);
        if (lastSeparator != std::string::npos && pos < lastSeparator) {
            lastSeparator += number.size() - 1;
        }
        pos += number.size();
    }
    return expanded;
}

std::string NameTemplate::buildPhotoPath(const PolygonFrame& frame, const std::string& angle)
{
    const std::string extension = outputFormatKey(outputFormat_);
    if (template_.empty()) {
        // Frame folders are unique by name, but cleaning can make two equal
        // ("a:b" and "a_b"); claimPath keeps their images apart.
        return claimPath((fs::path(buildFrameFolder(frame)) / (angle + "." + extension)).string());
    }

    // Checked before expanding so that a broken template does not advance
    // the counters; the finished path covers the inserted values.
    requireValidUtf8(outputDir_);
    requireValidUtf8(template_);
    std::string name = expandTemplate(frame, angle);
    if (name.empty()) {
        name = angle;
    }
    std::vector<std::string> components = splitAtSeparators(name);
    if (components.empty()) {
        components.push_back(angle);
    }
    if (!outputFormatOfName(components.back())) {
        components.back() += "." + extension;
    }
    fs::path path(outputDir_);
    for (const std::string& component : components) {
        if (component == "." || component == "..") {
            continue;
        }
        path /= sanitizePathComponent(component);
    }
    const std::string text = path.string();
    requireValidUtf8(text);
    return claimPath(text);
}

std::string NameTemplate::buildFrameFolder(const PolygonFrame& frame) const
{
    const std::string folder = frame.uniqueName.empty() ? frame.name : frame.uniqueName;
    requireValidUtf8(outputDir_);
    fs::path path(outputDir_);
    if (fieldSeparator_ == "\\") {
        std::vector<std::string> parts = frame.nameValues;
        if (parts.empty()) {
            parts = splitAtSeparators(folder);
        }
        if (parts.empty()) {
            parts.push_back(folder);
        }
        for (const std::string& part : parts) {
            requireValidUtf8(part);
            path /= containedFolderName(part);
        }
    } else {
        requireValidUtf8(folder);
        path /= containedFolderName(folder);
    }
    return path.string();
}

std::string NameTemplate::claimPath(const std::string& pathText)
{
    const fs::path path(pathText);
    const std::string folder = path.parent_path().string();
    std::int32_t& uses = pathUses_[folder + "|" + path.filename().string()];
    ++uses;
    if (uses == 1) {
        return pathText;
    }
    // A suffixed name may itself have been handed out already (a template
    // that produces "A_2" literally): take the next free number.
    const std::string stem = path.stem().string();
    const std::string extension = path.extension().string();
    for (std::int32_t n = uses;; ++n) {
        const std::string candidate = stem + "_" + std::to_string(n) + extension;
        std::int32_t& candidateUses = pathUses_[folder + "|" + candidate];
        if (candidateUses == 0) {
            candidateUses = 1;
            uses = n;
            return (path.parent_path() / candidate).string();
        }
    }
}

}  // namespace vistrel
