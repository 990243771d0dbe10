#include "GroundTruth.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

namespace samplecity {

namespace {

struct Vec3d {
    double x = 0, y = 0, z = 0;
};

Vec3d operator+(const Vec3d& a, const Vec3d& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3d operator-(const Vec3d& a, const Vec3d& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3d operator*(const Vec3d& a, double k) { return {a.x * k, a.y * k, a.z * k}; }

double component(const Vec3d& v, int axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

enum class Verdict { No, Yes, Unsure };

// Where `v` lies relative to [lo, hi], with a margin of doubt around the ends.
Verdict within(double v, double lo, double hi)
{
    if (v > lo + kSafeMargin && v < hi - kSafeMargin) {
        return Verdict::Yes;
    }
    if (v < lo - kSafeMargin || v > hi + kSafeMargin) {
        return Verdict::No;
    }
    return Verdict::Unsure;
}

Verdict both(Verdict a, Verdict b)
{
    if (a == Verdict::No || b == Verdict::No) {
        return Verdict::No;
    }
    return a == Verdict::Yes && b == Verdict::Yes ? Verdict::Yes : Verdict::Unsure;
}

// An axis-aligned rectangle of the model: a wall (x or y constant) or a
// roof (z constant).
struct Face {
    int axis = 0;
    double c = 0;
    double lo1 = 0, hi1 = 0;  // along the first other axis (x before y before z)
    double lo2 = 0, hi2 = 0;  // along the second
};

std::vector<Face> modelFaces(const CityLayout& city)
{
    std::vector<Face> faces;
    for (const Building& b : city.buildings) {
        const double top = roofZ(city, b);
        const double bottom = baseZ(city, b);
        std::vector<Rect> outlines{b.outer};
        if (b.courtyard) {
            outlines.push_back(*b.courtyard);
        }
        for (const Rect& r : outlines) {
            faces.push_back({0, r.x0, r.y0, r.y1, bottom, top});
            faces.push_back({0, r.x1, r.y0, r.y1, bottom, top});
            faces.push_back({1, r.y0, r.x0, r.x1, bottom, top});
            faces.push_back({1, r.y1, r.x0, r.x1, bottom, top});
        }
        for (const Rect& r : roofRects(b)) {
            faces.push_back({2, top, r.x0, r.x1, r.y0, r.y1});
        }
    }
    return faces;
}

Verdict faceContains(const Face& f, const Vec3d& p)
{
    const int a1 = f.axis == 0 ? 1 : 0;
    const int a2 = f.axis == 2 ? 1 : 2;
    return both(within(component(p, a1), f.lo1, f.hi1), within(component(p, a2), f.lo2, f.hi2));
}

Verdict segmentHitsFace(const Vec3d& a, const Vec3d& b, const Face& f)
{
    const double da = component(a, f.axis) - f.c;
    const double db = component(b, f.axis) - f.c;
    Verdict verdict = Verdict::No;
    if ((da < 0 && db > 0) || (da > 0 && db < 0)) {
        const double t = da / (da - db);
        verdict = faceContains(f, a + (b - a) * t);
    }
    // An end resting on the face's plane could count either way.
    if (verdict != Verdict::Yes) {
        if ((std::fabs(da) <= kSafeMargin && faceContains(f, a) != Verdict::No) ||
            (std::fabs(db) <= kSafeMargin && faceContains(f, b) != Verdict::No)) {
            verdict = Verdict::Unsure;
        }
    }
    return verdict;
}

// Ground coverage with a margin: Unsure near the edge of a tile or the hole.
Verdict groundAt(const CityLayout& city, double x, double y)
{
    const bool centre = city.groundCovers(x, y);
    const double m = kSafeMargin;
    const double offsets[8][2] = {{m, 0}, {-m, 0}, {0, m}, {0, -m}, {m, m}, {m, -m}, {-m, m}, {-m, -m}};
    for (const auto& o : offsets) {
        if (city.groundCovers(x + o[0], y + o[1]) != centre) {
            return Verdict::Unsure;
        }
    }
    return centre ? Verdict::Yes : Verdict::No;
}

Verdict segmentHitsGround(const CityLayout& city, const Vec3d& a, const Vec3d& b)
{
    const double ha = a.z - city.groundZ(a.x, a.y);
    const double hb = b.z - city.groundZ(b.x, b.y);
    Verdict verdict = Verdict::No;
    if ((ha < 0 && hb > 0) || (ha > 0 && hb < 0)) {
        const Vec3d p = a + (b - a) * (ha / (ha - hb));
        verdict = groundAt(city, p.x, p.y);
    }
    if (verdict != Verdict::Yes) {
        if ((std::fabs(ha) <= kSafeMargin && groundAt(city, a.x, a.y) != Verdict::No) ||
            (std::fabs(hb) <= kSafeMargin && groundAt(city, b.x, b.y) != Verdict::No)) {
            verdict = Verdict::Unsure;
        }
    }
    return verdict;
}

// Yes when `p` lies inside the building's solid by a safe margin, No when
// it lies outside by one.
Verdict insideBuilding(const CityLayout& city, const Building& b, const Vec3d& p)
{
    Verdict inside = both(within(p.x, b.outer.x0, b.outer.x1), within(p.y, b.outer.y0, b.outer.y1));
    inside = both(inside, within(p.z, baseZ(city, b), roofZ(city, b)));
    if (b.courtyard && inside != Verdict::No) {
        const Rect& yard = *b.courtyard;
        const Verdict inYard = both(within(p.x, yard.x0, yard.x1), within(p.y, yard.y0, yard.y1));
        inside = inYard == Verdict::Yes ? Verdict::No : inYard == Verdict::No ? inside : Verdict::Unsure;
    }
    return inside;
}

// A segment that starts inside a building and ends outside it crosses its
// surface somewhere, even where it leaves through an edge.
bool segmentLeavesABuilding(const CityLayout& city, const Vec3d& a, const Vec3d& b)
{
    for (const Building& building : city.buildings) {
        const Verdict starts = insideBuilding(city, building, a);
        const Verdict ends = insideBuilding(city, building, b);
        if ((starts == Verdict::Yes && ends == Verdict::No) || (starts == Verdict::No && ends == Verdict::Yes)) {
            return true;
        }
    }
    return false;
}

std::string describePoint(double x, double y)
{
    std::ostringstream text;
    text << "(" << x << ", " << y << ")";
    return text.str();
}

struct Side {
    const char* key;
    double dx, dy;
};

constexpr Side kSides[] = {
    {"north", 0, 1}, {"south", 0, -1}, {"east", 1, 0},  {"west", -1, 0},
    {"ne45", 1, 1},  {"nw45", -1, 1},  {"se45", 1, -1}, {"sw45", -1, -1},
};

Vec3d viewDirection(double dx, double dy, double angleDegrees)
{
    const double a = std::clamp(angleDegrees, 30.0, 70.0);
    const double h = std::hypot(dx, dy);
    const double t = std::tan(a * 3.141592653589793 / 180.0);
    const Vec3d v{dx, dy, t * std::max(1.0, h)};
    const double len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return v * (1.0 / len);
}

}  // namespace

std::vector<Point2> heightSamplePoints(const Rect& bounds)
{
    const double w = std::max(1.0, bounds.x1 - bounds.x0);
    const double h = std::max(1.0, bounds.y1 - bounds.y0);
    std::vector<Point2> points;
    for (int i = 0; i <= 4; ++i) {
        for (int j = 0; j <= 4; ++j) {
            points.push_back({bounds.x0 + i * 0.25 * w, bounds.y0 + j * 0.25 * h});
        }
    }
    return points;
}

std::vector<double> surfaceHeightsAt(const CityLayout& city, double x, double y)
{
    std::vector<double> heights;
    const Verdict ground = groundAt(city, x, y);
    if (ground == Verdict::Unsure) {
        throw std::runtime_error("sample line " + describePoint(x, y) + " runs along the edge of the ground");
    }
    if (ground == Verdict::Yes) {
        heights.push_back(city.groundZ(x, y));
    }
    for (const Building& b : city.buildings) {
        for (const Rect& r : roofRects(b)) {
            const Verdict onRoof = both(within(x, r.x0, r.x1), within(y, r.y0, r.y1));
            if (onRoof == Verdict::Unsure) {
                throw std::runtime_error("sample line " + describePoint(x, y) + " grazes the roof edge of " + b.id);
            }
            if (onRoof == Verdict::Yes) {
                heights.push_back(roofZ(city, b));
            }
        }
    }
    std::sort(heights.begin(), heights.end());
    return heights;
}

FrameHeights measureFrameHeights(const CityLayout& city, const Rect& bounds)
{
    FrameHeights result;
    for (const Point2& p : heightSamplePoints(bounds)) {
        for (double z : surfaceHeightsAt(city, p.x, p.y)) {
            if (!result.hit) {
                result.hit = true;
                result.groundZ = result.roofZ = z;
            }
            result.groundZ = std::min(result.groundZ, z);
            result.roofZ = std::max(result.roofZ, z);
        }
    }
    return result;
}

std::vector<SideOcclusion> measureOcclusion(const CityLayout& city, const Rect& bounds, const FrameHeights& heights,
                                            const CameraSettings& camera)
{
    if (!heights.hit) {
        return {};
    }
    const std::vector<Face> faces = modelFaces(city);
    const double spanY = std::max(1.0, bounds.y1 - bounds.y0);
    const double spanZ = std::max(1.0, heights.roofZ - heights.groundZ);
    const double extent = std::max(spanY, std::max(1.0, bounds.x1 - bounds.x0));
    const double centerZ = (heights.roofZ + heights.groundZ) * 0.5;
    const double f = camera.obliqueDistanceFactor;
    const double dist = std::max({camera.distance * f, extent * 0.5 * 2.4 * f, 2.0 * spanZ});
    const Vec3d center{bounds.cx(), bounds.cy(), centerZ};
    const Vec3d samples[5] = {
        center,
        {bounds.x0, bounds.y0, centerZ},
        {bounds.x1, bounds.y0, centerZ},
        {bounds.x1, bounds.y1, centerZ},
        {bounds.x0, bounds.y1, centerZ},
    };
    const double step = std::clamp(camera.occlusionSampleStep, 0.1, 0.9);
    const double configured = std::clamp(camera.obliqueViewAngle, 30.0, 70.0);
    const int start = static_cast<int>(std::round(configured / 5.0)) * 5;

    std::vector<SideOcclusion> result;
    for (const Side& side : kSides) {
        SideOcclusion occlusion;
        occlusion.side = side.key;
        bool taken = false;
        bool stopped = false;
        for (int angle = start; angle <= 70; angle += 5) {
            Vec3d eye = center + viewDirection(side.dx, side.dy, angle) * dist;
            if (heights.roofZ + 1.0 >= eye.z) {
                eye.z = heights.roofZ + std::max(spanZ + 10.0, dist);
            }
            int blocked = 0;
            for (const Vec3d& p : samples) {
                const Vec3d towardEye = eye - p;
                const Vec3d a = p + towardEye * 0.07;
                const Vec3d b = a + towardEye * step;
                bool hit = segmentHitsGround(city, a, b) == Verdict::Yes || segmentLeavesABuilding(city, a, b);
                bool unsure = !hit && segmentHitsGround(city, a, b) == Verdict::Unsure;
                for (const Face& face : faces) {
                    if (hit) {
                        break;
                    }
                    const Verdict v = segmentHitsFace(a, b, face);
                    hit = v == Verdict::Yes;
                    unsure = unsure || v == Verdict::Unsure;
                }
                if (!hit && unsure) {
                    std::ostringstream text;
                    text << "the " << side.key << " sight line at " << angle << " degrees towards " << describePoint(p.x, p.y)
                         << " grazes a surface edge (segment from " << describePoint(a.x, a.y) << " z=" << a.z
                         << " to " << describePoint(b.x, b.y) << " z=" << b.z << ")";
                    throw std::runtime_error(text.str());
                }
                blocked += hit ? 1 : 0;
            }
            const double score = blocked / 5.0;
            occlusion.angles.push_back(angle);
            occlusion.scores.push_back(score);
            if (!stopped) {
                if (!taken || score < occlusion.chosenScore) {
                    occlusion.chosenAngle = angle;
                    occlusion.chosenScore = score;
                    taken = true;
                }
                stopped = score <= 0.01;
            }
        }
        result.push_back(occlusion);
    }
    return result;
}

}  // namespace samplecity
