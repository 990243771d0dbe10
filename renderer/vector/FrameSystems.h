#pragma once

#include "core/PlanProtocol.h"
#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"
#include "vector/CoordinateSystem.h"
#include "vector/FrameReprojection.h"
#include "vector/PolygonFrameReader.h"

#include <functional>
#include <string>
#include <vector>

namespace vistrel {

// The model's and the frames' coordinate systems of a run.
struct RunSystems {
    CoordinateSystem model;
    CoordinateSystem frames;  // as declared by the source (before the zone prefix is taken off)
};

// What placeFrames decided, in the plan's words.
struct FramesPlaced {
    PlanSystems systems = PlanSystems::Unknown;
    std::string why;  // for frames kept as read and unknown systems
};

// What the model says of its coordinate system: the SRS text it declares
// (empty: none) and the file that declares it, for messages.
struct ModelSystemText {
    std::string srs;
    std::string file;
};

// Where a run's frames went: both systems and what was done to place them.
struct FramesInModel {
    RunSystems systems;
    FramesPlaced placed;
    // The frames' extent in their source's own numbers (zone prefix on,
    // offsets off), before any transformation.
    Extent2 sourceExtent;
};

// The one decision of where the frames go. The systems: model_srs /
// frames_crs when set (bad text throws std::invalid_argument), else what the
// model and the vector source declare (a declaration that cannot be read is
// logged as a WARN and counts as unknown); logs "Model SRS: …; frames CRS:
// …". Then the frames are moved into the model's coordinates when
// reproject_frames and the two systems call for it, logging what was done;
// frames that already lie over the model while the systems differ stay, with
// a WARN. Frames that cannot be moved keep their reason in `unusable` (one
// WARN counts them and names the first); `stop` ends the move early.
FramesInModel placeFrames(const RenderConfig& config, const ModelSystemText& model, const FrameSource& source,
                          std::vector<PolygonFrame>& frames, const Extent2& modelExtent,
                          const std::function<bool()>& stop);

// The .prj text of the model's system: ESRI WKT for a CRS, empty for ENU
// (no CRS names a local tangent frame) and for an unknown system.
std::string prjText(const CoordinateSystem& model);

// The system a georeferenced picture file stores: the model's CRS as WKT, a
// local engineering system in metres east and north for an ENU model, empty
// for an unknown one.
std::string storedCrsText(const CoordinateSystem& model);

}  // namespace vistrel
