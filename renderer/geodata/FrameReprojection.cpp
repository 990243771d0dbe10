#include "geodata/FrameReprojection.h"

#include "geodata/FrameHeights.h"

#include <ogr_geometry.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace vistrel {

namespace {

constexpr double kMetresPerDegree = 111320.0;

struct TransformDeleter {
    void operator()(OGRCoordinateTransformation* ct) const { OGRCoordinateTransformation::DestroyCT(ct); }
};
using TransformPtr = std::unique_ptr<OGRCoordinateTransformation, TransformDeleter>;

struct Chain {
    std::vector<TransformPtr> steps;
    std::string description;
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

Chain buildChain(const CoordinateSystem& from, const CoordinateSystem& to)
{
    using Kind = CoordinateSystem::Kind;
    Chain chain;
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
        return chain;
    }
    if (from.kind == Kind::Crs) {
        addCrsStep(chain, crsOf(from), geocentric, shortName(from) + " to WGS 84 geocentric (EPSG:4978)");
    }
    addTopocentricStep(chain, to, false);
    return chain;
}

// Longest edge allowed before the move, in the units of `from`.
double densifyLength(const CoordinateSystem& from)
{
    if (from.kind != CoordinateSystem::Kind::Crs) {
        return 1.0;
    }
    const OGRSpatialReference srs = crsOf(from);
    if (srs.IsGeographic()) {
        return 1.0 / kMetresPerDegree;
    }
    const double metresPerUnit = srs.GetLinearUnits();
    return metresPerUnit > 0.0 ? 1.0 / metresPerUnit : 1.0;
}

void transformRing(std::vector<RingPoint>& ring, const Chain& chain, double maxLength)
{
    OGRLinearRing geometry;
    for (const RingPoint& p : ring) {
        geometry.addPoint(p.x, p.y);
    }
    geometry.segmentize(maxLength);
    const int count = geometry.getNumPoints();
    std::vector<double> x(static_cast<std::size_t>(count));
    std::vector<double> y(x.size());
    std::vector<double> z(x.size(), 0.0);
    for (int i = 0; i < count; ++i) {
        x[static_cast<std::size_t>(i)] = geometry.getX(i);
        y[static_cast<std::size_t>(i)] = geometry.getY(i);
    }
    for (const TransformPtr& step : chain.steps) {
        if (count > 0 && !step->Transform(count, x.data(), y.data(), z.data())) {
            throw std::runtime_error("PROJ could not transform a frame's points (" + chain.description + ")");
        }
    }
    ring.clear();
    for (std::size_t i = 0; i < x.size(); ++i) {
        ring.push_back({x[i], y[i]});
    }
}

}  // namespace

void Extent2::add(double x0, double y0, double x1, double y1)
{
    if (!(x1 >= x0 && y1 >= y0)) {
        return;
    }
    if (empty) {
        minX = x0;
        minY = y0;
        maxX = x1;
        maxY = y1;
        empty = false;
        return;
    }
    minX = std::min(minX, x0);
    minY = std::min(minY, y0);
    maxX = std::max(maxX, x1);
    maxY = std::max(maxY, y1);
}

bool Extent2::overlaps(const Extent2& other) const
{
    return !empty && !other.empty && minX <= other.maxX && other.minX <= maxX && minY <= other.maxY &&
           other.minY <= maxY;
}

std::string Extent2::text() const
{
    return empty ? std::string("(empty)") : formatBounds(minX, minY, maxX, maxY);
}

Extent2 framesExtent(const std::vector<PolygonFrame>& frames)
{
    Extent2 extent;
    for (const PolygonFrame& frame : frames) {
        extent.add(frame.minX, frame.minY, frame.maxX, frame.maxY);
    }
    return extent;
}

bool anyFrameOverlaps(const std::vector<PolygonFrame>& frames, const Extent2& model)
{
    return std::any_of(frames.begin(), frames.end(), [&](const PolygonFrame& frame) {
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

std::string transformFrames(std::vector<PolygonFrame>& frames, const CoordinateSystem& from, const CoordinateSystem& to)
{
    const Chain chain = buildChain(from, to);
    const double maxLength = densifyLength(from);
    for (PolygonFrame& frame : frames) {
        Extent2 bounds;
        for (std::vector<RingPoint>& ring : frame.rings) {
            transformRing(ring, chain, maxLength);
            for (const RingPoint& p : ring) {
                bounds.add(p.x, p.y, p.x, p.y);
            }
        }
        frame.minX = bounds.minX;
        frame.minY = bounds.minY;
        frame.maxX = bounds.maxX;
        frame.maxY = bounds.maxY;
    }
    return chain.description;
}

}  // namespace vistrel
