#include "render/FrameCamera.h"

#include <gtest/gtest.h>

using namespace vistrel;

namespace {

PolygonFrame workedFrame()
{
    PolygonFrame frame;
    frame.name = "worked";
    frame.minX = 1000;
    frame.maxX = 1100;
    frame.minY = 2000;
    frame.maxY = 2100;
    frame.minZ = 20;
    frame.maxZ = 35;
    frame.centerZ = 27.5;
    return frame;
}

void expectVec(const osg::Vec3d& actual, double x, double y, double z, double tolerance = 1e-3)
{
    EXPECT_NEAR(actual.x(), x, tolerance);
    EXPECT_NEAR(actual.y(), y, tolerance);
    EXPECT_NEAR(actual.z(), z, tolerance);
}

}  // namespace

TEST(FrameCamera, WorkedExample)
{
    RenderConfig config;
    FrameCamera camera(config);
    const PolygonFrame frame = workedFrame();

    const CameraSetup top = camera.computeSetup(frame, "top");
    expectVec(top.eye, 1050, 2050, 327.5);
    expectVec(top.center, 1050, 2050, 27.5);
    expectVec(top.up, 0, 1, 0);
    EXPECT_NEAR(top.orthoHeight, 105.0, 1e-3);
    EXPECT_NEAR(top.orthoWidth, 186.667, 1e-3);

    const CameraSetup north = camera.computeSetup(frame, "north");
    expectVec(north.eye, 1050, 2204.269, 211.351);
    expectVec(north.up, 0, 0, 1);
    EXPECT_NEAR(north.orthoHeight, 107.1, 1e-3);
    EXPECT_NEAR(north.orthoWidth, 190.4, 1e-3);

    osg::ref_ptr<osg::Camera> osgCamera = new osg::Camera;
    camera.applyToCamera(osgCamera.get(), north);
    double left, right, bottom, topEdge, zNear, zFar;
    ASSERT_TRUE(osgCamera->getProjectionMatrixAsOrtho(left, right, bottom, topEdge, zNear, zFar));
    EXPECT_NEAR(right - left, 190.4, 1e-3);
    EXPECT_NEAR(topEdge - bottom, 107.1, 1e-3);
    EXPECT_NEAR(zNear, 1.0, 1e-6);
    EXPECT_NEAR(zFar, 100000.0, 1e-3);
    osg::Vec3d eye, center, up;
    osgCamera->getViewMatrixAsLookAt(eye, center, up);
    expectVec(eye, 1050, 2204.269, 211.351);

    config.distance = 6000;  // 20 x distance beyond 100000 moves the far plane
    camera.applyToCamera(osgCamera.get(), north);
    ASSERT_TRUE(osgCamera->getProjectionMatrixAsOrtho(left, right, bottom, topEdge, zNear, zFar));
    EXPECT_NEAR(zFar, 120000.0, 1e-2);
}

TEST(FrameCamera, DirectionsAndViewAngles)
{
    RenderConfig config;
    FrameCamera camera(config);
    expectVec(camera.viewDirection("north", 50), 0, 0.6428, 0.7660, 1e-4);
    expectVec(camera.viewDirection("ne45", 50), 0.4545, 0.4545, 0.7660, 1e-4);
    expectVec(camera.viewDirection("top", 10), 0, 0, 1);
    // 0 means the configured angle; outside 30..70 it is held at the limit.
    EXPECT_EQ(camera.viewDirection("south", 0), camera.viewDirection("south", 50));
    EXPECT_EQ(camera.viewDirection("west", 80), camera.viewDirection("west", 70));
    EXPECT_EQ(camera.viewDirection("east", 10), camera.viewDirection("east", 30));
    EXPECT_EQ(camera.viewDirection("oblique", 45), camera.viewDirection("se45", 45));

    const PolygonFrame frame = workedFrame();
    const CameraSetup oblique = camera.computeSetup(frame, "oblique");
    const CameraSetup se45 = camera.computeSetup(frame, "se45");
    EXPECT_EQ(oblique.eye, se45.eye);
    EXPECT_EQ(oblique.orthoWidth, se45.orthoWidth);
}

