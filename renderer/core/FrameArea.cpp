#include "core/FrameArea.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace vistrel {

namespace {

// Whether the edge a-b crosses the line y (half-open in y), and at which x.
bool crossesLine(const RingPoint& a, const RingPoint& b, double y, double& x)
{
    if ((a.y > y) == (b.y > y)) {
        return false;
    }
    x = (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x;
    return true;
}

// Crossing test; the ring may be closed or open.
bool insideRing(const std::vector<RingPoint>& ring, double x, double y)
{
    bool inside = false;
    const std::size_t n = ring.size();
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        double crossing = 0.0;
        if (crossesLine(ring[i], ring[j], y, crossing) && x < crossing) {
            inside = !inside;
        }
    }
    return inside;
}

double segmentDistance(const RingPoint& a, const RingPoint& b, double x, double y)
{
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double lengthSquared = dx * dx + dy * dy;
    double t = 0.0;
    if (lengthSquared > 0.0) {
        t = std::clamp(((x - a.x) * dx + (y - a.y) * dy) / lengthSquared, 0.0, 1.0);
    }
    return std::hypot(a.x + t * dx - x, a.y + t * dy - y);
}

double ringDistance(const std::vector<RingPoint>& ring, double x, double y)
{
    double nearest = std::numeric_limits<double>::infinity();
    const std::size_t n = ring.size();
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        nearest = std::min(nearest, segmentDistance(ring[j], ring[i], x, y));
    }
    return nearest;
}

std::vector<RingPoint> boundsRing(const PolygonFrame& frame)
{
    return {{frame.minX, frame.minY}, {frame.maxX, frame.minY}, {frame.maxX, frame.maxY}, {frame.minX, frame.maxY}};
}

}  // namespace

bool isHoleRing(const PolygonFrame& frame, std::size_t ring)
{
    return ring < frame.ringIsHole.size() && frame.ringIsHole[ring];
}

bool insideFrameArea(const PolygonFrame& frame, double x, double y)
{
    if (frame.rings.empty()) {
        return insideRing(boundsRing(frame), x, y);
    }
    bool inPart = false;  // inside the current part's exterior and none of its holes so far
    for (std::size_t i = 0; i < frame.rings.size(); ++i) {
        const std::vector<RingPoint>& ring = frame.rings[i];
        if (ring.empty()) {
            continue;
        }
        if (!isHoleRing(frame, i)) {
            if (inPart) {
                return true;
            }
            inPart = insideRing(ring, x, y);
        } else if (inPart && insideRing(ring, x, y)) {
            inPart = false;
        }
    }
    return inPart;
}

double distanceToFrameEdge(const PolygonFrame& frame, double x, double y)
{
    if (frame.rings.empty()) {
        return ringDistance(boundsRing(frame), x, y);
    }
    double nearest = std::numeric_limits<double>::infinity();
    for (const std::vector<RingPoint>& ring : frame.rings) {
        if (!ring.empty()) {
            nearest = std::min(nearest, ringDistance(ring, x, y));
        }
    }
    return nearest;
}

bool nearFrameArea(const PolygonFrame& frame, double x, double y, double margin)
{
    return insideFrameArea(frame, x, y) || distanceToFrameEdge(frame, x, y) <= margin;
}

FrameAreaLine::FrameAreaLine(const PolygonFrame& frame, double margin) : margin_(margin)
{
    rings_ = frame.rings.empty() ? std::vector<std::vector<RingPoint>>{boundsRing(frame)} : frame.rings;
    double largest = 0.0;
    for (std::size_t i = 0; i < rings_.size(); ++i) {
        holes_.push_back(!frame.rings.empty() && isHoleRing(frame, i));
        for (const RingPoint& p : rings_[i]) {
            largest = std::max({largest, std::fabs(p.x), std::fabs(p.y)});
        }
    }
    slack_ = 1e-6 * (1.0 + largest);
    crossings_.resize(rings_.size());
}

void FrameAreaLine::moveTo(double y)
{
    y_ = y;
    nearEdges_.clear();
    for (std::size_t r = 0; r < rings_.size(); ++r) {
        const std::vector<RingPoint>& ring = rings_[r];
        std::vector<double>& crossings = crossings_[r];
        crossings.clear();
        const std::size_t n = ring.size();
        for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
            const RingPoint& a = ring[i];
            const RingPoint& b = ring[j];
            double crossing = 0.0;
            if (crossesLine(a, b, y, crossing)) {
                crossings.push_back(crossing);  // insideRing's
            }
            // An edge farther than the margin across y is farther from every
            // point of the line.
            if (std::min(a.y, b.y) - y <= margin_ + slack_ && y - std::max(a.y, b.y) <= margin_ + slack_) {
                nearEdges_.push_back({b, a});  // as ringDistance takes them
            }
        }
    }
}

