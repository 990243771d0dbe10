// Every view holds the whole frame, its tallest part included.
#include "render/OffscreenRenderer.h"
#include "support/CapturePixels.h"
#include "support/GeoFixtures.h"
#include "support/TestSupport.h"

#include <osg/Group>

#include <gtest/gtest.h>

using namespace vistrel;
using namespace testsupport;

namespace {

// A 10 x 10 plot (a thin slab) with a tower of 4 x 4 by 40 on it, and nothing
// else: any pixel that is not the white background belongs to the model.
osg::ref_ptr<osg::Node> plotWithTower()
{
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    scene->addChild(makeBox(osg::Vec3(0, 0, 0), osg::Vec3(10, 10, 0.5f), osg::Vec4(0, 0.6f, 0, 1)));
    scene->addChild(makeBox(osg::Vec3(3, 3, 0), osg::Vec3(7, 7, 40), osg::Vec4(0.2f, 0.2f, 0.8f, 1)));
    scene->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::OVERRIDE);
    return scene;
}

PolygonFrame plotFrame()
{
    PolygonFrame frame;
    frame.name = "plot";
    frame.maxX = frame.maxY = 10;
    frame.maxZ = 40;
    frame.centerZ = 20;
    return frame;
}

struct Coverage {
    int modelPixels = 0;
    int borderModelPixels = 0;
};

Coverage coverageOf(const osg::Image& image)
{
    Coverage c;
    for (int y = 0; y < image.t(); ++y) {
        for (int x = 0; x < image.s(); ++x) {
            if (isColour(pixelFromTop(image, x, y), 255, 255, 255, 8)) {
                continue;
            }
            ++c.modelPixels;
            if (x == 0 || y == 0 || x == image.s() - 1 || y == image.t() - 1) {
                ++c.borderModelPixels;
            }
        }
    }
    return c;
}

}  // namespace

TEST(WholeFrameView, SidesAndDiagonalsHoldThePlotAndItsTower)
{
    RenderConfig config;
    config.width = 320;
    config.height = 180;
    config.warmup_frames = 0;
    osg::ref_ptr<osg::Node> scene = plotWithTower();
    OffscreenRenderer renderer(config);
    std::vector<std::string> errors;
    ASSERT_TRUE(renderer.initialize(scene.get(), errors)) << testing::PrintToString(errors);
    const FrameCamera camera(config);
    for (const char* angle : {"north", "south", "east", "west", "ne45", "nw45", "se45", "sw45", "oblique"}) {
        for (const double viewAngle : {30.0, 50.0, 70.0}) {
            ASSERT_TRUE(renderer.renderModel(camera.computeSetupWithViewAngle(plotFrame(), angle, viewAngle)));
            const Coverage c = coverageOf(*renderer.captureImage());
            EXPECT_GT(c.modelPixels, 1000) << angle << " " << viewAngle;
            EXPECT_EQ(c.borderModelPixels, 0) << angle << " at " << viewAngle << " degrees is cut at the border";
        }
    }
}

TEST(WholeFrameView, VerticalViewKeepsItsSize)
{
    // Only the x/y spans size the vertical view: 10.5 high, the width from the
    // 16:9 image, whatever the tower's height.
    RenderConfig config;
    config.width = 320;
    config.height = 180;
    const CameraSetup top = FrameCamera(config).computeSetup(plotFrame(), "top");
    EXPECT_DOUBLE_EQ(top.orthoHeight, 10.5);
    EXPECT_DOUBLE_EQ(top.orthoWidth, 320.0 * 10.5 / 180.0);
}
