#include "render/VerticalCheck.h"

#include "core/FrameArea.h"

#include <gtest/gtest.h>

using namespace vistrel;

namespace {

// An RGBA image of `width` x `height` filled with `grey`, whose first
// `whitePixels` pixels (in memory order) are pure white.
osg::ref_ptr<osg::Image> greyImage(int width, int height, unsigned char grey, int whitePixels = 0,
                                   unsigned char alpha = 255)
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(width, height, 1, GL_RGBA, GL_UNSIGNED_BYTE, 1);
    unsigned char* p = image->data();
    for (int i = 0; i < width * height; ++i) {
        const unsigned char v = i < whitePixels ? 255 : grey;
        p[4 * i] = p[4 * i + 1] = p[4 * i + 2] = v;
        p[4 * i + 3] = alpha;
    }
    return image;
}

}  // namespace

TEST(VerticalCheckStatistics, WhiteShareBoundary)
{
    // 1000 x 1 is sampled in every column: exactly 99.5 % white fails, 99.4 % passes.
    auto failing = computeImageStatistics(greyImage(1000, 1, 0, 995).get());
    EXPECT_FALSE(failing.passed);
    EXPECT_DOUBLE_EQ(failing.whiteFraction, 0.995);
    EXPECT_EQ(failing.message, "正射图斑范围内疑似无有效模型或图像异常 white=0.995 black=0.005 stddev=17.986");

    auto passing = computeImageStatistics(greyImage(1000, 1, 0, 994).get());
    EXPECT_TRUE(passing.passed);
    EXPECT_EQ(passing.message, "正射图质量检测通过");
}

TEST(VerticalCheckStatistics, UniformTransparentAndThresholdBytes)
{
    auto grey = computeImageStatistics(greyImage(64, 64, 128).get());
    EXPECT_FALSE(grey.passed);
    EXPECT_EQ(grey.message, "正射图斑范围内疑似无有效模型或图像异常 white=0.000 black=0.000 stddev=0.000");

    // A transparent clear colour is RGB 0 and counts as black.
    auto transparent = computeImageStatistics(greyImage(64, 64, 0, 0, 0).get());
    EXPECT_DOUBLE_EQ(transparent.blackFraction, 1.0);

    EXPECT_DOUBLE_EQ(computeImageStatistics(greyImage(8, 8, 248).get()).whiteFraction, 1.0);
    EXPECT_DOUBLE_EQ(computeImageStatistics(greyImage(8, 8, 247).get()).whiteFraction, 0.0);
    EXPECT_DOUBLE_EQ(computeImageStatistics(greyImage(8, 8, 7).get()).blackFraction, 1.0);
    EXPECT_DOUBLE_EQ(computeImageStatistics(greyImage(8, 8, 8).get()).blackFraction, 0.0);

    // Half black, half white: enough contrast, neither share reaches 99.5 %.
    auto mixed = computeImageStatistics(greyImage(10, 10, 0, 50).get());
    EXPECT_TRUE(mixed.passed);
    EXPECT_NEAR(mixed.stddev, 127.5, 1e-9);
}

TEST(VerticalCheckStatistics, SamplingSteps)
{
    // 1000 wide: every column; a single dark pixel at column 999 is seen.
    auto wide = greyImage(1000, 1, 255);
    wide->data(999, 0)[0] = wide->data(999, 0)[1] = wide->data(999, 0)[2] = 0;
    EXPECT_NEAR(computeImageStatistics(wide.get()).whiteFraction, 999.0 / 1000.0, 1e-12);

    // 1024 wide: every second column; the dark pixel at an odd column is not.
    auto wider = greyImage(1024, 1, 255);
    wider->data(1023, 0)[0] = wider->data(1023, 0)[1] = wider->data(1023, 0)[2] = 0;
    EXPECT_DOUBLE_EQ(computeImageStatistics(wider.get()).whiteFraction, 1.0);
    wider->data(1022, 0)[0] = wider->data(1022, 0)[1] = wider->data(1022, 0)[2] = 0;
    EXPECT_NEAR(computeImageStatistics(wider.get()).whiteFraction, 511.0 / 512.0, 1e-12);

    // 3840 x 2160: steps 7 and 4, 549 x 540 samples. One dark pixel on the
    // grid moves the share by exactly one sample.
    auto big = greyImage(3840, 2160, 255);
    big->data(7 * 548, 4 * 539)[0] = 0;
    big->data(7 * 548, 4 * 539)[1] = 0;
    big->data(7 * 548, 4 * 539)[2] = 0;
    big->data(7 * 548 + 1, 0)[0] = 0;  // off the grid
    auto stats = computeImageStatistics(big.get());
    EXPECT_NEAR(stats.whiteFraction, 1.0 - 1.0 / (549.0 * 540.0), 1e-12);
}

TEST(VerticalCheckStatistics, UnusableImages)
{
    EXPECT_EQ(computeImageStatistics(nullptr).message, "正射图质量检测无图像数据");
    osg::ref_ptr<osg::Image> empty = new osg::Image;
    EXPECT_EQ(computeImageStatistics(empty.get()).message, "正射图质量检测无图像数据");
    osg::ref_ptr<osg::Image> luminance = new osg::Image;
    luminance->allocateImage(4, 4, 1, GL_LUMINANCE, GL_UNSIGNED_BYTE);
    auto result = computeImageStatistics(luminance.get());
    EXPECT_FALSE(result.passed);
    EXPECT_EQ(result.message, "正射图质量检测像素格式无效");
}

TEST(VerticalCheckStatistics, OnlyTheFramesAreaIsJudged)
{
    // A 100 x 100 m view, one pixel a metre, of a 60 m frame with a 20 m hole.
    // The frame's area (and a pixel and a half around it) is blank; the hole
    // and the land around the frame are textured.
    PolygonFrame frame;
    frame.minX = frame.minY = 20;
    frame.maxX = frame.maxY = 80;
    frame.rings = {{{20, 20}, {80, 20}, {80, 80}, {20, 80}}, {{40, 40}, {60, 40}, {60, 60}, {40, 60}}};
    frame.ringIsHole = {false, true};
    CameraSetup setup;
    setup.center.set(50, 50, 0);
    setup.orthoWidth = setup.orthoHeight = 100;
    auto image = greyImage(100, 100, 255);
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x) {
            if (!nearFrameArea(frame, x + 0.5, y + 0.5, 1.5)) {
                image->data(x, y)[0] = image->data(x, y)[1] = image->data(x, y)[2] = (x + y) % 2 ? 40 : 200;
            }
        }
    }
    EXPECT_TRUE(computeImageStatistics(image.get()).passed);
    const VerticalCheckResult judged = computeImageStatistics(image.get(), frameAreaPixels(frame, setup, 100, 100));
    EXPECT_FALSE(judged.passed);
    EXPECT_DOUBLE_EQ(judged.whiteFraction, 1.0);
    // A filter that takes no pixel judges the whole picture.
    EXPECT_TRUE(computeImageStatistics(image.get(), [](int, int) { return false; }).passed);
}
