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

// The configuration's refusals and the start's, on standard error.
std::vector<RunMessageText> configMessages()
{
    using M = RunMessage;
    return {
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
        {M::ConfigModelPathsDiffer, "Config error: model_path and osgb_path name different models: {} and {}"},
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
        {M::ConfigWhere, "Config error: where is not a valid attribute filter for layer {}: {}"},
        {M::ConfigRetryNeedsResume, "Config error: retry_failed_only needs resume to be true."},
        {M::ConfigRetryWithoutJournal,
         "Config error: retry_failed_only found no journal of an earlier run of this batch in {}."},
        {M::ConfigOther, "Config error: {}"},
        {M::NoDefaultConfig, "Cannot locate the default configuration: {}"},
        {M::CannotCreateLogFolder, "Cannot create the log folder \"logs\" in the working directory: {}"},
        {M::InvalidConfig, "Invalid config."},
    };
}

// The ERROR lines of a run, and the WARN lines of items left out.
std::vector<RunMessageText> failureMessages()
{
    using M = RunMessage;
    return {
        {M::FeaturesLost,
         "Not every feature of the shapefile was read ({} of {} read, {} unreadable); the run is incomplete."},
        {M::LayerFeaturesLost,
         "Lost features in layer {} of {}: the layer declares {}, {} were read, {} could not be read."},
        {M::NoFrameOverModel, "No frame lies over the model: frames extent {} ({}), model extent {} ({}). "
                              "检查坐标系、度带前缀或偏移"},
        {M::GdalMoreLikeIt, "GDAL: {} (and {} more like it, not logged)"},
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
}

// The INFO and WARN lines of what a run does.
std::vector<RunMessageText> noteMessages()
{
    using M = RunMessage;
    return {
        {M::UsingConfig, "Using config: {}"},
        {M::StartingRun, "Starting Vistrel."},
        {M::RemovedStaleFiles, "Removed {} stale temporary files below {}"},
        {M::PreviewMode, "Preview mode enabled. Rendering first {} frames."},
        {M::FeaturesWithoutPolygon, "Features without a polygon: {} ({})"},
        {M::TileCounts, "Tiles missing: {}, refused: {} (and {} more requests for them, answered without reading); "
                        "root tiles left out for their bounds: {}"},
        {M::RootIndexSummary, "Root index: {} roots, {} read for it, {} checked against their files"},
        {M::CoordinateSystems, "Model SRS: {}; frames CRS: {}"},
        {M::TransformingFrames,
         "Transforming frames from {} to {} (each vertex moved; points added where an edge bends more than 1 cm)"},
        {M::TransformationDone, "Transformation: {}; {} ring points, {} of them added along bent edges"},
        {M::FramesMoved, "Frames before: {}; after: {}"},
        {M::RenderingAgain, "Rendering {} again: {}"},
        {M::FboReady, "FBO renderer initialized."},
        {M::OpenGlContext, "OpenGL context: {}, renderer: {}, OpenGL {}"},
        {M::SoftwareRendering, "No GPU EGL device opened; rendering in software."},
        {M::OcclusionChoice, "Occlusion choice frame={} angle={} score={} view_angle={}"},
        {M::RangeLineSmoothed, "Range line height smoothing applied for {}, raw max jump={}, limit={}"},
        {M::ShpOffsetZone, "Applying SHP coordinate offset: x={}, y={} (Gauss zone prefix {})"},
        {M::ShpOffset, "Applying SHP coordinate offset: x={}, y={}"},
        {M::FramesReadBounds, "Read {} polygon frames from {}. Bounds=({}, {}) - ({}, {})"},
        {M::FramesRead, "Read {} polygon frames from {}"},
        {M::MetadataOriginSrs, "Read metadata model origin from {}: x={}, y={}, z={}, srs={}"},
        {M::MetadataOrigin, "Read metadata model origin from {}: x={}, y={}, z={}"},
        {M::DsmOrigin, "Read DSM model origin from {}: x={}, y={}"},
        {M::HeightsSampledRange, "Sampled model heights for {}/{} frames. Z range=({}, {})"},
        {M::HeightsSampled, "Sampled model heights for {}/{} frames"},
        {M::ShpNearScene, "SHP XY already near scene. Bounds={}"},
        {M::RootsReadAgain, "Read again the {} other roots taken from the root index ({} changed)"},
    };
}

// The INFO and WARN lines of what a run reads: the model, tiles and frames.
std::vector<RunMessageText> readingMessages()
{
    using M = RunMessage;
    return {
        {M::LoadingScene, "Loading OSGB/scene: {}"},
        {M::SceneLoaded, "Scene loaded. Bound center=({}, {}, {}), radius={}"},
        {M::SkippedFeature, "Skipped feature FID {} of layer {}: {}"},
        {M::MoreFeaturesSkipped, "{} more features without a polygon were skipped"},
        {M::NoPolygonFeatures, "No polygon or multipolygon features found in SHP. The layer {} holds: {}"},
        {M::DamagedRootIndex, "Ignored a damaged root index: {}"},
        {M::RootIndexThroughLink, "Did not write the root index through a symbolic link: {}"},
        {M::RootIndexWriteFailed, "Could not write the root index {}: {}"},
        {M::FramesCrsUnusable, "The frames' CRS cannot be used and counts as unknown: {}"},
        {M::ModelSrsUnusable, "The model's SRS of {} cannot be used and counts as unknown: {}"},
        {M::FramesUnplaced, "{} of {} frames cannot be placed in {} and their images fail; the first, frame {}: {}"},
        {M::SystemsDifferNever, "The declared coordinate systems differ (model {}, frames {}), but reproject_frames is "
                                "never: the frames are used as read."},
        {M::SystemsDifferOverlap, "The declared coordinate systems differ (model {}, frames {}), but reproject_frames "
                                  "is {} and the frames lie over the model: the frames are used as read."},
        {M::FramesCrsUnknown,
         "reproject_frames is always, but the frames' CRS is unknown: the frames are used as read."},
        {M::ModelSrsUnknown,
         "reproject_frames is always, but the model's SRS is unknown: the frames are used as read."},
        {M::StoppedWhileTransforming, "Stopped by signal while transforming frames ({} of {} moved)"},
        {M::NoFramesToRender, "No SHP frames to render."},
        {M::TilesStillLoading,
         "Tiles still loading after tile_load_timeout {} s: frame {} angle {}, {} requests outstanding"},
        {M::ThumbnailWriteFailed, "Failed to write thumbnail: {}"},
        {M::JournalUnlockable, "Cannot lock the run journal, so another run on this folder would go unnoticed: {}"},
        {M::ResumeTakesNothing, "Resume takes nothing over: {}"},
        {M::EglUnavailable, "EGL context unavailable: {}"},
        {M::NoRangeOutline, "No range outline available for {}"},
        {M::OriginNotRegularFile, "Skipped origin file that is not a regular file: {}"},
        {M::MetadataTooLarge, "Skipped metadata file larger than {} MB: {}"},
        {M::NoModelOriginSrs, "No model origin in {}: {}; its SRS \"{}\" is not used"},
        {M::NoModelOrigin, "No model origin in {}: {}"},
        {M::ShpFarFromScene,
         "SHP XY is far from scene after configured offsets. No extra center alignment was applied. SHP bounds={}"},
        {M::MissingTileFile, "Missing tile file: {}"},
        {M::MissingTextureFile, "Missing texture file: {}"},
        {M::DamagedTile, "Skipped damaged tile {}: {}"},
        {M::DamagedTexture, "Skipped damaged texture {}: {}"},
        {M::Usage, kUsageLine.data()},
        {M::RetryFailedOnly, "retry_failed_only: {} of {} frames have failed or skipped images and are rendered again; "
                             "the others keep their written images or are left out"},
        {M::NoPictureToMeasure, "No picture to measure: {}"},
        {M::PlanPictureTime, "Plan: one picture of frame {} took {} s"},
    };
}

// The configuration summary printed at the start.
std::vector<RunMessageText> summaryMessages()
{
    using M = RunMessage;
    return {
        {M::SummaryOsgbPath, "OSGB path: {}"},
        {M::SummaryShpPath, "SHP path: {}"},
        {M::SummaryOutput, "Output: {}"},
        {M::SummaryOffset, "SHP offset: x={}, y={}, gauss_zone_prefix={}, auto_strip_gauss_zone={}, "
                           "auto_align_shp_to_scene={}, output_top_range={}"},
        {M::SummarySize, "Size: {}x{}"},
        {M::SummaryCameraPadding, "Camera padding: {}"},
        {M::SummaryOblique, "Oblique factors: padding={}, distance={}, view_angle={}"},
        {M::SummaryOcclusion, "Avoid occlusion: {}, sample_step={}"},
        {M::SummaryWarmup, "Warmup frames: {}"},
        {M::SummaryRangeLine, "Range line: lift={}, sample_step={}, width={}, color={}"},
        {M::SummaryFormat, "Format: {}"},
        {M::SummaryDpi, "DPI: {}"},
        {M::SummarySystems, "Coordinate systems: model_srs={}, frames_crs={}, reproject_frames={}, world_file={}"},
        {M::SummaryLayer, "Layer: {}"},
        {M::SummaryPreviewLimit, "Preview limit: {}"},
    };
}

}  // namespace

// The groups in order: a more specific pattern stays before a general one.
const std::vector<RunMessageText>& runMessageTexts()
{
    static const std::vector<RunMessageText> texts = [] {
        std::vector<RunMessageText> all;
        for (auto group : {configMessages, failureMessages, noteMessages, readingMessages, summaryMessages}) {
            const std::vector<RunMessageText> rows = group();
            all.insert(all.end(), rows.begin(), rows.end());
        }
        return all;
    }();
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
