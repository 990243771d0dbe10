#pragma once

// The run protocol between Vistrel and whoever reads its output (Tavrin, a
// cluster script): the exit codes, the progress lines and the identifiers of
// the messages Vistrel prints when something fails. Both sides build and
// read the lines through this file only.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vistrel {

// Exit codes of a run.
enum ExitCode {
    ExitSuccess = 0,
    ExitConfigOrTaskFailure = 1,
    ExitNoScene = 2,
    ExitNoFrames = 3,
    ExitRenderFailure = 4,
    ExitStopped = 5,  // SIGTERM or SIGINT: the report holds what was done
    ExitNothingToRender = 6,  // no frame lies over the model
};

struct ExitCodeText {
    int code;
    const char* english;  // the README's and docs/configuration.md's wording
    const char* chinese;  // Tavrin's
};

// Every exit code, in order.
const std::vector<ExitCodeText>& exitCodeTexts();

// The text of a code; nullptr for a code Vistrel never returns.
const ExitCodeText* findExitCode(int code);

// --- Log lines: "[timestamp][LEVEL] message" ------------------------------

struct LogLine {
    std::string level;  // INFO, WARN or ERROR
    std::string message;
};

std::optional<LogLine> parseLogLine(std::string_view line);

// --- Progress lines (messages of log lines) ---------------------------------

struct FrameProgress {
    int frame = 0;  // 1-based position among the frames this run renders
    int totalFrames = 0;
    std::string name;
};

struct SkipFrame {
    std::string name;
    std::string reason;
};

struct ImageProgress {
    int image = 0;
    int totalImages = 0;
    int frame = 0;
    int totalFrames = 0;
    double elapsed = 0.0;  // seconds
    double eta = 0.0;
    std::string angle;
    bool success = false;
};

// The run's images, outline images included:
// succeeded + skipped + failed + notDone = totalImages.
struct RunFinished {
    int succeeded = 0;
    int totalImages = 0;
    int skipped = 0;
    int failed = 0;
    int shardIndex = 0;  // 0-based; a shard's line names it
    int shardCount = 1;
    int notDone = 0;  // images a stopped run never reached; named only when not 0
    // Images with the remarks 图斑大部分被遮挡 and 图斑部分在模型范围外 (0 in
    // lines of earlier versions, which do not name them).
    int hidden = 0;
    int partlyOutside = 0;
};

struct RunState {
    int shardIndex = 0;
    int shardCount = 1;
    bool resume = false;
};

std::string formatLine(const FrameProgress& line);
std::string formatLine(const SkipFrame& line);
std::string formatLine(const ImageProgress& line);
std::string formatLine(const RunFinished& line);
std::string formatLine(const RunState& line);

std::optional<FrameProgress> parseFrameProgress(std::string_view message);
std::optional<SkipFrame> parseSkipFrame(std::string_view message);
std::optional<ImageProgress> parseImageProgress(std::string_view message);
std::optional<RunFinished> parseRunFinished(std::string_view message);
std::optional<RunState> parseRunState(std::string_view message);

// Lines that name a file or an event.
inline constexpr std::string_view kWrotePrefix = "Wrote ";
inline constexpr std::string_view kWroteHtmlReportPrefix = "Wrote HTML report: ";
inline constexpr std::string_view kWroteCsvReportPrefix = "Wrote CSV report: ";
inline constexpr std::string_view kResumedPrefix = "Resumed ";
inline constexpr std::string_view kStoppedBySignal = "Stopped by signal";
// Standard error's last line when the arguments or the configuration are wrong.
inline constexpr std::string_view kUsageLine =
    "Usage: Vistrel <config/render.json> (or Vistrel --plan <config/render.json>: what a run would do)";

// --- Messages -------------------------------------------------------------------

