#pragma once

#include "core/PolygonFrame.h"

#include <cstddef>
#include <vector>

namespace vistrel {

// True when ring `ring` of the frame is a hole.
bool isHoleRing(const PolygonFrame& frame, std::size_t ring);

// True when (x, y) lies in the frame's area: inside a part's exterior ring and
// outside that part's holes. A frame without rings covers its bounds.
bool insideFrameArea(const PolygonFrame& frame, double x, double y);

// Distance from (x, y) to the nearest edge of any ring, holes included
// (to the bounds' edges for a frame without rings).
double distanceToFrameEdge(const PolygonFrame& frame, double x, double y);

// True when (x, y) lies in the frame's area or within `margin` of its edge.
bool nearFrameArea(const PolygonFrame& frame, double x, double y, double margin);

// nearFrameArea for many points of one line across y at a time, with the
// same answers: the line's crossings with every ring and the edges that come
// within the margin of it are found once per line.
class FrameAreaLine {
public:
    FrameAreaLine(const PolygonFrame& frame, double margin);
    void moveTo(double y);
    // nearFrameArea(frame, x, y, margin) on the line moveTo set.
    bool near(double x) const;

private:
    struct Edge {
        RingPoint a;
        RingPoint b;
    };
    std::vector<std::vector<RingPoint>> rings_;
    std::vector<bool> holes_;
    double margin_;
    double slack_;  // rounding of a point along an edge
    double y_ = 0.0;
    std::vector<std::vector<double>> crossings_;  // per ring, where its edges cross the line
    std::vector<Edge> nearEdges_;  // the edges within the margin of the line
};

// The area of the frame's polygons, holes taken out, in square scene units
// (the bounds' area for a frame without rings).
double frameAreaSize(const PolygonFrame& frame);

// A grid of cells over the plane: cell (column, row) spans
// originX + column * cellX .. + cellX, and the same for rows upwards.
struct AreaGrid {
    double originX = 0.0;
    double originY = 0.0;
    double cellX = 1.0;
    double cellY = 1.0;
    int columns = 0;
    int rows = 0;
};

// A run of cells of one grid row: columns first .. last - 1.
struct CellSpan {
    int row = 0;
    int first = 0;
    int last = 0;
};

// The cells of `grid` whose centre lies in the frame's area, as runs, row by
// row from the bottom and left to right, none empty. Scan lines with the
// even-odd rule, which agrees with insideFrameArea for parts that do not
// overlap.
std::vector<CellSpan> frameAreaSpans(const PolygonFrame& frame, const AreaGrid& grid);

// One byte per cell of `grid`, row by row from the bottom: 1 where the cell
// lies in frameAreaSpans, else 0.
std::vector<unsigned char> frameAreaMask(const PolygonFrame& frame, const AreaGrid& grid);

}  // namespace vistrel
