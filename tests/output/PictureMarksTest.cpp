#include "ImageReadBack.h"
#include "output/PictureMarks.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace vistrel;
using namespace outputtest;

namespace {

osg::ref_ptr<osg::Image> grey(int width, int height)
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(width, height, 1, GL_RGBA, GL_UNSIGNED_BYTE);
    std::memset(image->data(), 128, image->getTotalSizeInBytes());
    return image;
}

const unsigned char* at(const osg::Image& image, int x, int y)  // y down from the top
{
    return image.data(x, image.t() - 1 - y);
}

bool inside(const MarkBox& box, int x, int y)
{
    return x >= box.x && x < box.x + box.width && y >= box.y && y < box.y + box.height;
}

}  // namespace

// The bar is its ground length over the pixel size, to the pixel; every mark
// stays in its box; a 4K picture gets the 1080p layout twice as large.
TEST(PictureMarks, ScaleBarIsExactAndMarksStayInTheirBoxes)
{
    MarkRequest request{true, true, true, 0.05, "441302001001GB00012 正射    2026-12-08"};
    const auto picture = grey(1920, 1080);
    std::string reason;
    ASSERT_TRUE(drawMarks(*picture, request, reason)) << reason;
    const MarkLayout layout = layoutMarks(1920, 1080, request);
    ASSERT_EQ(layout.boxes.size(), 3u);
    EXPECT_EQ(layout.barMetres, 10.0);  // 20 % of 96 m is 19.2 m
    EXPECT_EQ(barLabel(layout.barMetres), "10 m");
    EXPECT_EQ(barLabel(2000), "2 km");

    const MarkBox& bar = layout.boxes[2];
    ASSERT_EQ(bar.mark, "scale_bar");
    const int row = bar.y + bar.height - 10 - 6;  // the middle of the bar, above the padding
    int first = -1;
    int last = -1;
    for (int x = bar.x; x < bar.x + bar.width; ++x) {
        if (at(*picture, x, row)[0] < 60) {
            first = first < 0 ? x : first;
            last = x;
        }
    }
    EXPECT_NEAR(last - first + 1, 10.0 / 0.05, 1.0);

    int changedOutside = 0;
    std::vector<int> changedIn(layout.boxes.size(), 0);
    for (int y = 0; y < 1080; ++y) {
        for (int x = 0; x < 1920; ++x) {
            const bool changed = at(*picture, x, y)[0] != 128 || at(*picture, x, y)[1] != 128;
            bool boxed = false;
            for (std::size_t b = 0; b < layout.boxes.size(); ++b) {
                if (inside(layout.boxes[b], x, y)) {
                    boxed = true;
                    changedIn[b] += changed ? 1 : 0;
                }
            }
            changedOutside += changed && !boxed ? 1 : 0;
        }
    }
    EXPECT_EQ(changedOutside, 0);
    for (const int count : changedIn) {
        EXPECT_GT(count, 100);
    }

    const MarkLayout large = layoutMarks(3840, 2160, MarkRequest{true, true, true, 0.025, ""});
    for (std::size_t b = 0; b < layout.boxes.size(); ++b) {
        EXPECT_NEAR(large.boxes[b].height, 2 * layout.boxes[b].height, 1) << layout.boxes[b].mark;
    }
    // A side view takes only the caption.
    EXPECT_EQ(layoutMarks(1920, 1080, MarkRequest{true, true, true, 0.0, ""}).boxes.size(), 1u);
}