bool FrameAreaLine::near(double x) const
{
    // insideFrameArea's parts and holes, with insideRing's parity.
    const auto inRing = [&](std::size_t r) {
        bool inside = false;
        for (const double crossing : crossings_[r]) {
            inside = x < crossing ? !inside : inside;
        }
        return inside;
    };
    bool inPart = false;
    bool inside = false;
    for (std::size_t r = 0; r < rings_.size() && !inside; ++r) {
        if (rings_[r].empty()) {
            continue;
        }
        if (!holes_[r]) {
            inside = inPart;
            inPart = inside || inRing(r);
        } else if (inPart && inRing(r)) {
            inPart = false;
        }
    }
    if (inside || inPart) {
        return true;
    }
    double nearest = std::numeric_limits<double>::infinity();
    for (const Edge& edge : nearEdges_) {
        nearest = std::min(nearest, segmentDistance(edge.a, edge.b, x, y_));
    }
    return nearest <= margin_;
}

double frameAreaSize(const PolygonFrame& frame)
{
    if (frame.rings.empty()) {
        return (frame.maxX - frame.minX) * (frame.maxY - frame.minY);
    }
    double area = 0.0;
    for (std::size_t r = 0; r < frame.rings.size(); ++r) {
        const std::vector<RingPoint>& ring = frame.rings[r];
        double twice = 0.0;
        for (std::size_t i = 0; i < ring.size(); ++i) {
            const RingPoint& a = ring[i];
            const RingPoint& b = ring[(i + 1) % ring.size()];
            twice += a.x * b.y - b.x * a.y;
        }
        area += (isHoleRing(frame, r) ? -0.5 : 0.5) * std::abs(twice);
    }
    return area;
}

namespace {

// The x of every crossing of the rings' edges with the line y (half-open in y,
// as insideRing counts them), sorted.
std::vector<double> rowCrossings(const std::vector<std::vector<RingPoint>>& rings, double y)
{
    std::vector<double> crossings;
    for (const std::vector<RingPoint>& ring : rings) {
        const std::size_t n = ring.size();
        for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
            double crossing = 0.0;
            if (crossesLine(ring[i], ring[j], y, crossing)) {
                crossings.push_back(crossing);
            }
        }
    }
    std::sort(crossings.begin(), crossings.end());
    return crossings;
}

}  // namespace

std::vector<CellSpan> frameAreaSpans(const PolygonFrame& frame, const AreaGrid& grid)
{
    const int columns = std::max(0, grid.columns);
    const int rows = std::max(0, grid.rows);
    const std::vector<std::vector<RingPoint>> rings =
        frame.rings.empty() ? std::vector<std::vector<RingPoint>>{boundsRing(frame)} : frame.rings;
    std::vector<CellSpan> spans;
    for (int row = 0; row < rows; ++row) {
        const std::vector<double> crossings = rowCrossings(rings, grid.originY + (row + 0.5) * grid.cellY);
        for (std::size_t k = 0; k + 1 < crossings.size(); k += 2) {
            // Cells whose centre lies in [from, to).
            const double from = (crossings[k] - grid.originX) / grid.cellX - 0.5;
            const double to = (crossings[k + 1] - grid.originX) / grid.cellX - 0.5;
            const double first = std::clamp(std::ceil(from), 0.0, static_cast<double>(columns));
            const double last = std::clamp(std::ceil(to), first, static_cast<double>(columns));
            if (last > first) {
                spans.push_back({row, static_cast<int>(first), static_cast<int>(last)});
            }
        }
    }
    return spans;
}

std::vector<unsigned char> frameAreaMask(const PolygonFrame& frame, const AreaGrid& grid)
{
    const std::size_t columns = static_cast<std::size_t>(std::max(0, grid.columns));
    std::vector<unsigned char> mask(columns * static_cast<std::size_t>(std::max(0, grid.rows)), 0);
    for (const CellSpan& span : frameAreaSpans(frame, grid)) {
        unsigned char* line = mask.data() + static_cast<std::size_t>(span.row) * columns;
        std::fill(line + span.first, line + span.last, 1);
    }
    return mask;
}

}  // namespace vistrel
