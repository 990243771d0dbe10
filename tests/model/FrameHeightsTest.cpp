#include "model/FrameHeights.h"
#include "support/GeoFixtures.h"
#include "support/TestSupport.h"

#include <osg/Group>

#include <gtest/gtest.h>

using namespace vistrel;
using namespace testsupport;

namespace {

PolygonFrame frameAt(double minX, double minY, double maxX, double maxY)
{
    PolygonFrame frame;
    frame.name = "f";
    frame.minX = minX;
    frame.minY = minY;
    frame.maxX = maxX;
    frame.maxY = maxY;
    return frame;
}

// A node whose bounding sphere is exactly `center`/`radius`.
osg::ref_ptr<osg::Node> sphereScene(const osg::Vec3& center, float radius)
{
    osg::ref_ptr<osg::Group> group = new osg::Group;
    group->setInitialBound(osg::BoundingSphere(center, radius));
    return group;
}

}  // namespace

TEST(FrameHeights, SamplingFindsRoofAndGroundAndSkipsMisses)
{
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    scene->addChild(makeGround(0, 0, 100, 100, 10, osg::Vec4(0, 1, 0, 1)));
    scene->addChild(makeBox(osg::Vec3(40, 40, 10), osg::Vec3(60, 60, 30), osg::Vec4(1, 0, 0, 1)));
    // A post just beyond a tiny frame: the grid spans 1.0 even when the frame is smaller.
    scene->addChild(makeBox(osg::Vec3(80.9f, 80.9f, 10), osg::Vec3(81.1f, 81.1f, 55), osg::Vec4(0, 0, 1, 1)));

    std::vector<PolygonFrame> frames = {frameAt(35, 35, 65, 65), frameAt(500, 500, 510, 510),
                                        frameAt(80, 80, 80.4, 80.4), frameAt(5, 5, 15, 15)};
    resetFrameHeights(frames, scene.get());
    const double cz = scene->getBound().center().z();
    for (const auto& f : frames) {
        EXPECT_DOUBLE_EQ(f.centerZ, cz);
        EXPECT_DOUBLE_EQ(f.minZ, cz);
        EXPECT_DOUBLE_EQ(f.maxZ, cz);
    }

    CapturedOutput log;
    sampleFrameHeights(scene.get(), frames);
    EXPECT_NEAR(frames[0].minZ, 10.0, 1e-4);
    EXPECT_NEAR(frames[0].maxZ, 30.0, 1e-4);
    EXPECT_NEAR(frames[0].centerZ, 20.0, 1e-4);
    // No hit: the reset values stay and the frame is not counted.
    EXPECT_DOUBLE_EQ(frames[1].minZ, cz);
    EXPECT_DOUBLE_EQ(frames[1].maxZ, cz);
    EXPECT_NEAR(frames[2].maxZ, 55.0, 1e-4);
    EXPECT_NEAR(frames[3].minZ, 10.0, 1e-4);
    EXPECT_NEAR(frames[3].maxZ, 10.0, 1e-4);
    EXPECT_NE(log.text().find("Sampled model heights for 3/4 frames. Z range=(10, 55)\n"), std::string::npos)
        << log.text();
}

TEST(FrameHeights, NothingHitGivesNoRangeAndNullSceneDoesNothing)
{
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    scene->addChild(makeGround(0, 0, 10, 10, 0, osg::Vec4(0, 1, 0, 1)));
    std::vector<PolygonFrame> frames = {frameAt(100, 100, 110, 110)};
    resetFrameHeights(frames, scene.get());
    {
        CapturedOutput log;
        sampleFrameHeights(scene.get(), frames);
        EXPECT_NE(log.text().find("Sampled model heights for 0/1 frames\n"), std::string::npos) << log.text();
    }
    {
        CapturedOutput log;
        frames[0].maxZ = 99;
        sampleFrameHeights(nullptr, frames);
        EXPECT_EQ(frames[0].maxZ, 99);
        EXPECT_TRUE(log.text().empty());
    }
}

