// The area a dossier sheet gives: rings of either winding, holes taken out.
#include "core/FrameArea.h"

#include <gtest/gtest.h>

using namespace vistrel;

TEST(FrameArea, AreaCountsPartsOfEitherWindingAndTakesHolesOut)
{
    PolygonFrame frame;
    // A 10 x 10 part wound clockwise with a 2 x 3 hole, and a 4 x 1 part counter-clockwise.
    frame.rings = {
        {{0, 0}, {0, 10}, {10, 10}, {10, 0}}, {{1, 1}, {3, 1}, {3, 4}, {1, 4}}, {{20, 0}, {24, 0}, {24, 1}, {20, 1}}};
    frame.ringIsHole = {false, true, false};
    EXPECT_DOUBLE_EQ(frameAreaSize(frame), 100.0 - 6.0 + 4.0);

    PolygonFrame bounds;
    bounds.minX = 1;
    bounds.maxX = 4;
    bounds.minY = 2;
    bounds.maxY = 7;
    EXPECT_DOUBLE_EQ(frameAreaSize(bounds), 15.0);
}

TEST(FrameArea, LineByLineAnswersAsPointByPoint)
{
    // Two parts, one with a hole and a slanted edge, far from the origin; and
    // a frame of bounds alone. Every point of a grid finer than the margin,
    // edges and vertices included, gets nearFrameArea's answer.
    PolygonFrame frame;
    const double x0 = 512000.0;
    const double y0 = 3390000.0;
    frame.rings = {{{x0, y0}, {x0 + 10, y0}, {x0 + 13, y0 + 10}, {x0, y0 + 10}, {x0, y0}},
                   {{x0 + 2, y0 + 2}, {x0 + 5, y0 + 2}, {x0 + 5, y0 + 6}, {x0 + 2, y0 + 6}},
                   {{x0 + 20, y0}, {x0 + 24, y0 + 1}, {x0 + 20, y0 + 2}}};
    frame.ringIsHole = {false, true, false};
    PolygonFrame bounds;
    bounds.minX = x0 + 1;
    bounds.maxX = x0 + 4;
    bounds.minY = y0 + 2;
    bounds.maxY = y0 + 7;
    for (const PolygonFrame* f : {&frame, &bounds}) {
        const double margin = 0.3;
        FrameAreaLine line(*f, margin);
        int near = 0;
        for (double y = y0 - 1.0; y <= y0 + 11.0; y += 0.25) {
            line.moveTo(y);
            for (double x = x0 - 1.0; x <= x0 + 25.0; x += 0.25) {
                ASSERT_EQ(line.near(x), nearFrameArea(*f, x, y, margin)) << x - x0 << " " << y - y0;
                near += line.near(x) ? 1 : 0;
            }
        }
        EXPECT_GT(near, 100);
    }
}
