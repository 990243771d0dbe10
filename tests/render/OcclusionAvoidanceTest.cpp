#include "render/OcclusionAvoidance.h"
#include "support/GeoFixtures.h"
#include "support/TestSupport.h"

#include <osg/Group>
#include <osgUtil/IntersectionVisitor>
#include <osgUtil/LineSegmentIntersector>

#include <gtest/gtest.h>

using namespace vistrel;
using namespace testsupport;

TEST(OcclusionAvoidance, CandidateAngles)
{
    EXPECT_EQ(candidateViewAngles(50), (std::vector<int>{50, 55, 60, 65, 70}));
    EXPECT_EQ(candidateViewAngles(52), (std::vector<int>{50, 55, 60, 65, 70}));
    EXPECT_EQ(candidateViewAngles(52.5), (std::vector<int>{55, 60, 65, 70}));
    EXPECT_EQ(candidateViewAngles(68), (std::vector<int>{70}));
    EXPECT_EQ(candidateViewAngles(32), (std::vector<int>{30, 35, 40, 45, 50, 55, 60, 65, 70}));
    EXPECT_EQ(candidateViewAngles(10), (std::vector<int>{30, 35, 40, 45, 50, 55, 60, 65, 70}));
}

TEST(OcclusionAvoidance, TiesKeepTheFlatterCandidateAndFreeViewsStop)
{
    const auto pick = [](std::vector<double> scores, int& tried, double& best) {
        tried = 0;
        return pickCandidate(
            scores.size(),
            [&](std::size_t i) {
                ++tried;
                return scores[i];
            },
            best);
    };
    int tried = 0;
    double best = 0;
    EXPECT_EQ(pick({0.6, 0.4, 0.4, 0.2, 0.2}, tried, best), 3u);
    EXPECT_DOUBLE_EQ(best, 0.2);
    EXPECT_EQ(tried, 5);
    EXPECT_EQ(pick({1.0, 1.0, 1.0}, tried, best), 0u);
    EXPECT_DOUBLE_EQ(best, 1.0);
    EXPECT_EQ(pick({0.4, 0.0, 0.0, 0.2}, tried, best), 1u);
    EXPECT_EQ(tried, 2);
    EXPECT_EQ(pick({0.0, 0.4}, tried, best), 0u);
    EXPECT_EQ(tried, 1);
}

namespace {

PolygonFrame houseFrame()
{
    PolygonFrame frame;
    frame.name = "house";
    frame.minX = -5;
    frame.maxX = 5;
    frame.minY = -5;
    frame.maxY = 5;
    frame.minZ = 0;
    frame.maxZ = 6;
    frame.centerZ = 3;
    return frame;
}

}  // namespace

TEST(OcclusionAvoidance, VerticalAndDisabledMakeNoRayTests)
{
    osg::ref_ptr<osg::Node> scene = makeBox(osg::Vec3(-20, -60, 0), osg::Vec3(20, -30, 80), osg::Vec4(1, 0, 0, 1));
    RenderConfig config;
    config.distance = 100;
    const std::size_t before = occlusionRayTestCount();
    OcclusionChoice choice;
    chooseCamera(config, scene.get(), houseFrame(), "top", choice);
    EXPECT_DOUBLE_EQ(choice.viewAngle, 90.0);
    EXPECT_DOUBLE_EQ(choice.score, 0.0);
    config.avoid_occlusion = false;
    config.oblique_view_angle = 45;
    const CameraSetup setup = chooseCamera(config, scene.get(), houseFrame(), "south", choice);
    EXPECT_DOUBLE_EQ(choice.viewAngle, 45.0);
    EXPECT_DOUBLE_EQ(choice.score, 0.0);
    EXPECT_EQ(setup.eye, FrameCamera(config).computeSetup(houseFrame(), "south").eye);
    EXPECT_EQ(occlusionRayTestCount(), before);
}

TEST(OcclusionAvoidance, BlockedSideClimbsToAFreeAngle)
{
    // A tower 23 m south of a small house: its south view is blocked at 50
    // degrees, seen by a step that reaches that far from the frame.
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    scene->addChild(makeBox(osg::Vec3(-20, -50, 0), osg::Vec3(20, -28, 80), osg::Vec4(1, 0, 0, 1)));
    scene->addChild(makeBox(osg::Vec3(-5, -5, 0), osg::Vec3(5, 5, 6), osg::Vec4(0, 1, 0, 1)));
    RenderConfig config;
    config.distance = 100;
    config.occlusion_sample_step = 0.9;

    const FrameCamera camera(config);
    EXPECT_GT(
        occlusionScore(config, scene.get(), houseFrame(), camera.computeSetupWithViewAngle(houseFrame(), "south", 50)),
        0.0);
    EXPECT_DOUBLE_EQ(
        occlusionScore(config, scene.get(), houseFrame(), camera.computeSetupWithViewAngle(houseFrame(), "north", 50)),
        0.0);

    CapturedOutput log;
    const std::size_t before = occlusionRayTestCount();
    OcclusionChoice south;
    const CameraSetup setup = chooseCamera(config, scene.get(), houseFrame(), "south", south);
    EXPECT_GT(south.viewAngle, 50.0);
    EXPECT_LE(south.viewAngle, 70.0);
    EXPECT_DOUBLE_EQ(south.score, 0.0);
    EXPECT_EQ(setup.eye, camera.computeSetupWithViewAngle(houseFrame(), "south", south.viewAngle).eye);
    // Five sight lines per candidate, from 50 degrees up to the first free one.
    const auto tried = static_cast<std::size_t>((south.viewAngle - 50.0) / 5.0) + 1;
    EXPECT_EQ(occlusionRayTestCount() - before, 5 * tried);
    EXPECT_NE(log.text().find("Occlusion choice frame=house angle=south score=0.000 view_angle=" +
                              std::to_string(static_cast<int>(south.viewAngle)) + ".000"),
              std::string::npos)
        << log.text();

    // The free north side stops after the first candidate: five rays.
    const std::size_t beforeNorth = occlusionRayTestCount();
    OcclusionChoice north;
    chooseCamera(config, scene.get(), houseFrame(), "north", north);
    EXPECT_EQ(occlusionRayTestCount() - beforeNorth, 5u);
    EXPECT_DOUBLE_EQ(north.viewAngle, 50.0);
}

