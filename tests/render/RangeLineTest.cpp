#include "render/OffscreenRenderer.h"
#include "render/RangeLine.h"
#include "support/GeoFixtures.h"
#include "support/TestSupport.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Group>
#include <osg/LineWidth>

#include <gtest/gtest.h>

using namespace vistrel;
using namespace testsupport;

namespace {

const auto flat = [](double, double) { return 0.0; };

}  // namespace

TEST(RangeLineSampling, ClosedOpenAndShortSegments)
{
    // A closed 10 x 4 rectangle with step 1: 10 + 4 + 10 + 4 samples, no
    // second pass over the closing edge, then the first point again.
    const std::vector<RingPoint> closed = {{0, 0}, {10, 0}, {10, 4}, {0, 4}, {0, 0}};
    const auto samples = sampleRing(closed, 1.0, flat);
    ASSERT_EQ(samples.size(), 29u);
    EXPECT_EQ(samples.front(), samples.back());
    EXPECT_EQ(samples[1], osg::Vec3d(1, 0, 0));

    // The same ring left open gets its closing edge sampled: the same count.
    const std::vector<RingPoint> open = {{0, 0}, {10, 0}, {10, 4}, {0, 4}};
    EXPECT_EQ(sampleRing(open, 1.0, flat).size(), 29u);

    // Segments shorter than the step give their start point only; 2.5 / 1 gives 3.
    const std::vector<RingPoint> small = {{0, 0}, {0.3, 0}, {0.3, 0.3}, {0, 0}};
    EXPECT_EQ(sampleRing(small, 1.0, flat).size(), 4u);
    const std::vector<RingPoint> line = {{0, 0}, {2.5, 0}};
    const auto lineSamples = sampleRing(line, 1.0, flat);
    // 3 along the segment, 3 back along the closing edge, then the start.
    ASSERT_EQ(lineSamples.size(), 7u);
    EXPECT_NEAR(lineSamples[1].x(), 2.5 / 3, 1e-12);

    EXPECT_TRUE(sampleRing({{1, 1}}, 1.0, flat).empty());
}

TEST(RangeLineSmoothing, RoofStepIsSpreadAndZeroLimitKeepsRawHeights)
{
    std::vector<double> z = {0, 0, 0, 10, 10, 10, 10, 0, 0, 0};
    std::vector<double> clamped = z;
    clampHeightSteps(clamped, 0.6);
    for (std::size_t i = 1; i < clamped.size(); ++i) {
        EXPECT_LE(std::fabs(clamped[i] - clamped[i - 1]), 0.6 + 1e-12) << i;
    }
    std::vector<double> smoothed = z;
    smoothRingHeights(smoothed, 0.6);
    EXPECT_DOUBLE_EQ(smoothed.back(), smoothed.front());
    // The wrapped 1-2-1 average of the clamped values.
    EXPECT_NEAR(smoothed[4], 0.25 * clamped[3] + 0.5 * clamped[4] + 0.25 * clamped[5], 1e-12);
    EXPECT_NEAR(smoothed[0], 0.25 * clamped[8] + 0.5 * clamped[0] + 0.25 * clamped[1], 1e-12);

    std::vector<double> raw = z;
    smoothRingHeights(raw, 0.0);
    EXPECT_EQ(raw, z);
    std::vector<double> tooShort = {0, 10};
    smoothRingHeights(tooShort, 0.6);
    EXPECT_EQ(tooShort, (std::vector<double>{0, 10}));
}

TEST(RangeLineColour, NamesAreCaseInsensitiveAndUnknownIsRed)
{
    EXPECT_EQ(rangeLineColour("Yellow"), osg::Vec4(1.0f, 0.92f, 0.0f, 1.0f));
    EXPECT_EQ(rangeLineColour("PURPLE"), rangeLineColour("magenta"));
    EXPECT_EQ(rangeLineColour("cyan"), osg::Vec4(0.0f, 0.9f, 1.0f, 1.0f));
    EXPECT_EQ(rangeLineColour("orange"), osg::Vec4(1.0f, 0.0f, 0.0f, 1.0f));
    EXPECT_EQ(rangeLineColour(""), osg::Vec4(1.0f, 0.0f, 0.0f, 1.0f));
}

