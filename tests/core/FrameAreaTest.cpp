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