TEST(OcclusionAvoidance, OnlyAWideSampleStepSeesObstaclesFarFromTheFrame)
{
    // A wall 33 to 35 units south of the house: at 50 degrees it stands on
    // the part of the sight lines near the camera, which the default step
    // leaves out.
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    scene->addChild(makeBox(osg::Vec3(-20, -40, 0), osg::Vec3(20, -38, 60), osg::Vec4(1, 0, 0, 1)));
    RenderConfig config;
    config.distance = 100;
    const CameraSetup setup = FrameCamera(config).computeSetupWithViewAngle(houseFrame(), "south", 50);
    EXPECT_DOUBLE_EQ(occlusionScore(config, scene.get(), houseFrame(), setup), 0.0);
    config.occlusion_sample_step = 0.9;
    EXPECT_GT(occlusionScore(config, scene.get(), houseFrame(), setup), 0.0);
}

TEST(OcclusionAvoidance, WallNearTheFrameRaisesTheAngleUntilTheFrameShows)
{
    // A 20 m wall 10 m south of a 3 m high frame, at the default step.
    PolygonFrame frame = houseFrame();
    frame.maxZ = 3;
    frame.centerZ = 1.5;
    osg::ref_ptr<osg::Node> wall = makeBox(osg::Vec3(-20, -16, 0), osg::Vec3(20, -15, 20), osg::Vec4(1, 0, 0, 1));
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    scene->addChild(wall.get());
    scene->addChild(makeBox(osg::Vec3(-5, -5, 0), osg::Vec3(5, 5, 3), osg::Vec4(0, 1, 0, 1)));
    RenderConfig config;
    config.distance = 100;
    ASSERT_DOUBLE_EQ(config.occlusion_sample_step, 0.35);

    const FrameCamera camera(config);
    EXPECT_GT(occlusionScore(config, scene.get(), frame, camera.computeSetupWithViewAngle(frame, "south", 50)), 0.0);
    OcclusionChoice south;
    const CameraSetup setup = chooseCamera(config, scene.get(), frame, "south", south);
    EXPECT_GT(south.viewAngle, 50.0);
    EXPECT_DOUBLE_EQ(south.score, 0.0);
    // Every sight line of the chosen view, frame to camera, passes over the wall.
    for (const osg::Vec3d& point : {osg::Vec3d(0, 0, 1.5), osg::Vec3d(-5, -5, 1.5), osg::Vec3d(5, -5, 1.5),
                                    osg::Vec3d(5, 5, 1.5), osg::Vec3d(-5, 5, 1.5)}) {
        osg::ref_ptr<osgUtil::LineSegmentIntersector> line = new osgUtil::LineSegmentIntersector(point, setup.eye);
        osgUtil::IntersectionVisitor visitor(line.get());
        wall->accept(visitor);
        EXPECT_FALSE(line->containsIntersections()) << point.x() << ", " << point.y();
    }
}

TEST(OcclusionAvoidance, TheFramesOwnBuildingIsNoObstacle)
{
    // A 20 m building alone in its frame, 3 m inside every edge: the sight
    // lines start inside it, yet no side view climbs.
    PolygonFrame frame = houseFrame();
    frame.minX = frame.minY = -8;
    frame.maxX = frame.maxY = 8;
    frame.rings = {{{-8, -8}, {8, -8}, {8, 8}, {-8, 8}, {-8, -8}}};
    frame.maxZ = 20;
    frame.centerZ = 10;
    osg::ref_ptr<osg::Node> building = makeBox(osg::Vec3(-5, -5, 0), osg::Vec3(5, 5, 20), osg::Vec4(0, 1, 0, 1));
    RenderConfig config;
    config.distance = 100;
    for (const char* angle : {"north", "east", "south", "west"}) {
        OcclusionChoice choice;
        chooseCamera(config, building.get(), frame, angle, choice);
        EXPECT_DOUBLE_EQ(choice.viewAngle, 50.0) << angle;
        EXPECT_DOUBLE_EQ(choice.score, 0.0) << angle;
    }
}
