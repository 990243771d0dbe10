#pragma once

#include "core/PolygonFrame.h"
#include "geodata/CoordinateSystem.h"

#include <string>
#include <vector>

namespace vistrel {

// An x/y rectangle; empty until something is added.
struct Extent2 {
    double minX = 0.0;
    double minY = 0.0;
    double maxX = 0.0;
    double maxY = 0.0;
    bool empty = true;
    void add(double x0, double y0, double x1, double y1);
    bool overlaps(const Extent2& other) const;
    std::string text() const;  // formatBounds of the rectangle, or "(empty)"
};

// The joint bounds of the frames that have valid bounds.
Extent2 framesExtent(const std::vector<PolygonFrame>& frames);
// True when at least one frame's bounds overlap `model`.
bool anyFrameOverlaps(const std::vector<PolygonFrame>& frames, const Extent2& model);

enum class FramePlacement {
    AsRead,  // same systems, or one unknown, or never
    AsReadSystemsDiffer,  // the systems differ but the frames lie over the model
    Transform,  // into the model's system
};

// `mode` is reproject_frames: auto, always or never.
FramePlacement decideFramePlacement(const std::string& mode, bool bothKnown, bool sameSystems, bool framesOverModel);

// Moves every ring point from `from` into `to` after densifying the edges
// to at most 1 m, and recomputes the bounds from the moved rings. For an
// ENU `to` the points go through WGS 84 geocentric coordinates into the
// topocentric frame of its tangent point. Returns a description of the
// transformation for the log; throws std::runtime_error when PROJ cannot
// transform.
std::string transformFrames(std::vector<PolygonFrame>& frames, const CoordinateSystem& from,
                            const CoordinateSystem& to);

}  // namespace vistrel
