// What a picture shows of its frame, measured from its depth: heights, the
// share of the area over the model and the share seen unobstructed.
#include "core/FrameArea.h"
#include "render/OffscreenRenderer.h"
#include "render/PictureMeasure.h"
#include "support/GeoFixtures.h"

#include <osg/Group>

#include <gtest/gtest.h>

#include <cstring>

using namespace vistrel;
using namespace testsupport;

namespace {

// 20 x 20 m around the origin with a 6 x 6 m hole, and a second part to the east.
PolygonFrame holedFrame()
{
    PolygonFrame frame;
    frame.name = "holed";
    frame.minX = -10;
    frame.minY = -10;
    frame.maxX = 10;
    frame.maxY = 10;
    frame.rings = {{{-10, -10}, {10, -10}, {10, 10}, {-10, 10}, {-10, -10}},
                   {{-3, -3}, {3, -3}, {3, 3}, {-3, 3}, {-3, -3}}};
    frame.ringIsHole = {false, true};
    frame.minZ = 0;
    frame.maxZ = 15;
    frame.centerZ = 7.5;
    return frame;
}

}  // namespace

TEST(PictureMeasure, TheAreaMaskAgreesWithThePointTest)
{
    PolygonFrame frame = holedFrame();
    frame.rings.push_back({{14, -4}, {19, 0}, {14, 4}});  // a triangle, left open
    AreaGrid grid;
    grid.originX = -12.3;
    grid.originY = -11.7;
    grid.cellX = 0.37;
    grid.cellY = 0.29;
    grid.columns = 90;
    grid.rows = 85;
    const std::vector<unsigned char> mask = frameAreaMask(frame, grid);
    ASSERT_EQ(mask.size(), 90u * 85u);
    int inside = 0;
    for (int row = 0; row < grid.rows; ++row) {
        for (int column = 0; column < grid.columns; ++column) {
            const double x = grid.originX + (column + 0.5) * grid.cellX;
            const double y = grid.originY + (row + 0.5) * grid.cellY;
            ASSERT_EQ(mask[row * grid.columns + column] != 0, insideFrameArea(frame, x, y)) << x << ", " << y;
            inside += mask[row * grid.columns + column];
        }
    }
    EXPECT_GT(inside, 1000);
}

TEST(PictureMeasure, HeightsAndSharesComeFromWhatThePicturesShow)
{
    // Ground under the eastern half only, a 15 m house in the frame, a 40 m
    // pole in its hole and a 30 m wall south of it, outside it.
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    scene->addChild(makeBox(osg::Vec3(0, -14, -1), osg::Vec3(12, 12, 0), osg::Vec4(0.5, 0.5, 0.5, 1)));
    scene->addChild(makeBox(osg::Vec3(3, 4, 0), osg::Vec3(8, 8, 15), osg::Vec4(0, 1, 0, 1)));
    scene->addChild(makeBox(osg::Vec3(-1, -1, 0), osg::Vec3(1, 1, 40), osg::Vec4(0, 0, 1, 1)));
    scene->addChild(makeBox(osg::Vec3(-20, -16, 0), osg::Vec3(20, -14, 30), osg::Vec4(1, 0, 0, 1)));
    RenderConfig config;
    config.width = 320;
    config.height = 180;
    config.warmup_frames = 0;
    config.distance = 100;
    OffscreenRenderer renderer(config);
    std::vector<std::string> errors;
    ASSERT_TRUE(renderer.initialize(scene.get(), errors)) << testing::PrintToString(errors);
    const PolygonFrame frame = holedFrame();
    const FrameCamera camera(config);

    const CameraSetup top = camera.computeSetup(frame, "top");
    ASSERT_TRUE(renderer.renderModel(top));
    const osg::Image& picture = *renderer.captureImage();
    const std::vector<unsigned char> before(picture.data(), picture.data() + picture.getTotalSizeInBytes());
    PictureMeasure measure;
    ASSERT_TRUE(renderer.measurePicture(top, frame, MeasureParts::SurfaceAndArea, measure)) << renderer.renderError();
    // The measure leaves the picture as it was drawn.
    EXPECT_EQ(std::memcmp(before.data(), picture.data(), before.size()), 0);
    // The house's roof, not the pole in the hole; the ground's top.
    ASSERT_TRUE(measure.hasHeights);
    EXPECT_NEAR(measure.maxZ, 15.0, 0.05);
    EXPECT_NEAR(measure.minZ, 0.0, 0.05);
    // Model under the eastern half of the area (holes left out).
    EXPECT_NEAR(modelShare(measure), 0.5, 0.03);
    EXPECT_GT(visibleShare(measure), 0.99);
    // The area alone (a skipped frame's measure): the same counts and
    // heights, without the frame's surface.
    PictureMeasure area;
    ASSERT_TRUE(renderer.measurePicture(top, frame, MeasureParts::Area, area)) << renderer.renderError();
    EXPECT_EQ(area.areaPixels, measure.areaPixels);
    EXPECT_EQ(area.modelPixels, measure.modelPixels);
    EXPECT_EQ(area.minZ, measure.minZ);
    EXPECT_EQ(area.maxZ, measure.maxZ);
    EXPECT_EQ(area.surfacePixels, 0);

    // From the south the wall hides the frame; from the north nothing does.
    for (const char* angle : {"south", "north"}) {
        const CameraSetup side = camera.computeSetup(frame, angle);
        ASSERT_TRUE(renderer.renderModel(side));
        ASSERT_TRUE(renderer.measurePicture(side, frame, MeasureParts::Surface, measure)) << renderer.renderError();
        EXPECT_EQ(measure.areaPixels, 0);
        EXPECT_GT(measure.surfacePixels, 1000) << angle;
        if (std::string(angle) == "south") {
            EXPECT_LT(visibleShare(measure), 0.3);
        } else {
            EXPECT_GT(visibleShare(measure), 0.9);
        }
    }
}