TEST(FrameAlignment, NearAndFarAtTwiceTheRadius)
{
    osg::ref_ptr<osg::Node> scene = sphereScene(osg::Vec3(1000, 2000, 5), 800);
    {
        CapturedOutput log;
        checkFramesNearScene({frameAt(2490, 1990, 2510, 2010)}, scene.get());  // 1500 away
        EXPECT_NE(log.text().find("[INFO] SHP XY already near scene. Bounds=(2490, 1990) - (2510, 2010), "
                                  "center=(2500, 2000), sceneCenter=(1000, 2000, 5)\n"),
                  std::string::npos)
            << log.text();
    }
    {
        CapturedOutput log;
        checkFramesNearScene({frameAt(2690, 1990, 2710, 2010)}, scene.get());  // 1700 away
        EXPECT_NE(log.text().find("[WARN] SHP XY is far from scene after configured offsets. No extra center "
                                  "alignment was applied. SHP bounds=(2690, 1990) - (2710, 2010), "
                                  "center=(2700, 2000), sceneCenter=(1000, 2000, 5)\n"),
                  std::string::npos)
            << log.text();
    }
    {
        // The union of several frames is compared; frames with inverted bounds are left out.
        CapturedOutput log;
        checkFramesNearScene({frameAt(900, 1900, 950, 1950), frameAt(1050, 2050, 1100, 2100), frameAt(9e6, 9e6, 0, 0)},
                             scene.get());
        EXPECT_NE(log.text().find("Bounds=(900, 1900) - (1100, 2100), center=(1000, 2000)"), std::string::npos)
            << log.text();
    }
    osg::ref_ptr<osg::Node> tiny = sphereScene(osg::Vec3(0, 0, 0), 0.2f);
    {
        CapturedOutput log;
        checkFramesNearScene({frameAt(1.9, 0, 1.9, 0)}, tiny.get());
        EXPECT_NE(log.text().find("already near scene"), std::string::npos);
    }
    {
        CapturedOutput log;
        checkFramesNearScene({frameAt(2.1, 0, 2.1, 0)}, tiny.get());
        EXPECT_NE(log.text().find("far from scene"), std::string::npos);
    }
    {
        // No valid frame: the union stays (0, 0, 0, 0) and is measured from the origin.
        CapturedOutput log;
        checkFramesNearScene({frameAt(10, 10, 0, 0)}, scene.get());
        EXPECT_NE(log.text().find("[WARN] SHP XY is far from scene after configured offsets. No extra center "
                                  "alignment was applied. SHP bounds=(0, 0) - (0, 0), center=(0, 0)"),
                  std::string::npos)
            << log.text();
    }
    {
        // An empty scene (radius below 0) makes no comparison.
        CapturedOutput log;
        osg::ref_ptr<osg::Group> empty = new osg::Group;
        checkFramesNearScene({frameAt(1e6, 1e6, 1e6 + 1, 1e6 + 1)}, empty.get());
        EXPECT_NE(log.text().find("[INFO] SHP XY already near scene."), std::string::npos) << log.text();
    }
    EXPECT_EQ(formatBounds(3345678.9, 1, 3345680.9, 3), "(3345678.9, 1) - (3345680.9, 3), center=(3345679.9, 2)");
}

TEST(FrameHeights, AHoleIsNotPartOfTheFrame)
{
    // A 50 m tower in the frame's hole: the grid point over it is left out.
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    scene->addChild(makeGround(0, 0, 100, 100, 10, osg::Vec4(0, 1, 0, 1)));
    scene->addChild(makeBox(osg::Vec3(15, 15, 10), osg::Vec3(25, 25, 60), osg::Vec4(1, 0, 0, 1)));
    PolygonFrame frame = frameAt(0, 0, 40, 40);
    frame.rings = {{{0, 0}, {40, 0}, {40, 40}, {0, 40}, {0, 0}}, {{10, 10}, {30, 10}, {30, 30}, {10, 30}, {10, 10}}};
    ASSERT_TRUE(sampleFrameHeight(scene.get(), frame));
    EXPECT_NEAR(frame.maxZ, 60.0, 1e-4);  // without the flag the inner ring is a second part
    frame.ringIsHole = {false, true};
    ASSERT_TRUE(sampleFrameHeight(scene.get(), frame));
    EXPECT_NEAR(frame.maxZ, 10.0, 1e-4);
    EXPECT_NEAR(frame.minZ, 10.0, 1e-4);
}
