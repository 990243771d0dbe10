#pragma once

#include "core/PolygonFrame.h"
#include "core/Extent2.h"
#include "vector/CoordinateSystem.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace vistrel {

// The joint bounds of the frames that have valid bounds and can be placed.
Extent2 framesExtent(const std::vector<PolygonFrame>& frames);
// True when at least one frame that can be placed has bounds overlapping `model`.
bool anyFrameOverlaps(const std::vector<PolygonFrame>& frames, const Extent2& model);

enum class FramePlacement {
    AsRead,  // same systems, or one unknown, or never
    AsReadSystemsDiffer,  // the systems differ but the frames lie over the model
    Transform,  // into the model's system
};

// `mode` is reproject_frames: auto, always or never.
FramePlacement decideFramePlacement(const std::string& mode, bool bothKnown, bool sameSystems, bool framesOverModel);

// What transformFrames did.
struct FrameTransform {
    std::string description;  // the transformation, for the log
    std::size_t moved = 0;  // frames now in the model's system
    std::size_t unusable = 0;  // frames left as read, their `unusable` saying why
    std::size_t points = 0;  // ring points of the moved frames
    std::size_t added = 0;  // of them, inserted where an edge bends
    bool stopped = false;  // `stop` said so: the frames not reached stay as read
};

// Returns true when the work should end (a stop signal).
using StopCheck = std::function<bool()>;

// Moves every ring point from `from` into `to` and recomputes the bounds
// from the moved rings. The vertices are moved, and where the straight edge
// between two of them (straight in `from`) bends in `to` by more than 1 cm,
// or is longer than 10 km there, points are inserted along it, halving it
// until it no longer does or is 1 m long in `from`. Longitudes of a
// geographic `from` are taken the short way across the antimeridian. For an
// ENU `to` the points go through WGS 84 geocentric coordinates into the
// topocentric frame of its tangent point. A frame whose points cannot all be
// moved to finite coordinates, or whose edges would take more than
// kMaxFramePoints points, keeps its points as read and gets the reason in
// `unusable`. Throws std::runtime_error only when PROJ cannot transform
// between the two systems at all. `stop` is asked often enough to be
// honoured within a fraction of a second.
FrameTransform transformFrames(std::vector<PolygonFrame>& frames, const CoordinateSystem& from,
                               const CoordinateSystem& to, const StopCheck& stop = {});

// The most ring points a frame may have once moved.
inline constexpr std::size_t kMaxFramePoints = 250000;

}  // namespace vistrel
