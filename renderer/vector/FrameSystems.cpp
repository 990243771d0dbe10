#include "vector/FrameSystems.h"

#include "core/Logger.h"
#include "core/RunProtocol.h"

#include <ogr_spatialref.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace vistrel {

namespace {

// A declared system: unknown, with a WARN, when it cannot be read.
CoordinateSystem declaredSystem(const std::string& text, const char* what, bool wkt)
{
    try {
        return wkt ? coordinateSystemFromWkt(text) : parseCoordinateSystem(text);
    } catch (const std::exception& e) {
        Logger::instance().warn(std::string("The ") + what + " cannot be used and counts as unknown: " + e.what());
        return {};
    }
}

CoordinateSystem configuredSystem(const std::string& text, const char* key)
{
    try {
        return parseCoordinateSystem(text);
    } catch (const std::exception& e) {
        throw std::invalid_argument(std::string(key) + ": " + e.what());
    }
}

// One line for the frames that cannot be placed, naming the first of them;
// the batch fails their images, each with its reason.
void logUnplacedFrames(const std::vector<PolygonFrame>& frames, const FrameTransform& moved,
                       const CoordinateSystem& model)
{
    if (moved.unusable == 0) {
        return;
    }
    const auto first =
        std::find_if(frames.begin(), frames.end(), [](const PolygonFrame& frame) { return !frame.unusable.empty(); });
    Logger::instance().warn(std::to_string(moved.unusable) + " of " + std::to_string(frames.size()) +
                            " frames cannot be placed in " + shortName(model) +
                            " and their images fail; the first, frame " + first->name + ": " + first->unusable);
}

}  // namespace

namespace {

RunSystems resolveRunSystems(const RenderConfig& config, const ModelSystemText& model, const FrameSource& source)
{
    RunSystems systems;
    const std::string metadata = "model's SRS of " + (model.file.empty() ? "metadata.xml" : model.file);
    systems.model = config.model_srs.empty() ? declaredSystem(model.srs, metadata.c_str(), false)
                                             : configuredSystem(config.model_srs, "model_srs");
    systems.frames = config.frames_crs.empty() ? declaredSystem(source.crsWkt, "frames' CRS", true)
                                               : configuredSystem(config.frames_crs, "frames_crs");
    Logger::instance().info("Model SRS: " + shortName(systems.model) + "; frames CRS: " + shortName(systems.frames));
    return systems;
}

FramesPlaced placeFramesInModel(const RenderConfig& config, const RunSystems& systems, const FrameSource& source,
                                std::vector<PolygonFrame>& frames, const Extent2& modelExtent,
                                const std::function<bool()>& stop)
{
    Logger& log = Logger::instance();
    // The coordinates as read have lost the zone prefix.
    const CoordinateSystem asRead = strippedSystem(systems.frames, source.zonePrefix);
    const bool bothKnown = systems.model.known() && systems.frames.known();
    const Extent2 before = framesExtent(frames);
    const FramePlacement placement =
        decideFramePlacement(config.reproject_frames, bothKnown, bothKnown && sameSystem(asRead, systems.model),
                             before.overlaps(modelExtent));
    if (placement == FramePlacement::AsReadSystemsDiffer) {
        const std::string why = "reproject_frames is " + config.reproject_frames +
                                (config.reproject_frames == "never" ? "" : " and the frames lie over the model");
        log.warn("The declared coordinate systems differ (model " + shortName(systems.model) + ", frames " +
                 shortName(systems.frames) + "), but " + why + ": the frames are used as read.");
        return {PlanSystems::KeptAsRead, why};
    }
    if (placement != FramePlacement::Transform) {
        const std::string unknown =
            std::string(systems.model.known() ? "the frames' CRS" : "the model's SRS") + " is unknown";
        if (config.reproject_frames == "always" && !bothKnown) {
            log.warn("reproject_frames is always, but " + unknown + ": the frames are used as read.");
        }
        return bothKnown ? FramesPlaced{PlanSystems::Same, ""} : FramesPlaced{PlanSystems::Unknown, unknown};
    }
    log.info("Transforming frames from " + shortName(systems.frames) + " to " + shortName(systems.model) +
             " (each vertex moved; points added where an edge bends more than 1 cm)");
    const FrameTransform moved = transformFrames(frames, asRead, systems.model, stop);
    log.info("Transformation: " + moved.description + "; " + std::to_string(moved.points) + " ring points, " +
             std::to_string(moved.added) + " of them added along bent edges");
    log.info("Frames before: " + before.text() + "; after: " + framesExtent(frames).text());
    logUnplacedFrames(frames, moved, systems.model);
    if (moved.stopped) {
        log.warn(runMessage(RunMessage::StoppedWhileTransforming,
                            {std::to_string(moved.moved), std::to_string(frames.size())}));
    }
    return {PlanSystems::Transformed, ""};
}

// The frames' extent as the source gives them: the zone prefix put back on x
// and the offsets taken off.
Extent2 sourceExtentOf(const RenderConfig& config, const std::vector<PolygonFrame>& frames, double zonePrefix)
{
    const Extent2 read = framesExtent(frames);
    Extent2 source;
    if (!read.empty) {
        source.add(read.minX + zonePrefix - config.shp_offset_x, read.minY - config.shp_offset_y,
                   read.maxX + zonePrefix - config.shp_offset_x, read.maxY - config.shp_offset_y);
    }
    return source;
}

}  // namespace

FramesInModel placeFrames(const RenderConfig& config, const ModelSystemText& model, const FrameSource& source,
                          std::vector<PolygonFrame>& frames, const Extent2& modelExtent,
                          const std::function<bool()>& stop)
{
    FramesInModel placed;
    placed.systems = resolveRunSystems(config, model, source);
    placed.sourceExtent = sourceExtentOf(config, frames, source.zonePrefix);
    placed.placed = placeFramesInModel(config, placed.systems, source, frames, modelExtent, stop);
    return placed;
}

std::string prjText(const CoordinateSystem& model)
{
    OGRSpatialReference srs;
    if (model.kind != CoordinateSystem::Kind::Crs || srs.importFromWkt(model.wkt.c_str()) != OGRERR_NONE) {
        return {};
    }
    char* wkt = nullptr;
    const char* const options[] = {"FORMAT=WKT1_ESRI", nullptr};
    srs.exportToWkt(&wkt, options);
    std::string text = wkt ? wkt : "";
    CPLFree(wkt);
    return text;
}

std::string storedCrsText(const CoordinateSystem& model)
{
    if (model.kind == CoordinateSystem::Kind::Crs) {
        return model.wkt;
    }
    if (model.kind != CoordinateSystem::Kind::Enu) {
        return {};
    }
    char name[160];
    std::snprintf(name, sizeof name, "East-North-Up at %.9f,%.9f,%.3f", model.enuLat, model.enuLon, model.enuHeight);
    return std::string("LOCAL_CS[\"") + name + "\",LOCAL_DATUM[\"" + name +
           "\",0],UNIT[\"metre\",1],AXIS[\"Easting\",EAST],AXIS[\"Northing\",NORTH]]";
}

}  // namespace vistrel