// Every message Vistrel prints besides the progress lines: the configuration
// errors on standard error, the ERROR lines of the log, then its INFO and
// WARN lines (the English wording is what logs and scripts read; a reader
// such as Tavrin matches it to show it in its own language).
enum class RunMessage {
    CannotOpenConfig,
    ConfigLoadFailed,
    ConfigSizePositive,
    ConfigSizeTooLarge,
    ConfigDistancePositive,
    ConfigUnsupportedAngle,
    ConfigOutputFormat,
    ConfigJpgQuality,
    ConfigEglDevice,
    ConfigInputsRequired,
    ConfigOsgbMissing,
    ConfigModelPathsDiffer,
    ConfigShpMissing,
    ConfigSeparator,
    ConfigTemplateTooLong,
    ConfigShardIndexRange,
    ConfigNotFinite,
    ConfigShardEnvironmentCount,
    ConfigSlurmCount,
    ConfigEnvironmentNotNumber,
    ConfigAtLeast,
    ConfigAtMost,
    ConfigShardIndexMissing,
    ConfigWhere,
    ConfigRetryNeedsResume,
    ConfigRetryWithoutJournal,
    ConfigOther,
    NoDefaultConfig,
    CannotCreateLogFolder,
    InvalidConfig,
    FeaturesLost,
    LayerFeaturesLost,
    NoFrameOverModel,
    GdalError,
    OsgNotice,
    TaskFailed,
    HtmlReportFailed,
    CsvReportFailed,
    FailedFrame,
    NullScene,
    JournalFailed,
    JournalLocked,
    RenderNotThroughFbo,
    RenderFailedWriting,
    RenderFailed,
    RendererNullScene,
    NoGraphicsContext,
    EglDeviceMissing,
    RenderTargetTooLarge,
    RendererNotInitialized,
    OsgbPathMissing,
    NoRootTiles,
    SceneReadFailed,
    NoSceneLoaded,
    RootBoundUnusable,
    RootIndexEntryWrong,
    ImageWriteFailed,
    SymlinkRefused,
    WorldFileWriteFailed,
    // Informational lines and warnings.
    UsingConfig,
    StartingRun,
    RemovedStaleFiles,
    PreviewMode,
    FeaturesWithoutPolygon,
    TileCounts,
    RootIndexSummary,
    CoordinateSystems,
    TransformingFrames,
    TransformationDone,
    FramesMoved,
    RenderingAgain,
    FboReady,
    OpenGlContext,
    SoftwareRendering,
    OcclusionChoice,
    RangeLineSmoothed,
    ShpOffsetZone,
    ShpOffset,
    FramesReadBounds,
    FramesRead,
    MetadataOriginSrs,
    MetadataOrigin,
    DsmOrigin,
    HeightsSampledRange,
    HeightsSampled,
    ShpNearScene,
    RootsReadAgain,
    LoadingScene,
    SceneLoaded,
    SkippedFeature,
    MoreFeaturesSkipped,
    NoPolygonFeatures,
    DamagedRootIndex,
    RootIndexThroughLink,
    RootIndexWriteFailed,
    FramesCrsUnusable,
    ModelSrsUnusable,
    FramesUnplaced,
    SystemsDifferNever,
    SystemsDifferOverlap,
    FramesCrsUnknown,
    ModelSrsUnknown,
    StoppedWhileTransforming,
    NoFramesToRender,
    TilesStillLoading,
    ThumbnailWriteFailed,
    JournalUnlockable,
    ResumeTakesNothing,
    EglUnavailable,
    NoRangeOutline,
    GdalMoreLikeIt,
    OriginNotRegularFile,
    MetadataTooLarge,
    NoModelOriginSrs,
    NoModelOrigin,
    ShpFarFromScene,
    MissingTileFile,
    MissingTextureFile,
    DamagedTile,
    DamagedTexture,
    Usage,
    RetryFailedOnly,
    NoPictureToMeasure,
    PlanPictureTime,
    SummaryOsgbPath,
    SummaryShpPath,
    SummaryOutput,
    SummaryOffset,
    SummarySize,
    SummaryCameraPadding,
    SummaryOblique,
    SummaryOcclusion,
    SummaryWarmup,
    SummaryRangeLine,
    SummaryFormat,
    SummaryDpi,
    SummarySystems,
    SummaryLayer,
    SummaryPreviewLimit,
};

struct RunMessageText {
    RunMessage id;
    // The English text, with "{}" where a value (a path, a key, a reason)
    // stands. Patterns are listed so that the more specific comes first.
    const char* pattern;
};

const std::vector<RunMessageText>& runMessageTexts();

// The pattern of `id` with its "{}" replaced by `values` in order.
std::string runMessage(RunMessage id, const std::vector<std::string>& values = {});

struct MatchedRunMessage {
    RunMessage id;
    std::vector<std::string> values;
};

// The message `text` is, with the values that fill its pattern.
std::optional<MatchedRunMessage> matchRunMessage(std::string_view text);

// Number of "{}" in a pattern.
int patternValueCount(std::string_view pattern);

}  // namespace vistrel
