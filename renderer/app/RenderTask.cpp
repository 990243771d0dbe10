#include "app/RenderTask.h"

#include "vector/FrameSystems.h"
#include "app/RenderBatch.h"
#include "app/RunJournal.h"
#include "app/ShardScene.h"
#include "app/StopSignal.h"
#include "core/Logger.h"
#include "core/NumberText.h"
#include "core/ShardPlan.h"
#include "vector/CoordinateSystem.h"
#include "model/FrameHeights.h"
#include "vector/PolygonFrameReader.h"
#include "model/SceneExtent.h"
#include "model/TileReadLedger.h"
#include "output/StagedFile.h"

#include <exception>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

// The frames of this shard (their heights are measured as each is rendered).
std::vector<PolygonFrame> framesOfShard(const std::vector<PolygonFrame>& frames, const ShardPlan& shard)
{
    std::vector<PolygonFrame> mine;
    for (const std::size_t position : shard.positions(frames.size())) {
        mine.push_back(frames[position]);
    }
    return mine;
}

// Failures met in reading vector data, as they happen.
void logVectorFailure(const std::string& reason)
{
    Logger::instance().error(reason);
}

// The features of the layer that gave no frame, one WARN each (the first
// hundred of them).
void warnFeaturesWithoutFrame(const FrameReadLoss& loss, const std::string& layer)
{
    constexpr std::size_t kWarned = 100;
    Logger& log = Logger::instance();
    for (std::size_t i = 0; i < loss.withoutFrameListed.size() && i < kWarned; ++i) {
        const FeatureWithoutFrame& feature = loss.withoutFrameListed[i];
        log.warn("Skipped feature FID " + std::to_string(feature.fid) + " of layer " + layer + ": " + feature.why);
    }
    if (loss.withoutFrame > static_cast<long long>(kWarned)) {
        log.warn(std::to_string(loss.withoutFrame - static_cast<long long>(kWarned)) +
                 " more features without a polygon were skipped");
    }
}

// The count of features without a frame among the run's closing lines.
void logFeaturesWithoutFrame(const FrameReadLoss& loss)
{
    if (loss.withoutFrame == 0) {
        return;
    }
    constexpr std::size_t kNamed = 20;
    std::string fids;
    for (std::size_t i = 0; i < loss.withoutFrameListed.size() && i < kNamed; ++i) {
        fids += (i == 0 ? "FID " : ", ") + std::to_string(loss.withoutFrameListed[i].fid);
    }
    if (loss.withoutFrame > static_cast<long long>(kNamed)) {
        fids += " and " + std::to_string(loss.withoutFrame - static_cast<long long>(kNamed)) + " more";
    }
    Logger::instance().info("Features without a polygon: " + std::to_string(loss.withoutFrame) + " (" + fids + ")");
}

// The tiles that were missing or refused and the root tiles left out for
// their bounds, counted once each.
void logTileCounts()
{
    const TileReadCounts tiles = tileReadCounts();
    const std::string roots = "root tiles left out for their bounds: " + std::to_string(tiles.unusableBounds);
    Logger::instance().info(
        "Tiles missing: " + std::to_string(tiles.missing) + ", refused: " + std::to_string(tiles.refused) + " (and " +
        std::to_string(tiles.repeatRequests) + " more requests for them, answered without reading); " + roots);
}

// The output folder, made when missing, without the temporary files of
// writers that were killed (live ones are left alone).
void prepareOutputFolder(const RenderConfig& config)
{
    Logger& log = Logger::instance();
    const fs::path outputDir(config.output_dir);
    std::error_code ec;
    fs::create_directories(outputDir, ec);
    if (ec) {
        throw fs::filesystem_error("create_directories", outputDir, ec);
    }
    log.info("Starting Vistrel.");
    const int stale = removeStaleTemporaryFiles(config.output_dir);
    if (stale > 0) {
        log.info("Removed " + std::to_string(stale) + " stale temporary files below " + config.output_dir);
    }
}

