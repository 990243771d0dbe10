#include "render/OffscreenRenderer.h"
#include "render/RangeLine.h"
#include "support/CapturePixels.h"
#include "support/GeoFixtures.h"
#include "support/TestSupport.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Group>
#include <osg/LineWidth>
#include <osg/MatrixTransform>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

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
    // A closed ring crossing a 10-unit roof: the last sample repeats the first.
    const std::vector<double> z = {0, 0, 0, 10, 10, 10, 10, 0, 0, 0};
    std::vector<double> clamped = z;
    clampHeightSteps(clamped, 0.6);
    // Up the wall 0.6 per step, then down again from the roof's last sample.
    const std::vector<double> expectedClamp = {0, 0, 0, 0.6, 1.2, 1.8, 2.4, 1.8, 1.2, 0.6};
    for (std::size_t i = 0; i < z.size(); ++i) {
        EXPECT_NEAR(clamped[i], expectedClamp[i], 1e-9) << i;
    }
    // Each step is held from the previous sample on: a high end is pulled
    // down, a high start carried forward.
    std::vector<double> rising = {0, 0, 5};
    clampHeightSteps(rising, 1.0);
    EXPECT_EQ(rising, (std::vector<double>{0, 0, 1}));
    std::vector<double> leading = {5, 0, 0};
    clampHeightSteps(leading, 1.0);
    EXPECT_EQ(leading, (std::vector<double>{5, 4, 3}));

    std::vector<double> smoothed = z;
    smoothRingHeights(smoothed, 0.6);
    // 1-2-1 over the clamped values; sample 0 wraps to sample 8, the last
    // sample is set back to the first.
    const std::vector<double> expectedSmooth = {0.3, 0.0, 0.15, 0.6, 1.2, 1.8, 2.1, 1.8, 1.2, 0.3};
    for (std::size_t i = 0; i < z.size(); ++i) {
        EXPECT_NEAR(smoothed[i], expectedSmooth[i], 1e-9) << i;
    }

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

// The overlay is a transform to the frame's centre holding one geode.
osg::Geode* overlayGeode(osg::Node* overlay)
{
    auto* placed = dynamic_cast<osg::MatrixTransform*>(overlay);
    return placed && placed->getNumChildren() == 1 ? placed->getChild(0)->asGeode() : nullptr;
}

// The first ring's vertices in scene coordinates.
std::vector<osg::Vec3d> firstVertices(osg::Node* overlay)
{
    const auto* placed = static_cast<osg::MatrixTransform*>(overlay);
    const auto* local = static_cast<const osg::Vec3Array*>(
        overlayGeode(overlay)->getDrawable(0)->asGeometry()->getVertexArray());
    std::vector<osg::Vec3d> world;
    for (const osg::Vec3& v : *local) {
        world.push_back(osg::Vec3d(v) * placed->getMatrix());
    }
    return world;
}

}  // namespace