namespace {

// Ground at 0 with a 10-unit roof over x in [4, 6].
osg::ref_ptr<osg::Node> steppedScene()
{
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    scene->addChild(makeGround(-20, -20, 20, 20, 0, osg::Vec4(0, 1, 0, 1)));
    scene->addChild(makeBox(osg::Vec3(4, -10, 0), osg::Vec3(6, 10, 10), osg::Vec4(1, 0, 0, 1)));
    return scene;
}

PolygonFrame ringFrame(std::vector<RingPoint> ring)
{
    PolygonFrame frame;
    frame.name = "ringed";
    frame.minX = frame.minY = -8;
    frame.maxX = frame.maxY = 8;
    frame.maxZ = 10;
    frame.rings.push_back(std::move(ring));
    return frame;
}

RenderConfig tinyConfig()
{
    RenderConfig config;
    config.width = 64;
    config.height = 48;
    config.warmup_frames = 0;
    return config;
}

const osg::Vec3Array* firstVertices(osg::Node* node)
{
    auto* geode = node->asGeode();
    return static_cast<const osg::Vec3Array*>(geode->getDrawable(0)->asGeometry()->getVertexArray());
}

}  // namespace

TEST(RangeLineOverlay, DrapedOnTheModelWithStateAndLog)
{
    const RenderConfig config = tinyConfig();
    OffscreenRenderer renderer(config);
    osg::ref_ptr<osg::Node> scene = steppedScene();
    ASSERT_TRUE(renderer.initialize(scene.get()));
    // Across the roof and back: the raw jump is 10.
    const PolygonFrame frame = ringFrame({{0, 0}, {10, 0}, {10, 1}, {0, 1}, {0, 0}});
    {
        CapturedOutput log;
        osg::ref_ptr<osg::Node> overlay = buildRangeLine(renderer, frame);
        ASSERT_TRUE(overlay.valid());
        EXPECT_NE(log.text().find("[INFO] Range line height smoothing applied for ringed, raw max jump=10.000000, "
                                  "limit=0.600000"),
                  std::string::npos)
            << log.text();
        const osg::StateSet* state = overlay->getStateSet();
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(state->getMode(GL_LIGHTING), osg::StateAttribute::OFF);
        EXPECT_EQ(state->getMode(GL_DEPTH_TEST), osg::StateAttribute::ON);
        const auto* width = dynamic_cast<const osg::LineWidth*>(state->getAttribute(osg::StateAttribute::LINEWIDTH));
        ASSERT_NE(width, nullptr);
        EXPECT_FLOAT_EQ(width->getWidth(), 5.0f);
        const osg::Vec3Array* vertices = firstVertices(overlay.get());
        EXPECT_EQ(vertices->size(), 23u);
        EXPECT_EQ(vertices->front(), vertices->back());
    }

    RenderConfig raw = tinyConfig();
    raw.range_line_smooth_limit = 0;
    OffscreenRenderer rawRenderer(raw);
    ASSERT_TRUE(rawRenderer.initialize(scene.get()));
    CapturedOutput log;
    osg::ref_ptr<osg::Node> rawOverlay = buildRangeLine(rawRenderer, frame);
    EXPECT_EQ(log.text().find("smoothing"), std::string::npos);
    const osg::Vec3Array* vertices = firstVertices(rawOverlay.get());
    // Raw hits plus the lift: ground at x = 2, roof at x = 5.
    EXPECT_NEAR((*vertices)[2].z(), 0.08, 1e-5);
    EXPECT_NEAR((*vertices)[5].z(), 10.08, 1e-5);

    // Rings of one point give no overlay.
    EXPECT_FALSE(buildRangeLine(renderer, ringFrame({{0, 0}})).valid());
}

TEST(RangeLineOverlay, MissesTakeTheFrameTopAndNoRingStillRendersTheView)
{
    const RenderConfig config = tinyConfig();
    OffscreenRenderer renderer(config);
    osg::ref_ptr<osg::Node> scene = steppedScene();
    ASSERT_TRUE(renderer.initialize(scene.get()));

    PolygonFrame outside = ringFrame({{100, 100}, {102, 100}, {100, 100}});
    outside.maxZ = 7;
    osg::ref_ptr<osg::Node> overlay = buildRangeLine(renderer, outside);
    ASSERT_TRUE(overlay.valid());
    EXPECT_NEAR(firstVertices(overlay.get())->front().z(), 7 + 2 * 0.08, 1e-5);

    PolygonFrame noRing = ringFrame({});
    noRing.rings.clear();
    CapturedOutput log;
    const CameraSetup setup = FrameCamera(config).computeSetup(ringFrame({{0, 0}}), "top");
    EXPECT_TRUE(renderRangeLineFrame(renderer, setup, noRing));
    EXPECT_NE(log.text().find("[WARN] No range outline available for ringed"), std::string::npos);
    EXPECT_EQ(renderer.sceneRoot()->getNumChildren(), 1u);
}
