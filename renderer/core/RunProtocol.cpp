#include "core/RunProtocol.h"

#include "core/NumberText.h"
#include "core/OutputFormats.h"

#include <charconv>
#include <cstdlib>

namespace vistrel {

const std::vector<ExitCodeText>& exitCodeTexts()
{
    static const std::vector<ExitCodeText> texts = {
        {ExitSuccess, "every image written (frames skipped by the pre-check are not failures)", "全部完成"},
        {ExitConfigOrTaskFailure, "bad configuration (the reason is on standard error) or a task error",
         "配置错误或任务出错"},
        {ExitNoScene, "no model could be loaded", "未能加载模型"},
        {ExitNoFrames, "the shapefile has no polygons", "SHP 中没有面状图斑"},
        {ExitRenderFailure,
         "the renderer could not start, an image or the report failed, or features of the shapefile could not be "
         "read (the others are still rendered)",
         "渲染器无法启动、有图片或报告写入失败，或 SHP 中有要素无法读取"},
        {ExitStopped,
         "stopped by SIGTERM or SIGINT: the image in hand was finished and the report written; images not reached "
         "are marked \"未完成\"",
         "已停止"},
        {ExitNothingToRender, "no frame lies over the model (coordinate systems, zone prefix or offsets differ)",
         "没有图斑落在模型范围内（坐标系、度带前缀或偏移不一致）"},
    };
    return texts;
}

const ExitCodeText* findExitCode(int code)
{
    for (const ExitCodeText& text : exitCodeTexts()) {
        if (text.code == code) {
            return &text;
        }
    }
    return nullptr;
}

namespace {

// Reads "key=" at the front of `rest` and the value up to the next blank (or
// to the end when `last`); advances `rest` past it.
std::optional<std::string_view> takeField(std::string_view& rest, std::string_view key, bool last = false)
{
    if (rest.substr(0, key.size()) != key || rest.substr(key.size(), 1) != "=") {
        return std::nullopt;
    }
    rest.remove_prefix(key.size() + 1);
    const std::size_t end = last ? rest.size() : rest.find(' ');
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view value = rest.substr(0, end);
    rest.remove_prefix(last ? end : end + 1);
    return value;
}

bool toInt(std::string_view text, int& value)
{
    if (text.empty()) {
        return false;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool takeInt(std::string_view& rest, std::string_view key, int& value, bool last = false)
{
    const auto text = takeField(rest, key, last);
    return text && toInt(*text, value);
}

bool takeSeconds(std::string_view& rest, std::string_view key, double& value)
{
    const auto text = takeField(rest, key);
    if (!text || text->empty()) {
        return false;
    }
    const std::string copy(*text);
    char* end = nullptr;
    value = std::strtod(copy.c_str(), &end);
    return end == copy.c_str() + copy.size();
}

bool takeLiteral(std::string_view& rest, std::string_view literal)
{
    if (rest.substr(0, literal.size()) != literal) {
        return false;
    }
    rest.remove_prefix(literal.size());
    return true;
}

}  // namespace

std::optional<LogLine> parseLogLine(std::string_view line)
{
    if (line.empty() || line.front() != '[') {
        return std::nullopt;
    }
    const std::size_t stampEnd = line.find(']');
    if (stampEnd == std::string_view::npos || line.substr(stampEnd + 1, 1) != "[") {
        return std::nullopt;
    }
    std::string_view rest = line.substr(stampEnd + 2);
    for (const std::string_view level : {"INFO", "WARN", "ERROR"}) {
        if (rest.substr(0, level.size()) == level && rest.substr(level.size(), 2) == "] ") {
            return LogLine{std::string(level), std::string(rest.substr(level.size() + 2))};
        }
    }
    return std::nullopt;
}

std::string formatLine(const FrameProgress& line)
{
    return "FRAME_PROGRESS frame=" + std::to_string(line.frame) + " total_frames=" + std::to_string(line.totalFrames) +
           " name=" + line.name;
}

std::string formatLine(const SkipFrame& line)
{
    return "SKIP_FRAME name=" + line.name + " reason=" + line.reason;
}

std::string formatLine(const ImageProgress& line)
{
    return "IMAGE_PROGRESS image=" + std::to_string(line.image) + " total_images=" + std::to_string(line.totalImages) +
           " frame=" + std::to_string(line.frame) + " total_frames=" + std::to_string(line.totalFrames) +
           " elapsed=" + fixedNumber(line.elapsed, 2) + " eta=" + fixedNumber(line.eta, 2) + " angle=" + line.angle +
           " success=" + (line.success ? "1" : "0");
}

std::string formatLine(const RunFinished& line)
{
    std::string text = "Render finished. Success " + std::to_string(line.succeeded) + "/" +
                       std::to_string(line.totalImages) + ", skipped " + std::to_string(line.skipped) + ", failed " +
                       std::to_string(line.failed);
    if (line.notDone > 0) {
        text += ", not done " + std::to_string(line.notDone);
    }
    text += ", hidden " + std::to_string(line.hidden) + ", partly outside " + std::to_string(line.partlyOutside);
    if (line.shardCount > 1) {
        text += " (shard " + std::to_string(line.shardIndex + 1) + " of " + std::to_string(line.shardCount) +
                ", shard_index " + std::to_string(line.shardIndex) + ")";
    }
    return text;
}

std::string formatLine(const RunState& line)
{
    return "RUN_STATE shard_index=" + std::to_string(line.shardIndex) +
           " shard_count=" + std::to_string(line.shardCount) + " resume=" + (line.resume ? "1" : "0");
}

std::optional<FrameProgress> parseFrameProgress(std::string_view message)
{
    FrameProgress line;
    std::string_view rest = message;
    if (!takeLiteral(rest, "FRAME_PROGRESS ") || !takeInt(rest, "frame", line.frame) ||
        !takeInt(rest, "total_frames", line.totalFrames)) {
        return std::nullopt;
    }
    const auto name = takeField(rest, "name", true);
    if (!name) {
        return std::nullopt;
    }
    line.name = std::string(*name);
    return line;
}

std::optional<SkipFrame> parseSkipFrame(std::string_view message)
{
    std::string_view rest = message;
    if (!takeLiteral(rest, "SKIP_FRAME name=")) {
        return std::nullopt;
    }
    // The reason is the renderer's own text; the name may hold anything.
    const std::size_t split = rest.rfind(" reason=");
    if (split == std::string_view::npos) {
        return std::nullopt;
    }
    return SkipFrame{std::string(rest.substr(0, split)), std::string(rest.substr(split + 8))};
}

std::optional<ImageProgress> parseImageProgress(std::string_view message)
{
    ImageProgress line;
    std::string_view rest = message;
    if (!takeLiteral(rest, "IMAGE_PROGRESS ") || !takeInt(rest, "image", line.image) ||
        !takeInt(rest, "total_images", line.totalImages) || !takeInt(rest, "frame", line.frame) ||
        !takeInt(rest, "total_frames", line.totalFrames) || !takeSeconds(rest, "elapsed", line.elapsed) ||
        !takeSeconds(rest, "eta", line.eta)) {
        return std::nullopt;
    }
    const auto angle = takeField(rest, "angle");
    int success = 0;
    if (!angle || angle->empty() || !takeInt(rest, "success", success, true) || (success != 0 && success != 1)) {
        return std::nullopt;
    }
    line.angle = std::string(*angle);
    line.success = success == 1;
    return line;
}

std::optional<RunFinished> parseRunFinished(std::string_view message)
{
    RunFinished line;
    std::string_view rest = message;
    const auto upTo = [&rest](std::string_view stop, int& value) {
        const std::size_t end = rest.find(stop);
        if (end == std::string_view::npos || !toInt(rest.substr(0, end), value)) {
            return false;
        }
        rest.remove_prefix(end + stop.size());
        return true;
    };
    if (!takeLiteral(rest, "Render finished. Success ") || !upTo("/", line.succeeded) ||
        !upTo(", skipped ", line.totalImages) || !upTo(", failed ", line.skipped)) {
        return std::nullopt;
    }
    // Each count after "failed" is optional; "hidden" and "partly outside" go together.
    std::size_t end = rest.find_first_of(" ,");
    if (!toInt(rest.substr(0, end), line.failed)) {
        return std::nullopt;
    }
    // 1: the count was there and read, 0: it is not there, -1: it is damaged.
    const auto count = [&rest, &end](std::string_view name, int& value) {
        if (end == std::string_view::npos || rest.substr(end, name.size()) != name) {
            return 0;
        }
        rest.remove_prefix(end + name.size());
        end = rest.find_first_of(" ,");
        return toInt(rest.substr(0, end), value) ? 1 : -1;
    };
    if (count(", not done ", line.notDone) < 0) {
        return std::nullopt;
    }
    const int hidden = count(", hidden ", line.hidden);
    if (hidden < 0 || (hidden > 0 && count(", partly outside ", line.partlyOutside) <= 0)) {
        return std::nullopt;
    }
    if (end != std::string_view::npos && rest[end] == ',') {
        return std::nullopt;
    }
    if (end != std::string_view::npos) {
        rest.remove_prefix(end + 1);
        int shardNumber = 0;
        if (!takeLiteral(rest, "(shard ") || !upTo(" of ", shardNumber) || !upTo(", shard_index ", line.shardCount) ||
            !upTo(")", line.shardIndex) || !rest.empty()) {
            return std::nullopt;
        }
    }
    return line;
}

std::optional<RunState> parseRunState(std::string_view message)
{
    RunState line;
    std::string_view rest = message;
    int resume = 0;
    if (!takeLiteral(rest, "RUN_STATE ") || !takeInt(rest, "shard_index", line.shardIndex) ||
        !takeInt(rest, "shard_count", line.shardCount) || !takeInt(rest, "resume", resume, true) ||
        (resume != 0 && resume != 1)) {
        return std::nullopt;
    }
    line.resume = resume == 1;
    return line;
}

namespace {

// The refusal of an output_format that no output format names.
const std::string& outputFormatRefusal()
{
    static const std::string text = "Config error: output_format must be " + outputFormatList(", ", ", or ") + ".";
    return text;
}

}  // namespace

const std::vector<RunMessageText>& runMessageTexts()
{
    using M = RunMessage;
    static const std::vector<RunMessageText> texts = {
        {M::CannotOpenConfig, "Cannot open config: {}"},
        {M::ConfigLoadFailed, "Config load failed: {}"},
        {M::ConfigSizePositive, "Config error: width and height must be positive."},
        {M::ConfigSizeTooLarge, "Config error: width and height must be at most {}."},
        {M::ConfigDistancePositive, "Config error: distance must be positive."},
        {M::ConfigUnsupportedAngle, "Config error: unsupported angle {}"},
        {M::ConfigOutputFormat, outputFormatRefusal().c_str()},
        {M::ConfigJpgQuality, "Config error: jpg_quality must be 1-100."},
        {M::ConfigEglDevice, "Config error: egl_device must be -1 (automatic) or the index of an EGL device."},
        {M::ConfigInputsRequired, "Config error: osgb_path and shp_path are required."},
        {M::ConfigOsgbMissing, "Config error: osgb_path does not exist: {}"},
        {M::ConfigShpMissing, "Config error: shp_path does not exist: {}"},
        {M::ConfigSeparator, "Config error: field_separator contains invalid Windows path characters."},
        {M::ConfigTemplateTooLong, "Config error: photo_name_template must be at most {} bytes."},
        {M::ConfigShardIndexRange,
         "Config error: shard_index must be from 0 to shard_count - 1 (shard_index {}, shard_count {})."},
        {M::ConfigShardEnvironmentCount,
         "Config error: JOB_COMPLETION_INDEX is set but VISTREL_SHARD_COUNT is not; set it to the job's "
         "completions."},
        {M::ConfigSlurmCount, "Config error: SLURM_ARRAY_TASK_ID is set but SLURM_ARRAY_TASK_COUNT is not."},
        {M::ConfigEnvironmentNotNumber, "Config error: {} is not a whole number: \"{}\""},
        {M::ConfigNotFinite, "Config error: {} must be a finite number."},
        {M::ConfigAtLeast, "Config error: {} must be at least {}."},
        {M::ConfigAtMost, "Config error: {} must be at most {}."},
        {M::ConfigShardIndexMissing,
         "Config error: shard_count is {} but no shard index is given (shard_index, JOB_COMPLETION_INDEX or "
         "SLURM_ARRAY_TASK_ID)."},
        {M::ConfigOther, "Config error: {}"},
        {M::NoDefaultConfig, "Cannot locate the default configuration: {}"},
        {M::CannotCreateLogFolder, "Cannot create the log folder \"logs\" in the working directory: {}"},
        {M::InvalidConfig, "Invalid config."},
        {M::FeaturesLost,
         "Not every feature of the shapefile was read ({} of {} read, {} unreadable); the run is incomplete."},
        {M::LayerFeaturesLost,
         "Lost features in layer {} of {}: the layer declares {}, {} were read, {} could not be read."},
        {M::NoFrameOverModel, "No frame lies over the model: frames extent {} ({}), model extent {} ({}). "
                              "检查坐标系、度带前缀或偏移"},
        {M::GdalError, "GDAL: {}"},
        {M::OsgNotice, "OpenSceneGraph: {}"},
        {M::TaskFailed, "Task failed: {}"},
        {M::HtmlReportFailed, "Failed to write HTML report: {}"},
        {M::CsvReportFailed, "Failed to write CSV report: {}"},
        {M::FailedFrame, "Failed frame {} angle {}: {}"},
        {M::NullScene, "Renderer received null scene."},
        {M::JournalFailed, "Cannot write the run journal: {}"},
        {M::JournalLocked, "Another run (process {}) is working on the output folder {} (its journal {}); this run "
                           "stops and leaves the folder as it is."},
        {M::RenderNotThroughFbo, "Render failed: the picture was not drawn through a frame-buffer object"},
        {M::RenderFailedWriting, "Render failed: unknown error while writing {}"},
        {M::RenderFailed, "Render failed: {}"},
        {M::RendererNullScene, "Cannot initialize renderer with null scene."},
        {M::NoGraphicsContext, "Failed to create off-screen OpenGL graphics context."},
        {M::EglDeviceMissing, "EGL device {} was asked for (egl_device or VISTREL_EGL_DEVICE), but {}"},
        {M::RenderTargetTooLarge, "Render target {} exceeds the OpenGL limit {}."},
        {M::RendererNotInitialized, "Renderer is not initialized."},
        {M::OsgbPathMissing, "OSGB path does not exist: {}"},
        {M::NoRootTiles, "No root .osgb files found in: {}"},
        {M::SceneReadFailed, "Failed to load scene with osgDB::readNodeFile: {}"},
        {M::NoSceneLoaded, "Failed to load any OSGB scene from: {}"},
        {M::RootBoundUnusable, "Skipped root tile {}: its bound cannot place it ({})"},
        {M::RootIndexEntryWrong, "The root index entry of {} was wrong ({}); it is corrected from the file"},
        {M::ImageWriteFailed, "Failed to write image: {}"},
        {M::SymlinkRefused, "Refused to write through a symbolic link below the output folder: {}"},
        {M::WorldFileWriteFailed, "Failed to write world file: {}"},
    };
    return texts;
}

int patternValueCount(std::string_view pattern)
{
    int count = 0;
    for (std::size_t at = pattern.find("{}"); at != std::string_view::npos; at = pattern.find("{}", at + 2)) {
        ++count;
    }
    return count;
}

std::string runMessage(RunMessage id, const std::vector<std::string>& values)
{
    for (const RunMessageText& text : runMessageTexts()) {
        if (text.id != id) {
            continue;
        }
        std::string out;
        std::size_t next = 0;
        const std::string_view pattern(text.pattern);
        std::size_t from = 0;
        for (std::size_t at = pattern.find("{}"); at != std::string_view::npos; at = pattern.find("{}", from)) {
            out.append(pattern.substr(from, at - from));
            out.append(next < values.size() ? values[next] : std::string());
            ++next;
            from = at + 2;
        }
        out.append(pattern.substr(from));
        return out;
    }
    return {};
}

namespace {

// Matches `text` against `pattern`: literal parts in order, each "{}" taking
// the shortest text up to the next literal part (the last one takes the rest).
bool matchPattern(std::string_view pattern, std::string_view text, std::vector<std::string>& values)
{
    std::size_t hole = pattern.find("{}");
    if (hole == std::string_view::npos) {
        return pattern == text;
    }
    if (text.substr(0, hole) != pattern.substr(0, hole)) {
        return false;
    }
    text.remove_prefix(hole);
    pattern.remove_prefix(hole + 2);
    while (true) {
        hole = pattern.find("{}");
        const std::string_view literal = pattern.substr(0, hole);
        if (hole == std::string_view::npos) {
            // The last literal ends the text.
            if (text.size() < literal.size() || text.substr(text.size() - literal.size()) != literal) {
                return false;
            }
            values.emplace_back(text.substr(0, text.size() - literal.size()));
            return true;
        }
        const std::size_t at = literal.empty() ? 0 : text.find(literal);
        if (at == std::string_view::npos) {
            return false;
        }
        values.emplace_back(text.substr(0, at));
        text.remove_prefix(at + literal.size());
        pattern.remove_prefix(hole + 2);
    }
}

}  // namespace

std::optional<MatchedRunMessage> matchRunMessage(std::string_view text)
{
    for (const RunMessageText& entry : runMessageTexts()) {
        std::vector<std::string> values;
        if (matchPattern(entry.pattern, text, values)) {
            return MatchedRunMessage{entry.id, std::move(values)};
        }
    }
    return std::nullopt;
}

}  // namespace vistrel