TEST(RangeLineOverlay, DrapedOnTheModelWithStateAndLog)
{
    const RenderConfig config = tinyConfig();
    OffscreenRenderer renderer(config);
    osg::ref_ptr<osg::Node> scene = steppedScene();
    std::vector<std::string> errors;
    ASSERT_TRUE(renderer.initialize(scene.get(), errors)) << testing::PrintToString(errors);
    // Across the roof and back: the raw jump is 10.
    const PolygonFrame frame = ringFrame({{0, 0}, {10, 0}, {10, 1}, {0, 1}, {0, 0}});
    {
        CapturedOutput log;
        osg::ref_ptr<osg::Node> overlay = buildRangeLine(renderer, frame, false);
        ASSERT_TRUE(overlay.valid());
        EXPECT_NE(log.text().find("[INFO] Range line height smoothing applied for ringed, raw max jump=10.000000, "
                                  "limit=0.600000"),
                  std::string::npos)
            << log.text();
        ASSERT_NE(overlayGeode(overlay.get()), nullptr);
        const osg::StateSet* state = overlayGeode(overlay.get())->getStateSet();
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(state->getMode(GL_LIGHTING), osg::StateAttribute::OFF);
        const auto* width = dynamic_cast<const osg::LineWidth*>(state->getAttribute(osg::StateAttribute::LINEWIDTH));
        ASSERT_NE(width, nullptr);
        EXPECT_FLOAT_EQ(width->getWidth(), 5.0f);
        const auto vertices = firstVertices(overlay.get());
        EXPECT_EQ(vertices.size(), 23u);
        EXPECT_EQ(vertices.front(), vertices.back());
    }

    RenderConfig raw = tinyConfig();
    raw.range_line_smooth_limit = 0;
    OffscreenRenderer rawRenderer(raw);
    std::vector<std::string> errors2;
    ASSERT_TRUE(rawRenderer.initialize(scene.get(), errors2)) << testing::PrintToString(errors2);
    CapturedOutput log;
    osg::ref_ptr<osg::Node> rawOverlay = buildRangeLine(rawRenderer, frame, false);
    EXPECT_EQ(log.text().find("smoothing"), std::string::npos);
    const auto vertices = firstVertices(rawOverlay.get());
    // Raw hits plus the lift: ground at x = 2, roof at x = 5.
    EXPECT_NEAR(vertices[2].z(), 0.08, 1e-5);
    EXPECT_NEAR(vertices[5].z(), 10.08, 1e-5);

    // Rings of one point give no overlay.
    EXPECT_FALSE(buildRangeLine(renderer, ringFrame({{0, 0}}), false).valid());
}

TEST(RangeLineOverlay, MissesTakeTheFrameTopAndNoRingStillRendersTheView)
{
    const RenderConfig config = tinyConfig();
    OffscreenRenderer renderer(config);
    osg::ref_ptr<osg::Node> scene = steppedScene();
    std::vector<std::string> errors;
    ASSERT_TRUE(renderer.initialize(scene.get(), errors)) << testing::PrintToString(errors);

    PolygonFrame outside = ringFrame({{100, 100}, {102, 100}, {100, 100}});
    outside.maxZ = 7;
    osg::ref_ptr<osg::Node> overlay = buildRangeLine(renderer, outside, false);
    ASSERT_TRUE(overlay.valid());
    EXPECT_NEAR(firstVertices(overlay.get()).front().z(), 7 + 2 * 0.08, 1e-5);

    PolygonFrame noRing = ringFrame({});
    noRing.rings.clear();
    CapturedOutput log;
    const CameraSetup setup = FrameCamera(config).computeSetup(ringFrame({{0, 0}}), "top");
    EXPECT_TRUE(renderRangeLineFrame(renderer, setup, noRing, false));
    EXPECT_NE(log.text().find("[WARN] No range outline available for ringed"), std::string::npos);
    EXPECT_EQ(renderer.sceneRoot()->getNumChildren(), 1u);
}

namespace {

// Share of points along the frame's ring, every 0.25 units, that have an
// outline pixel within `band` pixels of where the point projects.
double ringCoverage(const osg::Image& image, const PolygonFrame& frame, const CameraSetup& setup, int band)
{
    int points = 0;
    int covered = 0;
    const auto& ring = frame.rings.front();
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
        const double length = std::hypot(ring[i + 1].x - ring[i].x, ring[i + 1].y - ring[i].y);
        const int steps = std::max(1, static_cast<int>(length * 4));
        for (int s = 0; s < steps; ++s) {
            const double t = static_cast<double>(s) / steps;
            const double x = ring[i].x + t * (ring[i + 1].x - ring[i].x);
            const double y = ring[i].y + t * (ring[i + 1].y - ring[i].y);
            const int px = static_cast<int>((x - setup.center.x()) / setup.orthoWidth * image.s() + image.s() / 2.0);
            const int py = static_cast<int>(image.t() / 2.0 - (y - setup.center.y()) / setup.orthoHeight * image.t());
            ++points;
            bool found = false;
            for (int dy = -band; dy <= band && !found; ++dy) {
                for (int dx = -band; dx <= band && !found; ++dx) {
                    const int qx = px + dx;
                    const int qy = py + dy;
                    found = qx >= 0 && qy >= 0 && qx < image.s() && qy < image.t() &&
                            isRed(pixelFromTop(image, qx, qy));
                }
            }
            covered += found ? 1 : 0;
        }
    }
    return points ? static_cast<double>(covered) / points : 0.0;
}