// How the batch ended.
struct BatchEnd {
    bool succeeded = false;
    bool stopped = false;
    bool journalLocked = false;  // another live run works on the folder
    bool retryRefused = false;  // retry_failed_only without a journal of the batch
};

// Renders this shard's frames, then logs the heights sampled for them and the
// tile counts. A stop before the batch still gets its report (every image
// 未完成): the batch sees the stop at once and writes it.
BatchEnd renderFrames(const RenderConfig& config, ShardScene& shardScene, std::vector<PolygonFrame>& frames,
                      const RunSystems& systems)
{
    osg::Node* scene = shardScene.root();
    resetFrameHeights(frames, scene);
    if (config.auto_align_shp_to_scene) {
        checkFramesNearScene(frames, scene);
    }
    BatchEnd end;
    {
        BatchOptions options;
        options.worldFileCrs = prjText(systems.model);
        options.storedCrs = storedCrsText(systems.model);
        options.beforeFrame = [&shardScene, &frames](std::size_t position, OffscreenRenderer& renderer) {
            // A frame that cannot be placed over the model needs no part of it.
            if (frames[position].unusable.empty()) {
                shardScene.prepareFrame(frames[position], renderer);
            }
        };
        options.frameMeasured = [&shardScene](const PolygonFrame& frame, OffscreenRenderer& renderer) {
            shardScene.prepareViews(frame, renderer);
        };
        RenderBatch batch(config, options);
        batch.setModel(shardScene.lazy().identity());
        batch.setSystemName(shortName(systems.model));
        end.succeeded = batch.run(scene, frames);
        end.stopped = batch.stopped();
        end.journalLocked = batch.journalLocked();
        end.retryRefused = batch.retryRefused();
    }
    if (end.journalLocked || end.retryRefused) {
        return end;  // nothing was rendered
    }
    logSampledHeights(scene, framesOfShard(frames, ShardPlan::of(config)));
    logTileCounts();
    return end;
}

// The exit code of a batch that ran: a stop, then lost features, then how
// the images went.
int exitCodeOf(BatchEnd end, const FrameReadLoss& loss)
{
    Logger& log = Logger::instance();
    if (!end.stopped && stopArrived(end.stopped)) {
        logStopped();  // the stop came once the batch had finished its reports
    }
    if (end.stopped) {
        return ExitStopped;
    }
    if (end.journalLocked || end.retryRefused) {
        return ExitConfigOrTaskFailure;  // nothing was rendered or changed
    }
    if (loss.lost) {
        // The frames that were read are rendered, but the run is not complete.
        log.error(runMessage(RunMessage::FeaturesLost, {std::to_string(loss.read), std::to_string(loss.declared),
                                                        std::to_string(loss.unreadable)}));
        return ExitRenderFailure;
    }
    return end.succeeded ? ExitSuccess : ExitRenderFailure;
}

// The run once the output folder is ready.
int renderTask(const RenderConfig& config)
{
    std::unique_ptr<ShardScene> shardScene = ShardScene::open(config);
    if (!shardScene) {
        return ExitNoScene;
    }
    PreparedFrames prepared;
    const int framesReady = prepareFrames(config, shardScene->root(), shardScene->lazy().origin(), prepared);
    if (framesReady != ExitSuccess) {
        return framesReady;
    }
    const BatchEnd end = renderFrames(config, *shardScene, prepared.frames, prepared.placement.systems);
    logFeaturesWithoutFrame(prepared.loss);
    flushGdalMessageCounts();
    prepared.frames.clear();
    shardScene.reset();
    return exitCodeOf(end, prepared.loss);
}

}  // namespace

