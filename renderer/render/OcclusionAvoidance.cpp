#include "render/OcclusionAvoidance.h"

#include "core/FrameArea.h"
#include "core/Logger.h"
#include "core/NumberText.h"

#include <osgUtil/IntersectionVisitor>
#include <osgUtil/LineSegmentIntersector>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace vistrel {

namespace {
std::atomic<std::size_t> rayTests{0};
}

std::size_t occlusionRayTestCount()
{
    return rayTests.load();
}

std::vector<int> candidateViewAngles(double obliqueViewAngle)
{
    const double a = std::clamp(obliqueViewAngle, 30.0, 70.0);
    const int start = static_cast<int>(std::round(a / 5.0) * 5.0);
    std::vector<int> candidates;
    for (int v = start; v <= 70; v += 5) {
        candidates.push_back(v);
    }
    return candidates;
}

std::size_t pickCandidate(std::size_t count, const std::function<double(std::size_t)>& score, double& bestScore)
{
    std::size_t best = 0;
    bestScore = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double q = score(i);
        if (i == 0 || q < bestScore) {
            best = i;
            bestScore = q;
        }
        if (q <= 0.01) {
            break;
        }
    }
    return best;
}

double occlusionScore(const RenderConfig& config, osg::Node* root, const PolygonFrame& frame, const CameraSetup& setup)
{
    if (!root) {
        return 0.0;
    }
    const double z = frame.centerZ;
    const osg::Vec3d points[5] = {
        {(frame.minX + frame.maxX) / 2.0, (frame.minY + frame.maxY) / 2.0, z},
        {frame.minX, frame.minY, z},
        {frame.maxX, frame.minY, z},
        {frame.maxX, frame.maxY, z},
        {frame.minX, frame.maxY, z},
    };
    // Obstacles that hide a frame stand near it, so each sight line is
    // tested from the frame's end: from 7 % of the way towards the camera
    // (clear of the frame's own roof) over the sample step's share of it.
    // Only what stands outside the frame's footprint (by more than one
    // picture pixel) is an obstacle: the frame's own building is its subject.
    const double f = std::clamp(config.occlusion_sample_step, 0.1, 0.9);
    const double margin = config.width > 0 ? setup.orthoWidth / config.width : 0.0;
    int blocked = 0;
    for (const auto& point : points) {
        const osg::Vec3d towardEye = setup.eye - point;
        const osg::Vec3d a = point + towardEye * 0.07;
        const osg::Vec3d b = a + towardEye * f;
        osg::ref_ptr<osgUtil::LineSegmentIntersector> intersector = new osgUtil::LineSegmentIntersector(a, b);
        osgUtil::IntersectionVisitor visitor(intersector.get());
        root->accept(visitor);
        ++rayTests;
        const auto& hits = intersector->getIntersections();
        blocked += std::any_of(hits.begin(), hits.end(),
                               [&](const osgUtil::LineSegmentIntersector::Intersection& hit) {
                                   const osg::Vec3d p = hit.getWorldIntersectPoint();
                                   return !nearFrameArea(frame, p.x(), p.y(), margin);
                               })
                       ? 1
                       : 0;
    }
    return blocked / 5.0;
}

CameraSetup chooseCamera(const RenderConfig& config, osg::Node* root, const PolygonFrame& frame,
                         const std::string& angle, OcclusionChoice& choice)
{
    const FrameCamera camera(config);
    if (angle == "top") {
        choice.viewAngle = 90.0;
        choice.score = 0.0;
        return camera.computeSetup(frame, "top");
    }
    if (!config.avoid_occlusion) {
        choice.viewAngle = config.oblique_view_angle;
        choice.score = 0.0;
        return camera.computeSetup(frame, angle);
    }

    const std::vector<int> candidates = candidateViewAngles(config.oblique_view_angle);
    std::vector<CameraSetup> setups;
    setups.reserve(candidates.size());
    double bestScore = 0.0;
    const std::size_t best = pickCandidate(
        candidates.size(),
        [&](std::size_t i) {
            setups.push_back(camera.computeSetupWithViewAngle(frame, angle, candidates[i]));
            return occlusionScore(config, root, frame, setups.back());
        },
        bestScore);

    choice.score = bestScore;
    choice.viewAngle = candidates[best];
    Logger::instance().info("Occlusion choice frame=" + frame.name + " angle=" + angle + " score=" +
                            fixedNumber(choice.score, 3) + " view_angle=" + fixedNumber(choice.viewAngle, 3));
    return setups[best];
}

}  // namespace vistrel