PolygonFrame squareFrame(double minX, double minY, double size, double minZ, double maxZ)
{
    PolygonFrame frame;
    frame.name = "square";
    frame.minX = minX;
    frame.minY = minY;
    frame.maxX = minX + size;
    frame.maxY = minY + size;
    frame.minZ = minZ;
    frame.maxZ = maxZ;
    frame.centerZ = (minZ + maxZ) / 2;
    frame.rings.push_back({{frame.minX, frame.minY}, {frame.maxX, frame.minY}, {frame.maxX, frame.maxY},
                           {frame.minX, frame.maxY}, {frame.minX, frame.minY}});
    return frame;
}

}  // namespace

TEST(RangeLineOverlay, OutlineLiesOnTheFrameEdgesFarFromTheOrigin)
{
    // Projected coordinates as real exports have them: a float is a quarter
    // metre coarse here, and .125 falls between two floats.
    const osg::Vec3d site(500000, 2500000, 0);
    osg::ref_ptr<osg::MatrixTransform> scene = new osg::MatrixTransform(osg::Matrixd::translate(site));
    scene->addChild(makeGround(-100, -100, 100, 100, 0, osg::Vec4(0, 1, 0, 1)));
    scene->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::OVERRIDE);

    RenderConfig config;  // 3840 x 2160
    config.warmup_frames = 0;
    config.range_line_width = 2;
    OffscreenRenderer renderer(config);
    std::vector<std::string> errors;
    ASSERT_TRUE(renderer.initialize(scene.get(), errors)) << testing::PrintToString(errors);
    const PolygonFrame frame = squareFrame(site.x() - 15.125, site.y() - 15.125, 30, 0, 0);
    const CameraSetup setup = FrameCamera(config).computeSetup(frame, "top");
    ASSERT_TRUE(renderRangeLineFrame(renderer, setup, frame, false));
    const osg::Image& image = *renderer.captureImage();
    const double pxPerUnit = image.s() / setup.orthoWidth;

    // Centre of the outline's pixels across each edge, against the edge's
    // projection, along the middle half of the edge.
    double worst = 0.0;
    const double left = (frame.minX - setup.center.x()) * pxPerUnit + image.s() / 2.0;
    const double right = (frame.maxX - setup.center.x()) * pxPerUnit + image.s() / 2.0;
    const double top = image.t() / 2.0 - (frame.maxY - setup.center.y()) * pxPerUnit;
    const double bottom = image.t() / 2.0 - (frame.minY - setup.center.y()) * pxPerUnit;
    const auto across = [&](double expected, bool vertical, int along) {
        double sum = 0.0;
        int count = 0;
        for (int d = -20; d <= 20; ++d) {
            const int at = static_cast<int>(expected) + d;
            const Rgba c = vertical ? pixelFromTop(image, at, along) : pixelFromTop(image, along, at);
            if (isRed(c)) {
                sum += at + 0.5;
                ++count;
            }
        }
        EXPECT_GT(count, 0) << (vertical ? "column " : "row ") << expected << " at " << along;
        return count ? std::fabs(sum / count - expected) : 1e9;
    };
    for (int k = 0; k <= 20; ++k) {
        const int row = static_cast<int>(top + (bottom - top) * (0.25 + 0.5 * k / 20.0));
        const int column = static_cast<int>(left + (right - left) * (0.25 + 0.5 * k / 20.0));
        worst = std::max({worst, across(left, true, row), across(right, true, row), across(top, false, column),
                          across(bottom, false, column)});
    }
    EXPECT_LE(worst, 1.5);
}

