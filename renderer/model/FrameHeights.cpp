#include "model/FrameHeights.h"

#include "core/FrameArea.h"
#include "core/Logger.h"
#include "core/NumberText.h"

#include <osgUtil/IntersectionVisitor>
#include <osgUtil/LineSegmentIntersector>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

namespace vistrel {

namespace {

std::string floatText(float value)
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << value;
    return out.str();
}

std::string sceneCenterText(const osg::BoundingSphere& bound)
{
    return "sceneCenter=(" + floatText(bound.center().x()) + ", " + floatText(bound.center().y()) + ", " +
           floatText(bound.center().z()) + ")";
}

}  // namespace

void resetFrameHeights(std::vector<PolygonFrame>& frames, const osg::Node* sceneRoot)
{
    if (!sceneRoot) {
        return;
    }
    const double cz = static_cast<double>(sceneRoot->getBound().center().z());
    for (auto& frame : frames) {
        frame.centerZ = cz;
        frame.minZ = cz;
        frame.maxZ = cz;
        frame.hasModelHeights = false;
    }
}

void checkFramesNearScene(const std::vector<PolygonFrame>& frames, const osg::Node* sceneRoot)
{
    if (!sceneRoot) {
        return;
    }
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    bool any = false;
    for (const auto& frame : frames) {
        if (!(frame.maxX >= frame.minX && frame.maxY >= frame.minY) || !frame.unusable.empty()) {
            continue;
        }
        if (!any) {
            minX = frame.minX;
            minY = frame.minY;
            maxX = frame.maxX;
            maxY = frame.maxY;
            any = true;
        } else {
            minX = std::min(minX, frame.minX);
            minY = std::min(minY, frame.minY);
            maxX = std::max(maxX, frame.maxX);
            maxY = std::max(maxY, frame.maxY);
        }
    }

    const osg::BoundingSphere& bound = sceneRoot->getBound();
    const double r = bound.radius();
    if (maxX >= minX && maxY >= minY && r >= 0.0) {
        const double limit = 2.0 * std::max(r, 1.0);
        const double d = std::hypot((minX + maxX) * 0.5 - bound.center().x(), (minY + maxY) * 0.5 - bound.center().y());
        if (d > limit) {
            Logger::instance().warn("SHP XY is far from scene after configured offsets. "
                                    "No extra center alignment was applied. SHP bounds=" +
                                    formatBounds(minX, minY, maxX, maxY) + ", " + sceneCenterText(bound));
            return;
        }
    }
    Logger::instance().info("SHP XY already near scene. Bounds=" + formatBounds(minX, minY, maxX, maxY) + ", " +
                            sceneCenterText(bound));
}

namespace {

// The points of the 5 x 5 grid over the frame's bounds (at least 1 x 1) that
// lie in its area, its edges and the grid's overhang past a tiny frame
// included; all of them when none does (a thin or slanted strip).
std::vector<osg::Vec2d> heightSamplePoints(const PolygonFrame& frame)
{
    const double w = std::max(1.0, frame.maxX - frame.minX);
    const double h = std::max(1.0, frame.maxY - frame.minY);
    const double overhang = std::hypot(w - (frame.maxX - frame.minX), h - (frame.maxY - frame.minY));
    const double edge = 1e-6 * std::max(w, h) + overhang;
    std::vector<osg::Vec2d> grid;
    std::vector<osg::Vec2d> inside;
    for (int i = 0; i <= 4; ++i) {
        for (int j = 0; j <= 4; ++j) {
            const osg::Vec2d point(frame.minX + i * 0.25 * w, frame.minY + j * 0.25 * h);
            grid.push_back(point);
            if (nearFrameArea(frame, point.x(), point.y(), edge)) {
                inside.push_back(point);
            }
        }
    }
    return inside.empty() ? grid : inside;
}

}  // namespace

bool sampleFrameHeight(osg::Node* sceneRoot, PolygonFrame& frame)
{
    if (!sceneRoot) {
        return false;
    }
    const osg::BoundingSphere& bound = sceneRoot->getBound();
    const float cz = bound.center().z();
    const float r = bound.radius();
    const double zTop = static_cast<double>(cz + r) + 100.0;
    const double zBottom = static_cast<double>(cz - r) - 100.0;
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -std::numeric_limits<double>::infinity();
    bool hit = false;
    for (const osg::Vec2d& point : heightSamplePoints(frame)) {
        osg::ref_ptr<osgUtil::LineSegmentIntersector> intersector = new osgUtil::LineSegmentIntersector(
            osg::Vec3d(point.x(), point.y(), zTop), osg::Vec3d(point.x(), point.y(), zBottom));
        osgUtil::IntersectionVisitor visitor(intersector.get());
        sceneRoot->accept(visitor);
        for (const auto& intersection : intersector->getIntersections()) {
            const double z = intersection.getWorldIntersectPoint().z();
            lowest = std::min(lowest, z);
            highest = std::max(highest, z);
            hit = true;
        }
    }
    if (hit) {
        frame.minZ = lowest;
        frame.maxZ = highest;
        frame.centerZ = (highest + lowest) * 0.5;
        frame.hasModelHeights = true;
    }
    return hit;
}

void logSampledHeights(const osg::Node* sceneRoot, const std::vector<PolygonFrame>& frames)
{
    if (!sceneRoot) {
        return;
    }
    const double resetZ = static_cast<double>(sceneRoot->getBound().center().z());
    int sampled = 0;
    double zMin = 0, zMax = 0;
    for (const auto& frame : frames) {
        if (frame.maxZ == frame.minZ && frame.centerZ == resetZ) {
            continue;
        }
        if (sampled == 0) {
            zMin = frame.minZ;
            zMax = frame.maxZ;
        } else {
            zMin = std::min(zMin, frame.minZ);
            zMax = std::max(zMax, frame.maxZ);
        }
        ++sampled;
    }
    std::string line =
        "Sampled model heights for " + std::to_string(sampled) + "/" + std::to_string(frames.size()) + " frames";
    if (sampled > 0) {
        line += ". Z range=(" + coordinateNumber(zMin) + ", " + coordinateNumber(zMax) + ")";
    }
    Logger::instance().info(line);
}

void sampleFrameHeights(osg::Node* sceneRoot, std::vector<PolygonFrame>& frames)
{
    if (!sceneRoot) {
        return;
    }
    for (auto& frame : frames) {
        sampleFrameHeight(sceneRoot, frame);
    }
    logSampledHeights(sceneRoot, frames);
}

}  // namespace vistrel
