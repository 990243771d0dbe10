#include "app/RunPlan.h"

#include "app/RenderBatch.h"
#include "app/RenderTask.h"
#include "app/ShardScene.h"
#include "core/FrameArea.h"
#include "core/Logger.h"
#include "core/NumberText.h"
#include "core/PlanProtocol.h"
#include "core/ShardPlan.h"
#include "model/FrameHeights.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <map>
#include <utility>

namespace vistrel {

namespace {

PlanExtent planExtent(const Extent2& extent)
{
    return extent.empty ? PlanExtent{} : PlanExtent{extent.minX, extent.minY, extent.maxX, extent.maxY};
}

// How the frame lies over the model, by the test the run makes (its bounds
// against the model's extent).
PlanOverlap overlapOf(const PolygonFrame& frame, const Extent2& model)
{
    if (!frame.unusable.empty()) {
        return PlanOverlap::Unusable;
    }
    Extent2 bounds;
    bounds.add(frame.minX, frame.minY, frame.maxX, frame.maxY);
    if (!bounds.overlaps(model)) {
        return PlanOverlap::Outside;
    }
    const bool within =
        frame.minX >= model.minX && frame.maxX <= model.maxX && frame.minY >= model.minY && frame.maxY <= model.maxY;
    return within ? PlanOverlap::Over : PlanOverlap::Partly;
}

// Above the cap the tiles are gathered into grid cells by their centres,
// each cell drawn as the joint footprint of its tiles.
void logTileCells(const std::vector<PlanExtent>& tiles)
{
    const int side = static_cast<int>(std::sqrt(static_cast<double>(kPlanTileLineCap) / 4.0));
    Extent2 centres;
    for (const PlanExtent& tile : tiles) {
        const double x = (tile.x0 + tile.x1) / 2.0;
        const double y = (tile.y0 + tile.y1) / 2.0;
        centres.add(x, y, x, y);
    }
    const double width = std::max(centres.maxX - centres.minX, 1e-9);
    const double height = std::max(centres.maxY - centres.minY, 1e-9);
    std::map<std::pair<int, int>, PlanTile> cells;
    for (const PlanExtent& tile : tiles) {
        const int column =
            std::min(side - 1, static_cast<int>(((tile.x0 + tile.x1) / 2.0 - centres.minX) / width * side));
        const int row =
            std::min(side - 1, static_cast<int>(((tile.y0 + tile.y1) / 2.0 - centres.minY) / height * side));
        PlanTile& cell = cells[{row, column}];
        if (cell.tilesInCell++ == 0) {
            cell.footprint = tile;
            continue;
        }
        cell.footprint = {std::min(cell.footprint.x0, tile.x0), std::min(cell.footprint.y0, tile.y0),
                          std::max(cell.footprint.x1, tile.x1), std::max(cell.footprint.y1, tile.y1)};
    }
    Logger& log = Logger::instance();
    log.info(formatLine(PlanTileCells{static_cast<int>(tiles.size()), static_cast<int>(cells.size())}));
    int number = 0;
    for (auto& [at, cell] : cells) {
        cell.tile = ++number;
        cell.totalTiles = static_cast<int>(cells.size());
        log.info(formatLine(cell));
    }
}

// One line per root tile the model places, or its grid cells above the cap.
void logTiles(const LazyScene& scene)
{
    std::vector<PlanExtent> tiles;
    for (std::size_t i = 0; i < scene.entries().size(); ++i) {
        PlanExtent tile;
        if (scene.grid().footprint(i, tile.x0, tile.y0, tile.x1, tile.y1)) {
            tiles.push_back(tile);
        }
    }
    if (tiles.size() > static_cast<std::size_t>(kPlanTileLineCap)) {
        logTileCells(tiles);
        return;
    }
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        Logger::instance().info(
            formatLine(PlanTile{static_cast<int>(i + 1), static_cast<int>(tiles.size()), tiles[i], 0}));
    }
}

PlanFrame planFrame(const PolygonFrame& frame, std::size_t position, std::size_t total, PlanOverlap overlap)
{
    PlanFrame line{static_cast<int>(position + 1), static_cast<int>(total), overlap, frame.name, {}};
    if (overlap == PlanOverlap::Unusable) {
        return line;  // its points are not in the model's system
    }
    for (std::size_t i = 0; i < frame.rings.size(); ++i) {
        line.rings.push_back(PlanRing{isHoleRing(frame, i), simplifiedRing(frame.rings[i])});
    }
    return line;
}

// The frames of this shard, one line each, counted by overlap in `summary`;
// the overlap of every frame of the layer is returned.
std::vector<PlanOverlap> logFrames(const RenderConfig& config, const PreparedFrames& prepared, PlanSummary& summary)
{
    const ShardPlan shard = ShardPlan::of(config);
    const std::vector<PolygonFrame>& frames = prepared.frames;
    std::vector<PlanOverlap> overlaps;
    for (std::size_t p = 0; p < frames.size(); ++p) {
        overlaps.push_back(overlapOf(frames[p], prepared.modelExtent));
        if (!shard.owns(p)) {
            continue;
        }
        ++summary.frames;
        int* counts[] = {&summary.over, &summary.partly, &summary.outside, &summary.unusable};
        ++*counts[static_cast<int>(overlaps.back())];
        Logger::instance().info(formatLine(planFrame(frames[p], p, frames.size(), overlaps.back())));
    }
    return overlaps;
}

// The seconds the images to render take, from one picture of the first frame
// over the model that has one to render; -1 when none could be drawn.
double estimateSeconds(RenderBatch& batch, ShardScene& scene, std::vector<PolygonFrame>& frames,
                       const RenderBatch::Plan& plan, const std::vector<PlanOverlap>& overlaps)
{
    if (plan.imagesToRender() == 0) {
        return 0.0;
    }
    for (std::size_t p = 0; p < frames.size(); ++p) {
        if (plan.toRender[p] > 0 && (overlaps[p] == PlanOverlap::Over || overlaps[p] == PlanOverlap::Partly)) {
            const double seconds = batch.measurePicture(scene.root(), frames[p], p);
            Logger::instance().info("Plan: one picture of frame " + frames[p].name + " took " +
                                    plainNumber(seconds, 3) + " s");
            return seconds < 0.0 ? -1.0 : seconds * plan.imagesToRender();
        }
    }
    return -1.0;
}

int planTask(const RenderConfig& config)
{
    const std::unique_ptr<ShardScene> scene = ShardScene::open(config, ShardScene::kKeptRoots, false);
    if (!scene) {
        return ExitNoScene;
    }
    PreparedFrames prepared;
    const int framesReady = prepareFrames(config, scene->root(), scene->lazy().origin(), prepared);
    if (framesReady != ExitSuccess && framesReady != ExitNothingToRender) {
        return framesReady;
    }
    std::vector<PolygonFrame>& frames = prepared.frames;
    resetFrameHeights(frames, scene->root());
    BatchOptions options;
    options.beforeFrame = [&scene, &frames](std::size_t position, OffscreenRenderer& renderer) {
        scene->prepareFrame(frames[position], renderer);
    };
    RenderBatch batch(config, options);
    batch.setModel(scene->lazy().identity());
    const RenderBatch::Plan plan = batch.plan(frames);
    if (plan.refused) {
        return ExitConfigOrTaskFailure;
    }
    logTiles(scene->lazy());
    PlanSummary summary;
    const std::vector<PlanOverlap> overlaps = logFrames(config, prepared, summary);
    summary.imagesPlanned = plan.imagesPlanned;
    summary.imagesTakenOver = plan.imagesTakenOver;
    summary.imagesToRender = plan.imagesToRender();
    summary.estimatedSeconds =
        framesReady == ExitSuccess ? estimateSeconds(batch, *scene, frames, plan, overlaps) : -1.0;
    summary.modelExtent = planExtent(prepared.modelExtent);
    summary.parcelsExtent = planExtent(prepared.placement.sourceExtent);
    summary.systems = prepared.placement.placed.systems;
    summary.from = shortName(prepared.placement.systems.frames);
    summary.to = shortName(prepared.placement.systems.model);
    summary.why = prepared.placement.placed.why;
    Logger::instance().info(formatLine(summary));
    return framesReady;
}

}  // namespace

int runPlan(const RenderConfig& config)
{
    try {
        return planTask(config);
    } catch (const std::exception& e) {
        Logger::instance().error(runMessage(RunMessage::TaskFailed, {e.what()}));
        return ExitConfigOrTaskFailure;
    }
}

}  // namespace vistrel