TEST(RangeLineOverlay, OutlineOnARoofEdgeIsWholeUnlessTheDepthTestIsAskedFor)
{
    // A 3 x 3 frame across the edge of a 10-unit roof: the smoothing pulls the
    // roof half of the line below the roof.
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    scene->addChild(makeGround(-30, -30, 30, 30, 0, osg::Vec4(0, 1, 0, 1)));
    scene->addChild(makeBox(osg::Vec3(0, -30, 0), osg::Vec3(30, 30, 10), osg::Vec4(0.6f, 0.6f, 0.6f, 1)));
    scene->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::OVERRIDE);
    const PolygonFrame frame = squareFrame(-1.5, -1.5, 3, 0, 10);

    double coverage[2] = {0, 0};
    for (const bool depthTest : {false, true}) {
        RenderConfig config;
        config.width = 640;
        config.height = 360;
        config.warmup_frames = 0;
        config.range_line_width = 3;
        config.range_line_depth_test = depthTest;
        OffscreenRenderer renderer(config);
        std::vector<std::string> errors;
        ASSERT_TRUE(renderer.initialize(scene.get(), errors)) << testing::PrintToString(errors);
        const CameraSetup setup = FrameCamera(config).computeSetup(frame, "top");
        ASSERT_TRUE(renderRangeLineFrame(renderer, setup, frame, config.range_line_depth_test));
        coverage[depthTest] = ringCoverage(*renderer.captureImage(), frame, setup, 2);
    }
    EXPECT_GE(coverage[0], 0.99);
    EXPECT_LE(coverage[1], 0.8);
    EXPECT_GE(coverage[1], 0.3);  // the ground half stays visible
}

TEST(RangeLineOverlay, OutlineOverTheKeptPictureEqualsAFullDraw)
{
    // The batch's order: the picture, its measure, then the outline, drawn
    // alone over the picture that the measure left in place; against the
    // outline drawn with the model in one draw, on the same renderer.
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    scene->addChild(makeGround(-30, -30, 30, 30, 0, osg::Vec4(0, 1, 0, 1)));
    scene->addChild(makeBox(osg::Vec3(0, -30, 0), osg::Vec3(30, 30, 10), osg::Vec4(0.6f, 0.6f, 0.6f, 1)));
    scene->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::OVERRIDE);
    const PolygonFrame frame = squareFrame(-1.5, -1.5, 3, 0, 10);
    const PolygonFrame elsewhere = squareFrame(-20, -20, 6, 0, 0);
    const auto bytes = [](const osg::Image& image) {
        return std::string(reinterpret_cast<const char*>(image.data()), image.getTotalSizeInBytes());
    };
    for (const bool depthTest : {false, true}) {
        RenderConfig config;
        config.width = 320;
        config.height = 180;
        config.warmup_frames = 0;
        config.range_line_width = 3;
        OffscreenRenderer renderer(config);
        std::vector<std::string> errors;
        ASSERT_TRUE(renderer.initialize(scene.get(), errors)) << testing::PrintToString(errors);
        const CameraSetup setup = FrameCamera(config).computeSetup(frame, "top");
        ASSERT_TRUE(renderer.renderModel(setup));
        const std::string model = bytes(*renderer.captureImage());
        PictureMeasure measure;
        ASSERT_TRUE(renderer.measurePicture(setup, frame, MeasureParts::SurfaceAndArea, measure));
        EXPECT_GT(measure.visiblePixels, 0);
        ASSERT_TRUE(renderer.renderOutline(setup, frame, depthTest));
        EXPECT_EQ(renderer.timings().overlayDraws, 1) << "depth test " << depthTest;
        const std::string over = bytes(*renderer.captureImage());
        EXPECT_GT(ringCoverage(*renderer.captureImage(), frame, setup, 2), 0.3);

        // The buffers hold the outline now: the model alone is drawn anew.
        ASSERT_TRUE(renderer.renderModel(setup));
        EXPECT_EQ(bytes(*renderer.captureImage()), model) << "depth test " << depthTest;
        ASSERT_TRUE(renderer.renderModel(FrameCamera(config).computeSetup(elsewhere, "top")));
        ASSERT_TRUE(renderer.renderOutline(setup, frame, depthTest));
        EXPECT_EQ(renderer.timings().overlayDraws, 1);  // a full draw: the picture was of another view
        EXPECT_EQ(bytes(*renderer.captureImage()), over) << "depth test " << depthTest;
    }
}
