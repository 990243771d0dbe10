#pragma once

#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"

#include <osg/Camera>
#include <osg/Vec3d>

#include <string>

namespace vistrel {

// A camera placement in scene coordinates (x east, y north, z up).
struct CameraSetup {
    osg::Vec3d eye;
    osg::Vec3d center;
    osg::Vec3d up;
    double orthoWidth = 0.0;  // full width of the orthographic view volume
    double orthoHeight = 0.0;  // full height
};

// True when both place the camera exactly alike.
inline bool sameSetup(const CameraSetup& a, const CameraSetup& b)
{
    return a.eye == b.eye && a.center == b.center && a.up == b.up && a.orthoWidth == b.orthoWidth &&
           a.orthoHeight == b.orthoHeight;
}

// Places an orthographic camera over a frame for a view angle so that the
// padded frame, its tallest part included, fills the image.
class FrameCamera {
public:
    explicit FrameCamera(const RenderConfig& config) : config_(config) {}

    // The configured view angle for non-vertical views.
    CameraSetup computeSetup(const PolygonFrame& frame, const std::string& angle) const;
    // `viewAngle` in degrees; 0 or below means the configured one, and it is
    // held to 30..70. Throws std::runtime_error for inverted bounds or a key
    // that is not a camera angle.
    CameraSetup computeSetupWithViewAngle(const PolygonFrame& frame, const std::string& angle, double viewAngle) const;
    // Unit vector from the target towards the eye.
    osg::Vec3d viewDirection(const std::string& angle, double viewAngle) const;
    // Sets the view and the orthographic projection. Throws for a null camera.
    void applyToCamera(osg::Camera* camera, const CameraSetup& setup) const;

private:
    // Widens the view volume, keeping the image's aspect ratio, until the
    // padded projection of the frame's box (x/y bounds by minZ..maxZ) fits.
    void growToHoldFrameBox(const PolygonFrame& frame, double padding, CameraSetup& setup) const;
    osg::Vec3d directionFromOffset(double dx, double dy, double viewAngle) const;

    const RenderConfig& config_;
};

}  // namespace vistrel