namespace {

// A depth picture of width x height pixels of 0.1 m from (left, bottom),
// read whole: depth 0 at z = 12, 1 at z = 0.
DepthPicture tenthMetrePicture(int width, int height, double left, double bottom)
{
    DepthPicture picture;
    picture.width = width;
    picture.height = height;
    picture.region = {0, 0, width, height};
    picture.place(osg::Matrixd(0.1, 0, 0, 0, 0, 0.1, 0, 0, 0, 0, -12, 0, left, bottom, 12, 1));
    return picture;
}

float depthOf(double z)
{
    return static_cast<float>((12.0 - z) / 12.0);
}

}  // namespace

TEST(PictureMeasure, AWallSeenEdgeOnDoesNotRaiseTheHighest)
{
    // 64 x 36 pixels of 0.1 m over (-3.2, -1.8); depth 0 at z = 12, 1 at z = 0.
    CameraSetup setup;
    setup.orthoWidth = 6.4;
    setup.orthoHeight = 3.6;
    DepthPicture picture = tenthMetrePicture(64, 36, -3.2, -1.8);
    // A roof at 8 m south of row 20, the ground at 2 m north of it, and a
    // plant of 3 x 3 pixels at 9 m on the roof.
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const bool plant = x >= 10 && x < 13 && y >= 5 && y < 8;
            picture.depth.push_back(depthOf(y >= 20 ? 2.0 : plant ? 9.0 : 8.0));
        }
    }
    // Along the roof's edge the north wall, a hair off upright, shows
    // through single pixels: one at the near plane, others down its face.
    picture.depth[19 * 64 + 40] = 0.0f;
    picture.depth[19 * 64 + 41] = depthOf(5.0);
    picture.depth[19 * 64 + 50] = depthOf(10.5);
    PolygonFrame frame;
    frame.rings = {{{-3, -1.6}, {3, -1.6}, {3, 1.6}, {-3, 1.6}, {-3, -1.6}}};
    frame.ringIsHole = {false};
    frame.minX = -3;
    frame.minY = -1.6;
    frame.maxX = 3;
    frame.maxY = 1.6;

    PictureMeasure measure;
    measureVerticalArea(picture, verticalAreaSpans(frame, setup, picture.width, picture.height), setup, measure);
    ASSERT_TRUE(measure.hasHeights);
    EXPECT_NEAR(measure.maxZ, 9.0, 1e-4);
    EXPECT_NEAR(measure.minZ, 2.0, 1e-4);
}

TEST(PictureMeasure, HeightsInsideLongRunsAreFoundAsPixelByPixel)
{
    // Two rows of 100 pixels of 0.1 m, flat at 5 m; the measure takes such
    // rows 32 pixels at a time.
    CameraSetup setup;
    setup.orthoWidth = 10.0;
    setup.orthoHeight = 0.2;
    DepthPicture picture = tenthMetrePicture(100, 2, -5.0, -0.1);
    picture.depth.assign(200, depthOf(5.0));
    std::fill(picture.depth.begin(), picture.depth.begin() + 32, 1.0f);  // a whole run of nothing drawn
    picture.depth[100 + 40] = depthOf(3.0);  // the lowest, in a run after flat ones
    for (int x = 69; x <= 71; ++x) {
        picture.depth[100 + x] = depthOf(7.0);  // the highest, three pixels wide
    }
    picture.depth[80] = depthOf(11.0);  // a single spike, left out
    picture.depth[99] = depthOf(2.0);  // in the short last run
    const std::vector<CellSpan> area = {{0, 0, 100}, {1, 0, 100}};

    PictureMeasure measure;
    measureVerticalArea(picture, area, setup, measure);
    EXPECT_EQ(measure.areaPixels, 200);
    EXPECT_EQ(measure.modelPixels, 168);
    ASSERT_TRUE(measure.hasHeights);
    EXPECT_NEAR(measure.minZ, 2.0, 1e-4);
    EXPECT_NEAR(measure.maxZ, 7.0, 1e-4);
}
