// Rendering through the headless context: orientation, clear colours, the
// frame-buffer object, warm-up frames and overlays.
#include "render/OffscreenRenderer.h"
#include "support/GeoFixtures.h"
#include "support/TestSupport.h"

#include <osg/GLExtensions>
#include <osg/Group>
#include <osg/StateSet>

#include <gtest/gtest.h>

using namespace vistrel;
using namespace testsupport;

namespace {

// Green ground over [-50, 50]^2, a red box in the north, a blue box in the
// east; unlit so the colours come out exactly.
osg::ref_ptr<osg::Node> testScene()
{
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    scene->addChild(makeGround(-50, -50, 50, 50, 0, osg::Vec4(0, 1, 0, 1)));
    scene->addChild(makeBox(osg::Vec3(-5, 20, 0), osg::Vec3(5, 30, 10), osg::Vec4(1, 0, 0, 1)));
    scene->addChild(makeBox(osg::Vec3(20, -5, 0), osg::Vec3(30, 5, 10), osg::Vec4(0, 0, 1, 1)));
    scene->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::OVERRIDE);
    return scene;
}

PolygonFrame frameAround(double minX, double minY, double maxX, double maxY)
{
    PolygonFrame frame;
    frame.name = "test";
    frame.minX = minX;
    frame.minY = minY;
    frame.maxX = maxX;
    frame.maxY = maxY;
    frame.minZ = 0;
    frame.maxZ = 10;
    frame.centerZ = 5;
    return frame;
}

RenderConfig smallConfig()
{
    RenderConfig config;
    config.width = 320;
    config.height = 240;
    config.warmup_frames = 0;
    return config;
}

struct Rgba {
    int r, g, b, a;
};

// (x, y) counted from the top-left corner of the picture.
Rgba pixelFromTop(const osg::Image& image, int x, int yFromTop)
{
    const unsigned char* p = image.data(x, image.t() - 1 - yFromTop);
    return {p[0], p[1], p[2], p[3]};
}

bool isColour(const Rgba& c, int r, int g, int b)
{
    return std::abs(c.r - r) <= 2 && std::abs(c.g - g) <= 2 && std::abs(c.b - b) <= 2;
}

::testing::AssertionResult colourAt(const osg::Image& image, int x, int yFromTop, int r, int g, int b)
{
    const Rgba c = pixelFromTop(image, x, yFromTop);
    if (isColour(c, r, g, b)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "pixel (" << x << ", " << yFromTop << " from top) is " << c.r << ","
                                         << c.g << "," << c.b << " not " << r << "," << g << "," << b;
}

}  // namespace

TEST(OffscreenRenderer, TopViewHasNorthUpAndEastRight)
{
    RenderConfig config = smallConfig();
    OffscreenRenderer renderer(config);
    osg::ref_ptr<osg::Node> scene = testScene();
    CapturedOutput log;
    ASSERT_TRUE(renderer.initialize(scene.get()));
    EXPECT_NE(log.text().find("[INFO] FBO renderer initialized."), std::string::npos);
    EXPECT_NE(log.text().find("OpenGL context: EGL"), std::string::npos) << log.text();

    FrameCamera camera(config);
    ASSERT_TRUE(renderer.renderFrame(camera.computeSetup(frameAround(-40, -40, 40, 40), "top")));
    EXPECT_TRUE(renderer.drewThroughFrameBufferObject());
    const osg::Image& image = *renderer.captureImage();
    // View 112 x 84 units on 320 x 240 pixels, centred on (0, 0).
    EXPECT_TRUE(colourAt(image, 160, 240 - 191, 255, 0, 0));   // red box at y = +25: upper half
    EXPECT_TRUE(colourAt(image, 231, 120, 0, 0, 255));         // blue box at x = +25: right
    EXPECT_TRUE(colourAt(image, 74, 240 - 34, 0, 255, 0));     // ground in the south-west
    EXPECT_TRUE(colourAt(image, 5, 120, 255, 255, 255));       // beyond the ground: white background
    EXPECT_TRUE(colourAt(image, 160, 240 - 49, 0, 255, 0));    // mirror of the red box: ground
}

TEST(OffscreenRenderer, NorthViewLooksSouth)
{
    RenderConfig config = smallConfig();
    OffscreenRenderer renderer(config);
    osg::ref_ptr<osg::Node> scene = testScene();
    ASSERT_TRUE(renderer.initialize(scene.get()));
    FrameCamera camera(config);
    ASSERT_TRUE(renderer.renderFrame(camera.computeSetup(frameAround(-40, -40, 40, 40), "north")));
    const osg::Image& image = *renderer.captureImage();
    // Looking south, east is on the left and the nearer red box sits below the centre.
    EXPECT_TRUE(colourAt(image, 160, 240 - 70, 255, 0, 0));
    EXPECT_TRUE(colourAt(image, 90, 240 - 125, 0, 0, 255));
    EXPECT_FALSE(isColour(pixelFromTop(image, 230, 240 - 125), 0, 0, 255));
}