TEST(FrameCamera, ErrorsAndLabels)
{
    RenderConfig config;
    FrameCamera camera(config);
    PolygonFrame inverted = workedFrame();
    inverted.maxX = 900;
    try {
        camera.computeSetup(inverted, "top");
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Invalid frame bounds for worked");
    }
    for (const std::string key : {"TOP", "top_range", "up"}) {
        try {
            camera.computeSetup(workedFrame(), key);
            ADD_FAILURE() << key;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "Unsupported camera angle: " + key);
        }
    }
    try {
        camera.applyToCamera(nullptr, CameraSetup{});
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Camera is null");
    }
}

TEST(FrameCamera, DegenerateBoundsLiftAndPadding)
{
    RenderConfig config;
    FrameCamera camera(config);
    // A single point: spans of 1, still a valid placement.
    PolygonFrame point;
    point.minX = point.maxX = 10;
    point.minY = point.maxY = 20;
    point.minZ = point.maxZ = point.centerZ = 5;
    const CameraSetup top = camera.computeSetup(point, "top");
    EXPECT_NEAR(top.orthoHeight, 1.05, 1e-9);
    EXPECT_NEAR(top.orthoWidth, 1.05 * 3840 / 2160, 1e-9);
    expectVec(top.eye, 10, 20, 305);

    // A line (no x span): the extent is the y span; still centred on the line.
    PolygonFrame line = point;
    line.minY = 0;
    line.maxY = 40;
    const CameraSetup lineTop = camera.computeSetup(line, "top");
    EXPECT_NEAR(lineTop.orthoHeight, 42.0, 1e-9);
    expectVec(lineTop.center, 10, 20, 5);
    const CameraSetup lineSide = camera.computeSetup(line, "west");
    EXPECT_TRUE(lineSide.eye.x() < 10.0);
    EXPECT_NEAR(lineSide.orthoHeight, 40 * 1.05 * 1.02, 1e-9);

    // A model above the computed eye: the eye is lifted above it.
    PolygonFrame tower = point;
    tower.minZ = 0;
    tower.maxZ = 400;
    tower.centerZ = 0;
    config.distance = 50;
    const CameraSetup lifted = camera.computeSetup(tower, "top");
    // dist = max(50, 1.2, 800) = 800 puts the eye at 800 > 401: no lift.
    EXPECT_NEAR(lifted.eye.z(), 800, 1e-9);
    config.distance = 10;
    PolygonFrame flatTower = tower;
    flatTower.minZ = 399;
    flatTower.centerZ = 0;
    // spanZ 1, dist = max(10, 1.2, 2) = 10: eye at 10 is below the roof.
    const CameraSetup liftedEye = camera.computeSetup(flatTower, "top");
    EXPECT_NEAR(liftedEye.eye.z(), 400 + std::max(1.0 + 10.0, 10.0), 1e-9);

    // Padding never below 1.
    config.camera_padding = 1.0;
    config.oblique_padding_factor = 0.5;
    PolygonFrame square = workedFrame();
    const CameraSetup side = camera.computeSetup(square, "east");
    EXPECT_NEAR(side.orthoHeight, 100.0, 1e-9);

    // A tall, narrow frame: the height decides the view size.
    PolygonFrame narrow;
    narrow.minX = 0;
    narrow.maxX = 8;
    narrow.minY = 0;
    narrow.maxY = 60;
    config.camera_padding = 1.05;
    const CameraSetup tall = camera.computeSetup(narrow, "top");
    EXPECT_NEAR(tall.orthoHeight, 63.0, 1e-9);
    EXPECT_NEAR(tall.orthoWidth, 63.0 * 3840 / 2160, 1e-9);
}
