#include "render/FrameCamera.h"

#include "core/CameraAngle.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace vistrel {

osg::Vec3d FrameCamera::directionFromOffset(double dx, double dy, double viewAngle) const
{
    const double h = std::sqrt(dx * dx + dy * dy);
    double a = viewAngle > 0.0 ? viewAngle : config_.oblique_view_angle;
    a = std::clamp(a, 30.0, 70.0);
    const double t = std::tan(a * 3.141592653589793 / 180.0);
    osg::Vec3d v(dx, dy, t * std::max(1.0, h));
    v.normalize();
    return v;
}

osg::Vec3d FrameCamera::viewDirection(const std::string& angle, double viewAngle) const
{
    if (angle == "top") {
        return osg::Vec3d(0.0, 0.0, 1.0);
    }
    const AngleEntry* entry = findAngle(angle);
    if (!entry || (entry->dx == 0 && entry->dy == 0)) {
        throw std::runtime_error("Unsupported camera angle: " + angle);
    }
    return directionFromOffset(entry->dx, entry->dy, viewAngle);
}

CameraSetup FrameCamera::computeSetup(const PolygonFrame& frame, const std::string& angle) const
{
    return computeSetupWithViewAngle(frame, angle, -1.0);
}

CameraSetup FrameCamera::computeSetupWithViewAngle(const PolygonFrame& frame, const std::string& angle,
                                                   double viewAngle) const
{
    if (frame.maxX < frame.minX || frame.maxY < frame.minY) {
        throw std::runtime_error("Invalid frame bounds for " + frame.name);
    }
    const double spanY = std::max(1.0, frame.maxY - frame.minY);
    const double spanZ = std::max(1.0, frame.maxZ - frame.minZ);
    const double extent = std::max(spanY, std::max(1.0, frame.maxX - frame.minX));
    const bool isTop = angle == "top";
    const double f = isTop ? 1.0 : config_.oblique_distance_factor;
    const double dist = std::max({config_.distance * f, extent * 0.5 * 2.4 * f, 2.0 * spanZ});

    CameraSetup setup;
    setup.center = osg::Vec3d((frame.minX + frame.maxX) / 2.0, (frame.minY + frame.maxY) / 2.0, frame.centerZ);
    const osg::Vec3d d = viewDirection(angle, viewAngle);
    setup.eye = setup.center + d * dist;
    if (frame.maxZ + 1.0 >= setup.eye.z()) {
        setup.eye.z() = frame.maxZ + std::max(spanZ + 10.0, dist);
    }
    setup.up = isTop ? osg::Vec3d(0.0, 1.0, 0.0) : osg::Vec3d(0.0, 0.0, 1.0);

    const double g = isTop ? 1.0 : config_.oblique_padding_factor;
    const double p = std::max(1.0, config_.camera_padding * g);
    setup.orthoWidth = p * extent;
    setup.orthoHeight = setup.orthoWidth * static_cast<double>(config_.height) / static_cast<double>(config_.width);
    if (p * spanY > setup.orthoHeight) {
        setup.orthoHeight = p * spanY;
        setup.orthoWidth = static_cast<double>(config_.width) * setup.orthoHeight / static_cast<double>(config_.height);
    }
    growToHoldFrameBox(frame, p, setup);
    return setup;
}

void FrameCamera::growToHoldFrameBox(const PolygonFrame& frame, double padding, CameraSetup& setup) const
{
    // The image plane of the look-at placement: the same axes applyToCamera gives.
    osg::Vec3d forward = setup.center - setup.eye;
    forward.normalize();
    osg::Vec3d right = forward ^ setup.up;
    right.normalize();
    const osg::Vec3d up = right ^ forward;

    double halfU = 0.0;
    double halfV = 0.0;
    for (const double x : {frame.minX, frame.maxX}) {
        for (const double y : {frame.minY, frame.maxY}) {
            for (const double z : {frame.minZ, frame.maxZ}) {
                const osg::Vec3d offset = osg::Vec3d(x, y, z) - setup.center;
                halfU = std::max(halfU, std::fabs(offset * right));
                halfV = std::max(halfV, std::fabs(offset * up));
            }
        }
    }
    const double aspect = static_cast<double>(config_.width) / static_cast<double>(config_.height);
    const double width = std::max(padding * 2.0 * halfU, padding * 2.0 * halfV * aspect);
    // Only ever wider: a placement that holds the box already keeps its exact
    // size (the margin absorbs rounding in the projection above).
    if (width > setup.orthoWidth * (1.0 + 1e-9)) {
        setup.orthoWidth = width;
        setup.orthoHeight = width / aspect;
    }
}

void FrameCamera::applyToCamera(osg::Camera* camera, const CameraSetup& setup) const
{
    if (!camera) {
        throw std::runtime_error("Camera is null");
    }
    camera->setViewMatrixAsLookAt(setup.eye, setup.center, setup.up);
    camera->setProjectionMatrixAsOrtho(-setup.orthoWidth / 2.0, setup.orthoWidth / 2.0, -setup.orthoHeight / 2.0,
                                       setup.orthoHeight / 2.0, 1.0, std::max(100000.0, config_.distance * 20.0));
}

}  // namespace vistrel
