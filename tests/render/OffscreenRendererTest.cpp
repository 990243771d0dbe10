// Rendering through the headless context: orientation, clear colours, the
// frame-buffer object, warm-up frames and overlays.
#include "render/OffscreenRenderer.h"
#include "support/CapturePixels.h"
#include "support/GeoFixtures.h"
#include "support/TestSupport.h"

#include <osg/GLExtensions>
#include <osg/Group>
#include <osg/PagedLOD>
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

::testing::AssertionResult colourAt(const osg::Image& image, int x, int yFromTop, int r, int g, int b)
{
    const Rgba c = pixelFromTop(image, x, yFromTop);
    if (isColour(c, r, g, b)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "pixel (" << x << ", " << yFromTop << " from top) is " << c.r << "," << c.g
                                         << "," << c.b << " not " << r << "," << g << "," << b;
}

}  // namespace

TEST(OffscreenRenderer, TopViewHasNorthUpAndEastRight)
{
    RenderConfig config = smallConfig();
    OffscreenRenderer renderer(config);
    osg::ref_ptr<osg::Node> scene = testScene();
    CapturedOutput log;
    std::vector<std::string> errors;
    ASSERT_TRUE(renderer.initialize(scene.get(), errors)) << testing::PrintToString(errors);
    EXPECT_NE(log.text().find("[INFO] FBO renderer initialized."), std::string::npos);
    EXPECT_NE(log.text().find("OpenGL context: EGL"), std::string::npos) << log.text();

    FrameCamera camera(config);
    ASSERT_TRUE(renderer.renderFrame(camera.computeSetup(frameAround(-40, -40, 40, 40), "top")));
    EXPECT_TRUE(renderer.drewThroughFrameBufferObject());
    const osg::Image& image = *renderer.captureImage();
    // View 112 x 84 units on 320 x 240 pixels, centred on (0, 0).
    EXPECT_TRUE(colourAt(image, 160, 240 - 191, 255, 0, 0));  // red box at y = +25: upper half
    EXPECT_TRUE(colourAt(image, 231, 120, 0, 0, 255));  // blue box at x = +25: right
    EXPECT_TRUE(colourAt(image, 74, 240 - 34, 0, 255, 0));  // ground in the south-west
    EXPECT_TRUE(colourAt(image, 5, 120, 255, 255, 255));  // beyond the ground: white background
    EXPECT_TRUE(colourAt(image, 160, 240 - 49, 0, 255, 0));  // mirror of the red box: ground
}

TEST(OffscreenRenderer, NorthViewLooksSouth)
{
    RenderConfig config = smallConfig();
    OffscreenRenderer renderer(config);
    osg::ref_ptr<osg::Node> scene = testScene();
    std::vector<std::string> errors;
    ASSERT_TRUE(renderer.initialize(scene.get(), errors)) << testing::PrintToString(errors);
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
        std::vector<std::string> errors;
        ASSERT_TRUE(renderer.initialize(scene.get(), errors)) << testing::PrintToString(errors);
        // A frame far away from the model shows only the clear colour.
        ASSERT_TRUE(renderer.renderFrame(FrameCamera(config).computeSetup(frameAround(900, 900, 910, 910), "top")));
        const Rgba c = pixelFromTop(*renderer.captureImage(), 100, 100);
        EXPECT_EQ(c.r, tc.expected.r) << tc.background;
        EXPECT_EQ(c.g, tc.expected.g) << tc.background;
        EXPECT_EQ(c.b, tc.expected.b) << tc.background;
        EXPECT_EQ(c.a, tc.expected.a) << tc.background << " transparent_bg=" << tc.transparent;
    }
}

TEST(OffscreenRenderer, WarmupFramesLetThePagerLoadFinerLevels)
{
    // A paged tile: green while far, a red level on disk once it covers more
    // than 100 pixels. Only draws give the pager time to fetch the red level.
    TempDir dir("warmup");
    writeNode(dir / "fine.osgb", *makeGround(-50, -50, 50, 50, 0, osg::Vec4(1, 0, 0, 1)));
    osg::ref_ptr<osg::PagedLOD> tile = new osg::PagedLOD;
    tile->setRangeMode(osg::LOD::PIXEL_SIZE_ON_SCREEN);
    tile->setCenterMode(osg::LOD::USER_DEFINED_CENTER);
    tile->setCenter(osg::Vec3(0, 0, 0));
    tile->setRadius(71);
    tile->addChild(makeGround(-50, -50, 50, 50, 0, osg::Vec4(0, 1, 0, 1)), 0, 100);
    tile->setFileName(1, "fine.osgb");
    tile->setRange(1, 100, 1e9);
    tile->setDatabasePath(dir.path().string() + "/");
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    scene->addChild(tile.get());
    scene->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::OVERRIDE);
    const PolygonFrame frame = frameAround(-40, -40, 40, 40);

    // Whatever the warm-up, the picture waits for the finer level; a view
    // already settled is read back again without a draw.
    for (const int warmup : {0, 8}) {
        RenderConfig config = smallConfig();
        config.warmup_frames = warmup;
        config.warmup_until_loaded = false;
        OffscreenRenderer renderer(config);
        std::vector<std::string> errors;
        ASSERT_TRUE(renderer.initialize(scene.get(), errors)) << testing::PrintToString(errors);
        const CameraSetup setup = FrameCamera(config).computeSetup(frame, "top");
        ASSERT_TRUE(renderer.renderFrame(setup));
        EXPECT_FALSE(renderer.tilesIncomplete());
        // Looks until the finer level is in, then one draw; the second
        // renderer finds the level loaded.
        EXPECT_EQ(renderer.timings().draws, 1);
        EXPECT_GE(renderer.timings().draws + renderer.timings().looks, warmup == 0 ? 2 : 1);
        EXPECT_LE(renderer.timings().draws + renderer.timings().looks, std::max(warmup, 1) + 2);
        EXPECT_EQ(renderer.timings().readbacks, 1);
        EXPECT_GE(renderer.timings().sleepSeconds, warmup * 0.025);
        EXPECT_TRUE(colourAt(*renderer.captureImage(), 160, 120, 255, 0, 0));
        EXPECT_EQ(renderer.captureImage()->getPixelFormat(), static_cast<GLenum>(GL_RGBA));  // as the buffer holds it

        const int draws = renderer.timings().draws;
        ASSERT_TRUE(renderer.renderFrame(setup));
        EXPECT_EQ(renderer.timings().draws, draws);
        EXPECT_EQ(renderer.timings().readbacks, 2);
        EXPECT_TRUE(colourAt(*renderer.captureImage(), 160, 120, 255, 0, 0));
    }
}