TEST(OffscreenRenderer, ClearColours)
{
    struct Case {
        std::string background;
        bool transparent;
        Rgba expected;
    };
    const std::vector<Case> cases = {
        {"white", false, {255, 255, 255, 255}}, {"black", false, {0, 0, 0, 255}},
        {"Black", false, {255, 255, 255, 255}}, {"transparent", false, {0, 0, 0, 0}},
        {"white", true, {0, 0, 0, 0}},          {"grey", false, {255, 255, 255, 255}},
    };
    osg::ref_ptr<osg::Node> scene = testScene();
    for (const auto& tc : cases) {
        RenderConfig config = smallConfig();
        config.background = tc.background;
        config.transparent_bg = tc.transparent;
        OffscreenRenderer renderer(config);
        ASSERT_TRUE(renderer.initialize(scene.get()));
        // A frame far away from the model shows only the clear colour.
        ASSERT_TRUE(renderer.renderFrame(FrameCamera(config).computeSetup(frameAround(900, 900, 910, 910), "top")));
        const Rgba c = pixelFromTop(*renderer.captureImage(), 100, 100);
        EXPECT_EQ(c.r, tc.expected.r) << tc.background;
        EXPECT_EQ(c.g, tc.expected.g) << tc.background;
        EXPECT_EQ(c.b, tc.expected.b) << tc.background;
        EXPECT_EQ(c.a, tc.expected.a) << tc.background << " transparent_bg=" << tc.transparent;
    }
}

TEST(OffscreenRenderer, WarmupFramesSleepsAndMultisample)
{
    osg::ref_ptr<osg::Node> scene = testScene();
    const PolygonFrame frame = frameAround(-40, -40, 40, 40);
    std::vector<unsigned char> pixels[2];
    const int multisample[2] = {0, 8};
    for (int i = 0; i < 2; ++i) {
        RenderConfig config = smallConfig();
        config.multisample = multisample[i];
        config.warmup_frames = i == 0 ? 0 : 2;
        OffscreenRenderer renderer(config);
        ASSERT_TRUE(renderer.initialize(scene.get()));
        ASSERT_TRUE(renderer.renderFrame(FrameCamera(config).computeSetup(frame, "ne45")));
        if (i == 0) {
            EXPECT_EQ(renderer.timings().draws, 1);
            EXPECT_EQ(renderer.timings().sleepSeconds, 0.0);
        } else {
            EXPECT_EQ(renderer.timings().draws, 3);
            EXPECT_GE(renderer.timings().sleepSeconds, 0.05);
        }
        const osg::Image* image = renderer.captureImage();
        pixels[i].assign(image->data(), image->data() + image->getTotalSizeInBytes());
    }
    // multisample is read but the off-screen context takes none from it.
    EXPECT_TRUE(pixels[0] == pixels[1]);
}

TEST(OffscreenRenderer, FailuresAreReportedNotThrown)
{
    RenderConfig config = smallConfig();
    OffscreenRenderer renderer(config);
    CapturedOutput log;
    EXPECT_FALSE(renderer.renderFrame(CameraSetup{}));
    EXPECT_FALSE(renderer.renderModel(CameraSetup{}));
    EXPECT_FALSE(renderer.initialize(nullptr));
    EXPECT_EQ(countOccurrences(log.text(), "[ERROR] Renderer is not initialized."), 2);
    EXPECT_NE(log.text().find("[ERROR] Cannot initialize renderer with null scene."), std::string::npos);
}

TEST(OffscreenRenderer, RenderModelRemovesOverlays)
{
    RenderConfig config = smallConfig();
    OffscreenRenderer renderer(config);
    osg::ref_ptr<osg::Node> scene = testScene();
    ASSERT_TRUE(renderer.initialize(scene.get()));
    const CameraSetup top = FrameCamera(config).computeSetup(frameAround(-40, -40, 40, 40), "top");

    // A yellow slab over the middle, hung under the scene root like an outline.
    osg::ref_ptr<osg::Node> overlay = makeBox(osg::Vec3(-10, -10, 20), osg::Vec3(10, 10, 21), osg::Vec4(1, 1, 0, 1));
    overlay->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    renderer.sceneRoot()->addChild(overlay.get());
    renderer.sceneRoot()->addChild(makeGround(0, 0, 1, 1, 50, osg::Vec4(1, 1, 0, 1)));
    ASSERT_TRUE(renderer.renderFrame(top));
    EXPECT_TRUE(colourAt(*renderer.captureImage(), 160, 120, 255, 255, 0));

    ASSERT_TRUE(renderer.renderModel(top));
    EXPECT_EQ(renderer.sceneRoot()->getNumChildren(), 1u);
    EXPECT_EQ(renderer.sceneRoot()->getChild(0), scene.get());
    EXPECT_TRUE(colourAt(*renderer.captureImage(), 160, 120, 0, 255, 0));
}

TEST(OffscreenRenderer, StaleExtensionObjectsDoNotDisableTheFrameBufferObject)
{
    // Loading tiles can create GL extension objects for context IDs before a
    // context exists; they report no FBO support. The renderer must not
    // inherit them, or OpenSceneGraph silently falls back to a pbuffer.
    for (unsigned int id = 0; id < 8; ++id) {
        osg::GLExtensions::Get(id, true);
    }
    RenderConfig config = smallConfig();
    OffscreenRenderer renderer(config);
    osg::ref_ptr<osg::Node> scene = testScene();
    ASSERT_TRUE(renderer.initialize(scene.get()));
    ASSERT_TRUE(renderer.renderFrame(FrameCamera(config).computeSetup(frameAround(-40, -40, 40, 40), "top")));
    EXPECT_TRUE(renderer.drewThroughFrameBufferObject());
    EXPECT_TRUE(colourAt(*renderer.captureImage(), 231, 120, 0, 0, 255));
}
