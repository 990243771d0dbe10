#pragma once

#include "core/PlanProtocol.h"
#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"
#include "vector/CoordinateSystem.h"
#include "vector/FrameReprojection.h"
#include "vector/PolygonFrameReader.h"
#include "model/SceneOrigin.h"

#include <string>
#include <vector>

namespace vistrel {

// The model's and the frames' coordinate systems of a run.
struct RunSystems {
    CoordinateSystem model;
    CoordinateSystem frames;  // as declared by the source (before the zone prefix is taken off)
};

// model_srs / frames_crs when set (bad text throws std::invalid_argument),
// else what metadata.xml and the vector source declare (a declaration that
// cannot be read is logged as a WARN and counts as unknown). Logs
// "Model SRS: …; frames CRS: …".
RunSystems resolveRunSystems(const RenderConfig& config, const SceneOrigin& origin, const FrameSource& source);

// What placeFramesInModel decided, in the plan's words.
struct FramesPlaced {
    PlanSystems systems = PlanSystems::Unknown;
    std::string why;  // for frames kept as read and unknown systems
};

// Moves the frames into the model's coordinates when reproject_frames and
// the two systems call for it, logging what was done; frames that already
// lie over the model while the systems differ stay, with a WARN. Frames that
// cannot be moved keep their reason in `unusable` (one WARN counts them and
// names the first); a stop signal ends the move early.
FramesPlaced placeFramesInModel(const RenderConfig& config, const RunSystems& systems, const FrameSource& source,
                                std::vector<PolygonFrame>& frames, const Extent2& modelExtent);

// When no frame lies over the model: logs the ERROR with both extents and
// both systems and returns true. The frames' extent is given as read, in
// their own system (`framesAsRead`), so that the user finds the numbers of
// the data; both in plain decimals.
bool nothingToRender(const std::vector<PolygonFrame>& frames, const Extent2& modelExtent, const RunSystems& systems,
                     const Extent2& framesAsRead);

// The .prj text of the model's system: ESRI WKT for a CRS, empty for ENU
// (no CRS names a local tangent frame) and for an unknown system.
std::string prjText(const CoordinateSystem& model);

// The system a georeferenced picture file stores: the model's CRS as WKT, a
// local engineering system in metres east and north for an ENU model, empty
// for an unknown one.
std::string storedCrsText(const CoordinateSystem& model);

}  // namespace vistrel