TEST(OffscreenRenderer, TargetBeyondTheContextLimitsDoesNotStart)
{
    RenderTargetLimits gpu;
    gpu.renderbuffer = 8192;
    gpu.viewportWidth = 16384;
    gpu.viewportHeight = 8192;
    EXPECT_EQ(renderTargetLimitError(8192, 8192, gpu), "");
    EXPECT_EQ(renderTargetLimitError(8193, 2160, gpu),
              "Render target 8193x2160 exceeds the OpenGL limit GL_MAX_RENDERBUFFER_SIZE 8192.");
    gpu.renderbuffer = 0;  // not reported: only the viewport limit holds
    EXPECT_EQ(renderTargetLimitError(12000, 8193, gpu),
              "Render target 12000x8193 exceeds the OpenGL limit GL_MAX_VIEWPORT_DIMS 16384x8192.");
    EXPECT_EQ(renderTargetLimitError(12000, 8000, gpu), "");

    // The context's own limits are read at initialize.
    RenderConfig config = smallConfig();
    osg::ref_ptr<osg::Node> scene = testScene();
    {
        OffscreenRenderer renderer(config);
        std::vector<std::string> errors;
        ASSERT_TRUE(renderer.initialize(scene.get(), errors)) << testing::PrintToString(errors);
        EXPECT_GE(renderer.targetLimits().renderbuffer, 320);
        EXPECT_GE(renderer.targetLimits().viewportHeight, 240);
    }
    OffscreenRenderer renderer(config);
    renderer.limitTargetSize(256);
    CapturedOutput log;
    std::vector<std::string> errors;
    EXPECT_FALSE(renderer.initialize(scene.get(), errors));
    EXPECT_EQ(errors,
              std::vector<std::string>{"Render target 320x240 exceeds the OpenGL limit GL_MAX_RENDERBUFFER_SIZE 256."});
    EXPECT_EQ(log.text().find("[ERROR]"), std::string::npos) << log.text();  // the caller logs them
    EXPECT_FALSE(renderer.renderFrame(FrameCamera(config).computeSetup(frameAround(-4, -4, 4, 4), "top")));
}

TEST(OffscreenRenderer, AFrameNotDrawnThroughTheFrameBufferObjectFails)
{
    RenderConfig config = smallConfig();
    OffscreenRenderer renderer(config);
    osg::ref_ptr<osg::Node> scene = testScene();
    std::vector<std::string> errors;
    ASSERT_TRUE(renderer.initialize(scene.get(), errors)) << testing::PrintToString(errors);
    // What a driver's fallback does: the picture goes to the hidden surface.
    renderer.camera()->setRenderTargetImplementation(osg::Camera::FRAME_BUFFER);
    EXPECT_FALSE(renderer.renderFrame(FrameCamera(config).computeSetup(frameAround(-40, -40, 40, 40), "top")));
    EXPECT_EQ(renderer.renderError(), "Render failed: the picture was not drawn through a frame-buffer object");
}

TEST(OffscreenRenderer, FailuresAreReportedNotThrown)
{
    RenderConfig config = smallConfig();
    OffscreenRenderer renderer(config);
    CapturedOutput log;
    EXPECT_FALSE(renderer.renderFrame(CameraSetup{}));
    EXPECT_FALSE(renderer.renderModel(CameraSetup{}));
    EXPECT_EQ(renderer.renderError(), "Renderer is not initialized.");
    std::vector<std::string> errors;
    EXPECT_FALSE(renderer.initialize(nullptr, errors));
    EXPECT_EQ(log.text().find("[ERROR]"), std::string::npos) << log.text();  // the caller logs them
    EXPECT_EQ(errors, std::vector<std::string>{"Cannot initialize renderer with null scene."});
}

TEST(OffscreenRenderer, RenderModelRemovesOverlays)
{
    RenderConfig config = smallConfig();
    OffscreenRenderer renderer(config);
    osg::ref_ptr<osg::Node> scene = testScene();
    std::vector<std::string> errors;
    ASSERT_TRUE(renderer.initialize(scene.get(), errors)) << testing::PrintToString(errors);
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
    std::vector<std::string> errors;
    ASSERT_TRUE(renderer.initialize(scene.get(), errors)) << testing::PrintToString(errors);
    ASSERT_TRUE(renderer.renderFrame(FrameCamera(config).computeSetup(frameAround(-40, -40, 40, 40), "top")));
    EXPECT_TRUE(renderer.drewThroughFrameBufferObject());
    EXPECT_TRUE(colourAt(*renderer.captureImage(), 231, 120, 0, 0, 255));
}
