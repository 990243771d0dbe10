#pragma once

// The lines `Vistrel --plan <config>` prints (as INFO log lines) to say what
// a run would do: the model's root tiles, every frame with its overlap and
// rings, and a summary. Vistrel builds them and Tavrin reads them through
// these functions only.
//
//   Plan tile 3/120: 500.5 -20 700 180
//   Plan tiles: 25000 root tiles, more than 20000 lines; 400 grid cells follow
//   Plan cell 7/400 (63 tiles): 0 0 250 250
//   Plan frame 3/40 over (2 rings): 名称 | outer 0 0 10 0 10 10 | hole 2 2 3 2 3 3
//   Plan summary: frames=40 over=30 partly=5 outside=4 unusable=1 images_planned=120 taken_over=10
//       to_render=110 estimated_seconds=532.4 model_extent=0,0,900,700 parcels_extent=1,2,3,4
//       systems=transformed from=EPSG:4547 to=ENU why=            (one line)
//
// Numbers are plain decimals (never exponent form).

#include "core/PolygonFrame.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vistrel {

// More root tiles than this are drawn as grid cells instead.
inline constexpr int kPlanTileLineCap = 20000;
// A frame's ring is simplified to at most this many points.
inline constexpr std::size_t kPlanRingPoints = 64;

struct PlanExtent {
    double x0 = 0.0;
    double y0 = 0.0;
    double x1 = 0.0;
    double y1 = 0.0;
};

// One root tile's footprint (model coordinates, from the root's bound), or
// with tilesInCell > 0 one grid cell holding that many root tiles.
struct PlanTile {
    int tile = 0;  // 1-based
    int totalTiles = 0;
    PlanExtent footprint;
    int tilesInCell = 0;
};

// The line before the grid cells when there are too many root tiles.
struct PlanTileCells {
    int tiles = 0;
    int cells = 0;
};

// How a frame lies over the model.
enum class PlanOverlap {
    Over,  // wholly within the model's extent
    Partly,  // partly within it
    Outside,  // wholly outside it
    Unusable,  // it cannot be placed in the model's system at all
};

struct PlanRing {
    bool hole = false;
    std::vector<RingPoint> points;  // model coordinates
};

struct PlanFrame {
    int frame = 0;  // 1-based, in source order
    int totalFrames = 0;
    PlanOverlap overlap = PlanOverlap::Over;
    std::string name;
    std::vector<PlanRing> rings;  // none for an unusable frame
};

// What the run does with the frames' coordinate system.
enum class PlanSystems {
    Same,  // frames and model share one system
    Transformed,  // the frames are moved from `from` into `to`
    KeptAsRead,  // the systems differ but the frames are kept as read (`why`)
    Unknown,  // one system is unknown; the frames are used as read
};

struct PlanSummary {
    int frames = 0;
    int over = 0;
    int partly = 0;
    int outside = 0;
    int unusable = 0;
    int imagesPlanned = 0;
    int imagesTakenOver = 0;  // images a resume would take over
    int imagesToRender = 0;
    double estimatedSeconds = -1.0;  // -1 when no picture could be measured
    PlanExtent modelExtent;  // model coordinates
    PlanExtent parcelsExtent;  // the parcels' own coordinate system, as read
    PlanSystems systems = PlanSystems::Unknown;
    std::string from;  // the frames' system as named in the log
    std::string to;  // the model's
    std::string why;  // for KeptAsRead and Unknown; may be empty
};

const char* planOverlapWord(PlanOverlap overlap);  // over / partly / outside / unusable
const char* planSystemsWord(PlanSystems systems);  // same / transformed / kept / unknown

std::string formatLine(const PlanTile& line);
std::string formatLine(const PlanTileCells& line);
std::string formatLine(const PlanFrame& line);
std::string formatLine(const PlanSummary& line);

std::optional<PlanTile> parsePlanTile(std::string_view message);  // a tile or a cell line
std::optional<PlanTileCells> parsePlanTileCells(std::string_view message);
std::optional<PlanFrame> parsePlanFrame(std::string_view message);
std::optional<PlanSummary> parsePlanSummary(std::string_view message);

// The ring with at most `maxPoints` points: the points that carry its shape
// least (the smallest triangle with their neighbours) go first. A ring that
// ends on its first point keeps that closing point.
std::vector<RingPoint> simplifiedRing(const std::vector<RingPoint>& ring, std::size_t maxPoints = kPlanRingPoints);

}  // namespace vistrel
