#include "render/RangeLine.h"

#include "core/Logger.h"
#include "core/NumberText.h"
#include "render/OffscreenRenderer.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/LineWidth>
#include <osg/MatrixTransform>
#include <osgUtil/IntersectionVisitor>
#include <osgUtil/LineSegmentIntersector>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace vistrel {

namespace {

// After the opaque (0) and transparent (10) bins of the model.
constexpr int kOutlineRenderBin = 100;

}  // namespace

osg::Vec4 rangeLineColour(const std::string& name)
{
    std::string key = name;
    for (char& c : key) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (key == "yellow")
        return osg::Vec4(1.0f, 0.92f, 0.0f, 1.0f);
    if (key == "blue")
        return osg::Vec4(0.0f, 0.35f, 1.0f, 1.0f);
    if (key == "green")
        return osg::Vec4(0.0f, 0.85f, 0.25f, 1.0f);
    if (key == "white")
        return osg::Vec4(1.0f, 1.0f, 1.0f, 1.0f);
    if (key == "black")
        return osg::Vec4(0.0f, 0.0f, 0.0f, 1.0f);
    if (key == "magenta" || key == "purple")
        return osg::Vec4(0.9f, 0.0f, 1.0f, 1.0f);
    if (key == "cyan")
        return osg::Vec4(0.0f, 0.9f, 1.0f, 1.0f);
    return osg::Vec4(1.0f, 0.0f, 0.0f, 1.0f);
}

double sampleSurfaceHeight(osg::Node* scene, double x, double y, double top, double bottom, double fallback,
                           double lift)
{
    double h = fallback;
    if (scene) {
        osg::ref_ptr<osgUtil::LineSegmentIntersector> intersector =
            new osgUtil::LineSegmentIntersector(osg::Vec3d(x, y, top), osg::Vec3d(x, y, bottom));
        osgUtil::IntersectionVisitor visitor(intersector.get());
        scene->accept(visitor);
        bool hit = false;
        for (const auto& intersection : intersector->getIntersections()) {
            const double z = intersection.getWorldIntersectPoint().z();
            if (!hit || z > h) {
                h = z;
                hit = true;
            }
        }
    }
    return h + lift;
}

namespace {

void sampleSegment(std::vector<osg::Vec3d>& samples, const RingPoint& from, const RingPoint& to, double step,
                   const std::function<double(double, double)>& height)
{
    const double length = std::hypot(to.x - from.x, to.y - from.y);
    const int k = std::max(1, static_cast<int>(std::ceil(length / step)));
    for (int j = 0; j < k; ++j) {
        const double t = static_cast<double>(j) / k;
        const double x = from.x + t * (to.x - from.x);
        const double y = from.y + t * (to.y - from.y);
        samples.emplace_back(x, y, height(x, y));
    }
}

}  // namespace

std::vector<osg::Vec3d> sampleRing(const std::vector<RingPoint>& ring, double step,
                                   const std::function<double(double, double)>& height)
{
    std::vector<osg::Vec3d> samples;
    if (ring.size() < 2) {
        return samples;
    }
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
        sampleSegment(samples, ring[i], ring[i + 1], step, height);
    }
    const RingPoint& first = ring.front();
    const RingPoint& last = ring.back();
    if (first.x != last.x || first.y != last.y) {
        sampleSegment(samples, last, first, step, height);
    }
    samples.emplace_back(first.x, first.y, height(first.x, first.y));
    return samples;
}

void clampHeightSteps(std::vector<double>& z, double limit)
{
    const std::size_t n = z.size();
    for (std::size_t j = 1; j < n; ++j) {
        const double d = z[j] - z[j - 1];
        if (std::fabs(d) > limit) {
            z[j] = z[j - 1] + std::copysign(limit, d);
        }
    }
    for (std::size_t j = n; j-- > 1;) {
        const double d = z[j - 1] - z[j];
        if (std::fabs(d) > limit) {
            z[j - 1] = z[j] + std::copysign(limit, d);
        }
    }
}

void smoothRingHeights(std::vector<double>& z, double limit)
{
    const std::size_t n = z.size();
    if (!(limit > 0.0) || n < 3) {
        return;
    }
    clampHeightSteps(z, limit);
    std::vector<double> averaged(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t prev = i == 0 ? n - 2 : i - 1;
        const std::size_t next = i == n - 1 ? 1 : i + 1;
        averaged[i] = 0.25 * z[prev] + 0.5 * z[i] + 0.25 * z[next];
    }
    z = std::move(averaged);
    z[n - 1] = z[0];
}

