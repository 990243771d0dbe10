#include "vector/FrameReprojection.h"

#include "vector/GdalErrorCapture.h"

#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace vistrel {

namespace {

constexpr double kEquatorMetres = 6378137.0;  // metres per radian on the WGS 84 equator
constexpr double kBendMetres = 0.01;  // a moved edge may leave its straight line by this much
constexpr double kLongestChordMetres = 10000.0;  // longer moved edges are halved all the same
constexpr double kShortestEdgeMetres = 1.0;  // shorter edges (as read) are not halved

struct TransformDeleter {
    void operator()(OGRCoordinateTransformation* ct) const { OGRCoordinateTransformation::DestroyCT(ct); }
};
using TransformPtr = std::unique_ptr<OGRCoordinateTransformation, TransformDeleter>;

struct Chain {
    std::vector<TransformPtr> steps;
    std::string description;
    double shortestEdge = kShortestEdgeMetres;  // units of `from`
    double bend = kBendMetres;  // units of `to`
    double longestChord = kLongestChordMetres;  // units of `to`
    double longitudePeriod = 0.0;  // a geographic `from`: a full turn in its units; else 0
};

OGRSpatialReference crsOf(const CoordinateSystem& system)
{
    OGRSpatialReference srs;
    if (srs.importFromWkt(system.wkt.c_str()) != OGRERR_NONE) {
        throw std::runtime_error("Cannot read the coordinate system " + system.text);
    }
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

OGRSpatialReference geocentricWgs84()
{
    OGRSpatialReference srs;
    srs.importFromEPSG(4978);
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

std::string topocentricOperation(const CoordinateSystem& enu)
{
    char text[256];
    std::snprintf(text, sizeof text, "+proj=topocentric +ellps=WGS84 +lat_0=%.10g +lon_0=%.10g +h_0=%.10g", enu.enuLat,
                  enu.enuLon, enu.enuHeight);
    return text;
}

void addStep(Chain& chain, OGRCoordinateTransformation* step, const std::string& what)
{
    if (!step) {
        throw std::runtime_error("PROJ cannot transform " + what);
    }
    chain.steps.emplace_back(step);
    chain.description += (chain.description.empty() ? "" : ", then ") + what;
}

void addCrsStep(Chain& chain, const OGRSpatialReference& from, const OGRSpatialReference& to, const std::string& what)
{
    addStep(chain, OGRCreateCoordinateTransformation(&from, &to), what);
}

void addTopocentricStep(Chain& chain, const CoordinateSystem& enu, bool inverse)
{
    OGRCoordinateTransformationOptions options;
    const std::string operation = topocentricOperation(enu);
    options.SetCoordinateOperation(operation.c_str(), inverse);
    addStep(chain, OGRCreateCoordinateTransformation(nullptr, nullptr, options),
            (inverse ? "inverse of " : "") + operation);
}

void addSteps(Chain& chain, const CoordinateSystem& from, const CoordinateSystem& to)
{
    using Kind = CoordinateSystem::Kind;
    const OGRSpatialReference geocentric = geocentricWgs84();
    if (from.kind == Kind::Enu) {
        addTopocentricStep(chain, from, true);
    }
    if (to.kind == Kind::Crs) {
        const OGRSpatialReference target = crsOf(to);
        if (from.kind == Kind::Enu) {
            addCrsStep(chain, geocentric, target, "WGS 84 geocentric to " + shortName(to));
        } else {
            addCrsStep(chain, crsOf(from), target, shortName(from) + " to " + shortName(to));
        }
        return;
    }
    if (from.kind == Kind::Crs) {
        addCrsStep(chain, crsOf(from), geocentric, shortName(from) + " to WGS 84 geocentric (EPSG:4978)");
    }
    addTopocentricStep(chain, to, false);
}

// Metres per coordinate unit of a system (for angles: along the equator).
double metresPerUnit(const CoordinateSystem& system)
{
    if (system.kind != CoordinateSystem::Kind::Crs) {
        return 1.0;
    }
    const OGRSpatialReference srs = crsOf(system);
    const double perUnit = srs.IsGeographic() ? srs.GetAngularUnits() * kEquatorMetres : srs.GetLinearUnits();
    return perUnit > 0.0 && std::isfinite(perUnit) ? perUnit : 1.0;
}

Chain buildChain(const CoordinateSystem& from, const CoordinateSystem& to)
{
    Chain chain;
    addSteps(chain, from, to);
    const double fromUnit = metresPerUnit(from);
    const double toUnit = metresPerUnit(to);
    chain.shortestEdge = kShortestEdgeMetres / fromUnit;
    chain.bend = kBendMetres / toUnit;
    chain.longestChord = kLongestChordMetres / toUnit;
    if (from.kind == CoordinateSystem::Kind::Crs && crsOf(from).IsGeographic()) {
        chain.longitudePeriod = 2.0 * M_PI * kEquatorMetres / fromUnit;
    }
    return chain;
}

std::string pointText(double x, double y)
{
    char text[80];
    std::snprintf(text, sizeof text, "(%.10g, %.10g)", x, y);
    return text;
}

// Points of a ring as read (x, y) and moved (tx, ty).
struct Points {
    std::vector<double> x, y, tx, ty;
    void push(const Points& from, std::size_t i)
    {
        x.push_back(from.x[i]);
        y.push_back(from.y[i]);
        tx.push_back(from.tx[i]);
        ty.push_back(from.ty[i]);
    }
};

// Moves x/y through the chain into tx/ty; why not, when a point cannot be
// moved to finite coordinates. PROJ's messages for the points are held
// back: the reason names the first point and PROJ's first word on it.
std::string movePoints(const Chain& chain, Points& p)
{
    p.tx = p.x;
    p.ty = p.y;
    std::vector<double> z(p.x.size(), 0.0);
    std::vector<int> moved(p.x.size(), TRUE);
    std::vector<int> ok(p.x.size(), TRUE);
    const int count = static_cast<int>(p.x.size());
    GdalErrorCapture proj;
    for (const TransformPtr& step : chain.steps) {
        if (count > 0) {
            step->Transform(count, p.tx.data(), p.ty.data(), z.data(), ok.data());
        }
        for (std::size_t i = 0; i < ok.size(); ++i) {
            moved[i] = moved[i] && ok[i];
        }
    }
    for (std::size_t i = 0; i < moved.size(); ++i) {
        if (moved[i] && std::isfinite(p.tx[i]) && std::isfinite(p.ty[i])) {
            continue;
        }
        return "its point " + pointText(p.x[i], p.y[i]) +
               (moved[i] ? " moves to no finite point" : " cannot be transformed") + " (" + chain.description +
               (proj.firstError().empty() ? "" : "; " + proj.firstError()) + ")";
    }
    return {};
}

// Longitudes of a geographic system taken the short way from one vertex to
// the next (across the antimeridian rather than around the globe).
void unwrapLongitudes(std::vector<double>& x, double period)
{
    if (period <= 0.0) {
        return;
    }
    for (std::size_t i = 1; i < x.size(); ++i) {
        x[i] = x[i - 1] + std::remainder(x[i] - x[i - 1], period);
    }
}

// The distance of (px, py) from the segment a-b.
double offSegment(double px, double py, double ax, double ay, double bx, double by)
{
    const double vx = bx - ax;
    const double vy = by - ay;
    const double length2 = vx * vx + vy * vy;
    const double t = length2 > 0.0 ? std::clamp(((px - ax) * vx + (py - ay) * vy) / length2, 0.0, 1.0) : 0.0;
    return std::hypot(ax + t * vx - px, ay + t * vy - py);
}

// True when the moved edge i..i+1 must be halved at its moved midpoint k.
bool mustHalve(const Chain& chain, const Points& p, std::size_t i, const Points& mid, std::size_t k)
{
    return offSegment(mid.tx[k], mid.ty[k], p.tx[i], p.ty[i], p.tx[i + 1], p.ty[i + 1]) > chain.bend ||
           std::hypot(p.tx[i + 1] - p.tx[i], p.ty[i + 1] - p.ty[i]) > chain.longestChord;
}

// One round of halving: every open edge longer than the shortest is looked
// at in its middle. False when no edge was looked at.
bool halveRound(const Chain& chain, Points& p, std::vector<char>& open, std::size_t limit, std::string& why)
{
    Points mid;
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < open.size(); ++i) {
        open[i] = open[i] && std::hypot(p.x[i + 1] - p.x[i], p.y[i + 1] - p.y[i]) > chain.shortestEdge;
        if (open[i]) {
            mid.x.push_back((p.x[i] + p.x[i + 1]) * 0.5);
            mid.y.push_back((p.y[i] + p.y[i + 1]) * 0.5);
            at.push_back(i);
        }
    }
    if (at.empty()) {
        return false;
    }
    why = movePoints(chain, mid);
    std::vector<char> halve(at.size());
    std::size_t inserted = 0;
    for (std::size_t k = 0; k < at.size() && why.empty(); ++k) {
        halve[k] = mustHalve(chain, p, at[k], mid, k);
        inserted += halve[k] ? 1 : 0;
    }
    if (why.empty() && p.x.size() + inserted > limit) {
        why = "its edges would take more than " + std::to_string(kMaxFramePoints) + " points to follow within 1 cm (" +
              chain.description + ")";
    }
    if (!why.empty()) {
        return false;
    }
    Points out;
    std::vector<char> outOpen;
    for (std::size_t i = 0, k = 0; i < p.x.size(); ++i) {
        out.push(p, i);
        const bool looked = k < at.size() && at[k] == i;
        if (looked && halve[k]) {
            out.push(mid, k);
            outOpen.push_back(1);
        }
        if (i + 1 < p.x.size()) {
            outOpen.push_back(looked && halve[k] ? 1 : 0);
        }
        k += looked ? 1 : 0;
    }
    p = std::move(out);
    open = std::move(outOpen);
    return true;
}

// What moving one frame gave.
struct FrameMove {
    std::string why;  // empty: moved
    bool stopped = false;
    std::size_t points = 0;
    std::size_t added = 0;
};

// Moves one ring's vertices, then halves its edges where they bend.
std::vector<RingPoint> moveRing(const Chain& chain, const std::vector<RingPoint>& ring, const StopCheck& stop,
                                FrameMove& move)
{
    Points p;
    for (const RingPoint& point : ring) {
        if (!std::isfinite(point.x) || !std::isfinite(point.y)) {
            move.why = "its point " + pointText(point.x, point.y) + " is not a finite number";
            return {};
        }
        p.x.push_back(point.x);
        p.y.push_back(point.y);
    }
    unwrapLongitudes(p.x, chain.longitudePeriod);
    move.why = movePoints(chain, p);
    const std::size_t limit = kMaxFramePoints > move.points ? kMaxFramePoints - move.points : 0;
    std::vector<char> open(p.x.size() > 1 ? p.x.size() - 1 : 0, 1);
    while (move.why.empty() && halveRound(chain, p, open, limit, move.why)) {
        if (stop && stop()) {
            move.stopped = true;
            return {};
        }
    }
    std::vector<RingPoint> moved;
    for (std::size_t i = 0; i < p.tx.size() && move.why.empty(); ++i) {
        moved.push_back({p.tx[i], p.ty[i]});
    }
    move.points += moved.size();
    move.added += moved.size() - std::min(moved.size(), ring.size());
    return moved;
}

// Moves the frame's rings and bounds; a frame that cannot be moved stays as read.
FrameMove moveFrame(const Chain& chain, PolygonFrame& frame, const StopCheck& stop)
{
    FrameMove move;
    std::vector<std::vector<RingPoint>> rings;
    Extent2 bounds;
    for (const std::vector<RingPoint>& ring : frame.rings) {
        rings.push_back(moveRing(chain, ring, stop, move));
        if (!move.why.empty() || move.stopped) {
            return move;
        }
        for (const RingPoint& p : rings.back()) {
            bounds.add(p.x, p.y, p.x, p.y);
        }
    }
    frame.rings = std::move(rings);
    frame.minX = bounds.minX;
    frame.minY = bounds.minY;
    frame.maxX = bounds.maxX;
    frame.maxY = bounds.maxY;
    return move;
}

}  // namespace

Extent2 framesExtent(const std::vector<PolygonFrame>& frames)
{
    Extent2 extent;
    for (const PolygonFrame& frame : frames) {
        if (frame.unusable.empty()) {
            extent.add(frame.minX, frame.minY, frame.maxX, frame.maxY);
        }
    }
    return extent;
}

bool anyFrameOverlaps(const std::vector<PolygonFrame>& frames, const Extent2& model)
{
    return std::any_of(frames.begin(), frames.end(), [&](const PolygonFrame& frame) {
        if (!frame.unusable.empty()) {
            return false;
        }
        Extent2 extent;
        extent.add(frame.minX, frame.minY, frame.maxX, frame.maxY);
        return extent.overlaps(model);
    });
}

FramePlacement decideFramePlacement(const std::string& mode, bool bothKnown, bool sameSystems, bool framesOverModel)
{
    if (!bothKnown || sameSystems) {
        return FramePlacement::AsRead;
    }
    if (mode == "always" || (mode == "auto" && !framesOverModel)) {
        return FramePlacement::Transform;
    }
    return FramePlacement::AsReadSystemsDiffer;
}

FrameTransform transformFrames(std::vector<PolygonFrame>& frames, const CoordinateSystem& from,
                               const CoordinateSystem& to, const StopCheck& stop)
{
    const Chain chain = buildChain(from, to);
    FrameTransform done;
    done.description = chain.description;
    for (PolygonFrame& frame : frames) {
        if (stop && stop()) {
            done.stopped = true;
            break;
        }
        if (!frame.unusable.empty()) {
            ++done.unusable;
            continue;
        }
        const FrameMove move = moveFrame(chain, frame, stop);
        if (move.stopped) {
            done.stopped = true;
            break;
        }
        if (!move.why.empty()) {
            frame.unusable = move.why;
            ++done.unusable;
            continue;
        }
        ++done.moved;
        done.points += move.points;
        done.added += move.added;
    }
    return done;
}

}  // namespace vistrel
