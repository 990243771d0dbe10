#include "app/RenderTask.h"

#include "app/FrameSystems.h"
#include "app/RenderBatch.h"
#include "app/ShardScene.h"
#include "app/StopSignal.h"
#include "core/Logger.h"
#include "geodata/FrameHeights.h"
#include "geodata/PolygonFrameReader.h"
#include "geodata/SceneExtent.h"
#include "geodata/SceneLoader.h"
#include "geodata/TileReadLedger.h"
#include "output/StagedFile.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

// The frames of this shard (their heights are measured as each is rendered).
std::vector<PolygonFrame> framesOfShard(const std::vector<PolygonFrame>& frames, int shard, int shards)
{
    std::vector<PolygonFrame> mine;
    const std::size_t step = static_cast<std::size_t>(std::max(1, shards));
    for (std::size_t i = static_cast<std::size_t>(std::max(0, shard)); i < frames.size(); i += step) {
        mine.push_back(frames[i]);
    }
    return mine;
}

// Reads the frames, moves them into the model's coordinates when that is
// called for and applies the preview limit. ExitSuccess when some frame lies
// over the model.
int prepareFrames(const RenderConfig& config, osg::Node* scene, const SceneOrigin& origin, FrameReadLoss& loss,
                  std::vector<PolygonFrame>& frames, RunSystems& systems)
{
    Logger& log = Logger::instance();
    FrameSource source;
    frames = readPolygonFrames(frameReadOptions(config), &loss, &source);
    if (frames.empty()) {
        log.warn("No polygon or multipolygon features found in SHP.");
        return ExitNoFrames;
    }
    systems = resolveRunSystems(config, origin, source);
    const Extent2 modelExtent = sceneExtent(scene);
    placeFramesInModel(config, systems, source, frames, modelExtent);

    if (config.preview_limit >= 1 && frames.size() > static_cast<std::size_t>(config.preview_limit)) {
        frames.resize(static_cast<std::size_t>(config.preview_limit));
        log.info("Preview mode enabled. Rendering first " + std::to_string(config.preview_limit) + " frames.");
    }
    return nothingToRender(frames, modelExtent, systems) ? ExitNothingToRender : ExitSuccess;
}

// The tiles that were missing or refused, counted once each.
void logTileCounts()
{
    const TileReadCounts tiles = tileReadCounts();
    Logger::instance().info(
        "Tiles missing: " + std::to_string(tiles.missing) + ", refused: " + std::to_string(tiles.refused) + " (and " +
        std::to_string(tiles.repeatRequests) + " more requests for them, answered without reading)");
}

}  // namespace

int runRenderTask(RenderConfig config)
{
    Logger& log = Logger::instance();
    try {
        const fs::path outputDir(config.output_dir);
        std::error_code ec;
        fs::create_directories(outputDir, ec);
        if (ec) {
            throw fs::filesystem_error("create_directories", outputDir, ec);
        }
        log.info("Starting Vistrel.");
        // Temporary files of writers that were killed; live ones are left alone.
        const int stale = removeStaleTemporaryFiles(config.output_dir);
        if (stale > 0) {
            log.info("Removed " + std::to_string(stale) + " stale temporary files below " + config.output_dir);
        }

        std::unique_ptr<ShardScene> shardScene = ShardScene::open(config);
        if (!shardScene) {
            return ExitNoScene;
        }
        osg::ref_ptr<osg::Node> scene = shardScene->root();
        ModelIdentity model = shardScene->lazy().identity();
        const SceneOrigin origin = shardScene->lazy().origin();

        FrameReadLoss loss;
        std::vector<PolygonFrame> frames;
        RunSystems systems;
        const int framesReady = prepareFrames(config, scene.get(), origin, loss, frames, systems);
        if (framesReady != ExitSuccess) {
            return framesReady;
        }

        resetFrameHeights(frames, scene.get());
        if (config.auto_align_shp_to_scene) {
            checkFramesNearScene(frames, scene.get());
        }
        // A stop before the batch still gets its report (every image 未完成):
        // the batch sees the stop at once and writes it.
        bool succeeded = false;
        bool stopped = false;
        {
            BatchOptions options;
            options.worldFileCrs = prjText(systems.model);
            options.beforeFrame = [&shardScene, &frames](std::size_t position, OffscreenRenderer& renderer) {
                shardScene->prepareFrame(frames[position], renderer);
            };
            RenderBatch batch(config, options);
            batch.setModel(std::move(model));
            succeeded = batch.run(scene.get(), frames);
            stopped = batch.stopped();
        }
        logSampledHeights(scene.get(), framesOfShard(frames, config.shard_index, config.shard_count));
        logTileCounts();
        frames.clear();
        scene = nullptr;
        shardScene.reset();
        if (!stopped && stopRequested()) {
            // The stop came once the batch had finished its reports.
            log.warn("Stopped by signal");
            stopped = true;
        }
        if (stopped) {
            return ExitStopped;
        }
        if (loss.lost) {
            // The frames that were read are rendered, but the run is not complete.
            log.error(runMessage(RunMessage::FeaturesLost, {std::to_string(loss.read), std::to_string(loss.declared),
                                                            std::to_string(loss.unreadable)}));
            return ExitRenderFailure;
        }
        return succeeded ? ExitSuccess : ExitRenderFailure;
    } catch (const std::exception& e) {
        log.error(runMessage(RunMessage::TaskFailed, {e.what()}));
        return ExitConfigOrTaskFailure;
    }
}

}  // namespace vistrel
