#include "app/FrameSystems.h"

#include "core/Logger.h"
#include "core/RunProtocol.h"

#include <ogr_spatialref.h>

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

}  // namespace

RunSystems resolveRunSystems(const RenderConfig& config, const SceneOrigin& origin, const FrameSource& source)
{
    RunSystems systems;
    systems.model = config.model_srs.empty() ? declaredSystem(origin.srs, "model's SRS of metadata.xml", false)
                                             : configuredSystem(config.model_srs, "model_srs");
    systems.frames = config.frames_crs.empty() ? declaredSystem(source.crsWkt, "frames' CRS", true)
                                               : configuredSystem(config.frames_crs, "frames_crs");
    Logger::instance().info("Model SRS: " + shortName(systems.model) + "; frames CRS: " + shortName(systems.frames));
    return systems;
}

void placeFramesInModel(const RenderConfig& config, const RunSystems& systems, const FrameSource& source,
                        std::vector<PolygonFrame>& frames, const Extent2& modelExtent)
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
        log.warn("The declared coordinate systems differ (model " + shortName(systems.model) + ", frames " +
                 shortName(systems.frames) + "), but reproject_frames is " + config.reproject_frames +
                 (config.reproject_frames == "never" ? "" : " and the frames lie over the model") +
                 ": the frames are used as read.");
        return;
    }
    if (placement != FramePlacement::Transform) {
        if (config.reproject_frames == "always" && !bothKnown) {
            log.warn("reproject_frames is always, but the " +
                     std::string(systems.model.known() ? "frames' CRS" : "model's SRS") +
                     " is unknown: the frames are used as read.");
        }
        return;
    }
    log.info("Transforming frames from " + shortName(systems.frames) + " to " + shortName(systems.model) +
             " (edges densified to 1 m): " + transformFrames(frames, asRead, systems.model));
    log.info("Frames before: " + before.text() + "; after: " + framesExtent(frames).text());
}

bool nothingToRender(const std::vector<PolygonFrame>& frames, const Extent2& modelExtent, const RunSystems& systems)
{
    if (anyFrameOverlaps(frames, modelExtent)) {
        return false;
    }
    Logger::instance().error(
        runMessage(RunMessage::NoFrameOverModel, {framesExtent(frames).text(), shortName(systems.frames),
                                                  modelExtent.text(), shortName(systems.model)}));
    return true;
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

}  // namespace vistrel