namespace {

// Smoothed heights of the ring's samples; logs when smoothing changed a step.
std::vector<double> ringHeights(const std::vector<osg::Vec3d>& samples, const RenderConfig& config,
                                const PolygonFrame& frame)
{
    std::vector<double> z(samples.size());
    double rawJump = 0.0;
    for (std::size_t j = 0; j < samples.size(); ++j) {
        z[j] = samples[j].z();
        if (j > 0) {
            rawJump = std::max(rawJump, std::fabs(z[j] - z[j - 1]));
        }
    }
    const double limit = config.range_line_smooth_limit;
    if (limit > 0.0 && samples.size() >= 3) {
        smoothRingHeights(z, limit);
    }
    if (limit > 0.0 && rawJump > limit) {
        Logger::instance().info("Range line height smoothing applied for " + frame.name +
                                ", raw max jump=" + printfNumber(rawJump) + ", limit=" + printfNumber(limit));
    }
    return z;
}

// One line strip through the samples, relative to `origin`.
osg::ref_ptr<osg::Geometry> ringStrip(const std::vector<osg::Vec3d>& samples, const std::vector<double>& z,
                                      const osg::Vec3d& origin, const osg::Vec4& colour)
{
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    vertices->reserve(samples.size());
    for (std::size_t j = 0; j < samples.size(); ++j) {
        const osg::Vec3d local = osg::Vec3d(samples[j].x(), samples[j].y(), z[j]) - origin;
        vertices->push_back(
            osg::Vec3(static_cast<float>(local.x()), static_cast<float>(local.y()), static_cast<float>(local.z())));
    }
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices.get());
    geometry->addPrimitiveSet(new osg::DrawArrays(GL_LINE_STRIP, 0, static_cast<GLsizei>(vertices->size())));
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array;
    colours->push_back(colour);
    geometry->setColorArray(colours.get(), osg::Array::BIND_OVERALL);
    return geometry;
}

void setOutlineState(osg::StateSet* state, const RenderConfig& config, bool depthTested)
{
    state->setAttributeAndModes(new osg::LineWidth(static_cast<float>(config.range_line_width)),
                                osg::StateAttribute::ON);
    state->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    if (depthTested) {
        // Draped: parts behind higher model parts stay hidden.
        state->setMode(GL_DEPTH_TEST, osg::StateAttribute::ON);
    } else {
        // Always visible: drawn after the model, whatever covers the ground.
        state->setMode(GL_DEPTH_TEST, osg::StateAttribute::OFF);
        state->setRenderBinDetails(kOutlineRenderBin, "RenderBin");
    }
}

}  // namespace

osg::ref_ptr<osg::Node> buildRangeLine(const OffscreenRenderer& renderer, const PolygonFrame& frame, bool depthTested)
{
    osg::Node* scene = renderer.scene();
    if (frame.rings.empty() || !scene) {
        return nullptr;
    }
    const RenderConfig& config = renderer.config();
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    // Vertices are single precision; far from the scene origin (projected
    // coordinates in the millions) a float is a quarter metre coarse. They are
    // therefore stored relative to the frame's centre, and a transform held in
    // double precision puts them back in place.
    const osg::Vec3d origin((frame.minX + frame.maxX) / 2.0, (frame.minY + frame.maxY) / 2.0, frame.centerZ);

    const osg::BoundingSphere& bound = scene->getBound();
    const double top = bound.center().z() + bound.radius() + 100.0;
    const double bottom = bound.center().z() - bound.radius() - 100.0;
    const double fallback = config.range_line_lift + frame.maxZ;
    const auto height = [&](double x, double y) {
        return sampleSurfaceHeight(scene, x, y, top, bottom, fallback, config.range_line_lift);
    };
    const osg::Vec4 colour = rangeLineColour(config.range_line_color);

    for (const auto& ring : frame.rings) {
        if (ring.size() < 2) {
            continue;
        }
        const std::vector<osg::Vec3d> samples = sampleRing(ring, config.range_line_sample_step, height);
        geode->addDrawable(ringStrip(samples, ringHeights(samples, config, frame), origin, colour).get());
    }
    if (geode->getNumDrawables() == 0) {
        return nullptr;
    }
    setOutlineState(geode->getOrCreateStateSet(), config, depthTested);
    osg::ref_ptr<osg::MatrixTransform> placed = new osg::MatrixTransform(osg::Matrixd::translate(origin));
    placed->addChild(geode.get());
    return placed;
}

bool renderRangeLineFrame(OffscreenRenderer& renderer, const CameraSetup& setup, const PolygonFrame& frame,
                          bool depthTested)
{
    osg::Group* sceneRoot = renderer.sceneRoot();
    if (!sceneRoot) {
        return false;
    }
    osg::ref_ptr<osg::Node> overlay = buildRangeLine(renderer, frame, depthTested);
    if (!overlay) {
        Logger::instance().warn("No range outline available for " + frame.name);
        return renderer.renderFrame(setup);
    }
    return renderer.renderOverlay(setup, overlay.get());
}

}  // namespace vistrel
