#include "MeshAgreement.h"

#include "GroundTruth.h"

#include <osg/Geometry>
#include <osg/TriangleFunctor>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

namespace samplecity {

namespace {

// Closest a sample line may pass a triangle edge. Vertices are stored in
// single precision (about 0.03 mm at these coordinates), so 10 mm leaves
// any ray test a clear decision.
constexpr double kEdgeMargin = 0.01;

struct Triangle {
    osg::Vec3d a, b, c;
    double minX, maxX, minY, maxY;
};

struct TriangleCollector {
    std::vector<Triangle>* triangles = nullptr;

    void operator()(const osg::Vec3& a, const osg::Vec3& b, const osg::Vec3& c)
    {
        triangles->push_back({a, b, c, std::min({a.x(), b.x(), c.x()}), std::max({a.x(), b.x(), c.x()}),
                              std::min({a.y(), b.y(), c.y()}), std::max({a.y(), b.y(), c.y()})});
    }
};

void collect(const osg::Geode& geode, std::vector<Triangle>& triangles)
{
    for (unsigned int k = 0; k < geode.getNumDrawables(); ++k) {
        const osg::Geometry* geometry = geode.getDrawable(k)->asGeometry();
        if (geometry) {
            osg::TriangleFunctor<TriangleCollector> functor;
            functor.triangles = &triangles;
            geometry->accept(functor);
        }
    }
}

double edgeDistance(double px, double py, const osg::Vec3d& a, const osg::Vec3d& b)
{
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    const double len2 = dx * dx + dy * dy;
    const double t = len2 > 0 ? std::clamp(((px - a.x()) * dx + (py - a.y()) * dy) / len2, 0.0, 1.0) : 0.0;
    return std::hypot(px - (a.x() + t * dx), py - (a.y() + t * dy));
}

double cross2(const osg::Vec3d& o, const osg::Vec3d& a, double px, double py)
{
    return (a.x() - o.x()) * (py - o.y()) - (a.y() - o.y()) * (px - o.x());
}

std::string where(int level, double x, double y)
{
    std::ostringstream text;
    text << "level L" << level << ", sample line (" << x << ", " << y << ")";
    return text.str();
}

std::vector<double> meshHeightsAt(const std::vector<Triangle>& triangles, int level, double x, double y)
{
    std::vector<double> heights;
    for (const Triangle& t : triangles) {
        if (x < t.minX - kEdgeMargin || x > t.maxX + kEdgeMargin || y < t.minY - kEdgeMargin ||
            y > t.maxY + kEdgeMargin) {
            continue;
        }
        const double nearest =
            std::min({edgeDistance(x, y, t.a, t.b), edgeDistance(x, y, t.b, t.c), edgeDistance(x, y, t.c, t.a)});
        if (nearest < kEdgeMargin) {
            std::ostringstream text;
            text << where(level, x, y) << " runs along a triangle edge (" << t.a.x() << " " << t.a.y() << " "
                 << t.a.z() << " / " << t.b.x() << " " << t.b.y() << " " << t.b.z() << " / " << t.c.x() << " "
                 << t.c.y() << " " << t.c.z() << ")";
            throw std::runtime_error(text.str());
        }
        const double area = cross2(t.a, t.b, t.c.x(), t.c.y());
        if (std::fabs(area) < 1e-9) {
            continue;  // a wall, seen edge-on from above
        }
        const double wa = cross2(t.b, t.c, x, y) / area;
        const double wb = cross2(t.c, t.a, x, y) / area;
        const double wc = cross2(t.a, t.b, x, y) / area;
        if (wa > 0 && wb > 0 && wc > 0) {
            heights.push_back(wa * t.a.z() + wb * t.b.z() + wc * t.c.z());
        }
    }
    std::sort(heights.begin(), heights.end());
    return heights;
}

}  // namespace

void checkMeshesAgree(const CityLayout& city, const std::vector<TileModel>& tiles, const std::vector<Point2>& lines)
{
    const std::array<LevelDetail, 3>& details = levelDetails();
    std::array<std::vector<Triangle>, 3> levels;
    for (const TileModel& tile : tiles) {
        collect(*tile.coarse, levels[0]);
        for (int q = 0; q < 4; ++q) {
            collect(*tile.middle[q], levels[1]);
            collect(*tile.fine[q], levels[2]);
        }
    }
    for (const Point2& p : lines) {
        const std::vector<double> expected = surfaceHeightsAt(city, p.x, p.y);
        for (std::size_t k = 0; k < levels.size(); ++k) {
            const std::vector<double> found = meshHeightsAt(levels[k], details[k].level, p.x, p.y);
            bool same = found.size() == expected.size();
            for (std::size_t n = 0; same && n < found.size(); ++n) {
                same = std::fabs(found[n] - expected[n]) < 1e-3;
            }
            if (!same) {
                std::ostringstream text;
                text << where(details[k].level, p.x, p.y) << ": the mesh has " << found.size()
                     << " surfaces where the layout has " << expected.size();
                throw std::runtime_error(text.str());
            }
        }
    }
}

}  // namespace samplecity
