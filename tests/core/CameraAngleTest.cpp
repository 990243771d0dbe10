#include "core/CameraAngle.h"

#include <gtest/gtest.h>

using namespace vistrel;

TEST(CameraAngle, LabelsAndUnknownKeys)
{
    EXPECT_EQ(angleLabel("top"), "正射");
    EXPECT_EQ(angleLabel("top_range"), "范围线正射");
    EXPECT_EQ(angleLabel("north"), "北侧");
    EXPECT_EQ(angleLabel("sw45"), "西南45");
    EXPECT_EQ(angleLabel("oblique"), "倾斜");
    EXPECT_EQ(angleLabel("nadir"), "nadir");
    EXPECT_EQ(findAngle("TOP"), nullptr);
    ASSERT_NE(findAngle("ne45"), nullptr);
    EXPECT_EQ(findAngle("ne45")->dx, 1);
    EXPECT_EQ(findAngle("ne45")->dy, 1);
}