namespace {

// "(x0, y0) - (x1, y1)" without exponents: 3390330.5, not 3.39033e+06.
std::string plainExtent(const Extent2& extent)
{
    if (extent.empty) {
        return "(empty)";
    }
    const auto number = [](double value) { return plainNumber(value, 3); };
    return "(" + number(extent.minX) + ", " + number(extent.minY) + ") - (" + number(extent.maxX) + ", " +
           number(extent.maxY) + ")";
}

// When no frame lies over the model: logs the ERROR with both extents and
// both systems and returns true. The frames' extent is given as read, in
// their own system (`framesAsRead`), so that the user finds the numbers of
// the data; both in plain decimals.
bool nothingToRender(const std::vector<PolygonFrame>& frames, const Extent2& modelExtent, const RunSystems& systems,
                     const Extent2& framesAsRead)
{
    if (anyFrameOverlaps(frames, modelExtent)) {
        return false;
    }
    Logger::instance().error(
        runMessage(RunMessage::NoFrameOverModel, {plainExtent(framesAsRead), shortName(systems.frames),
                                                  plainExtent(modelExtent), shortName(systems.model)}));
    return true;
}

std::vector<PolygonFrame> readFrames(const RenderConfig& config, FrameReadLoss& loss, FrameSource& source)
{
    setVectorFailureSink(logVectorFailure);
    try {
        return readPolygonFrames(frameReadOptions(config), &loss, &source);
    } catch (const AttributeFilterError& e) {
        Logger::instance().error(runMessage(RunMessage::ConfigWhere, {e.layer(), e.what()}));
        throw;
    }
}

}  // namespace

int prepareFrames(const RenderConfig& config, osg::Node* scene, const SceneOrigin& origin, PreparedFrames& prepared)
{
    Logger& log = Logger::instance();
    FrameSource source;
    std::vector<PolygonFrame>& frames = prepared.frames;
    try {
        frames = readFrames(config, prepared.loss, source);
    } catch (const AttributeFilterError&) {
        return ExitConfigOrTaskFailure;
    }
    warnFeaturesWithoutFrame(prepared.loss, source.layerName);
    if (frames.empty()) {
        log.warn("No polygon or multipolygon features found in SHP. The layer " + source.layerName +
                 " holds: " + layerGeometries(prepared.loss) + (config.where.empty() ? "" : " passing where"));
        return ExitNoFrames;
    }
    prepared.modelExtent = sceneExtent(scene);
    prepared.placement = placeFrames(config, {origin.srs, origin.sourcePath}, source, frames, prepared.modelExtent,
                                     [] { return stopRequested(); });

    if (config.preview_limit >= 1 && frames.size() > static_cast<std::size_t>(config.preview_limit)) {
        frames.resize(static_cast<std::size_t>(config.preview_limit));
        log.info("Preview mode enabled. Rendering first " + std::to_string(config.preview_limit) + " frames.");
    }
    if (stopRequested()) {
        // Stopped while the frames were moved: the batch writes its report at once.
        return ExitSuccess;
    }
    return nothingToRender(frames, prepared.modelExtent, prepared.placement.systems, prepared.placement.sourceExtent)
               ? ExitNothingToRender
               : ExitSuccess;
}

namespace {

// Whether the output folder holds a run journal of any batch.
bool holdsJournal(const std::string& outputDir)
{
    std::error_code ec;
    const fs::path folder = fs::path(journalPath(outputDir, 0, 1)).parent_path();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename().string().rfind("journal-", 0) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

int runRenderTask(RenderConfig config)
{
    if (config.retry_failed_only && !holdsJournal(config.output_dir)) {
        // Refused before the folder is touched; the batch checks the journal's batch.
        Logger::instance().error(runMessage(RunMessage::ConfigRetryWithoutJournal, {config.output_dir}));
        return ExitConfigOrTaskFailure;
    }
    try {
        prepareOutputFolder(config);
        return renderTask(config);
    } catch (const std::exception& e) {
        Logger::instance().error(runMessage(RunMessage::TaskFailed, {e.what()}));
        return ExitConfigOrTaskFailure;
    }
}

}  // namespace vistrel
