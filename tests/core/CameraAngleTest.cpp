#include "core/CameraAngle.h"
#include "core/RenderConfig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

using namespace vistrel;

// Labels name files, report columns and Tavrin's boxes, so each is unique;
// a side's compass letters agree with where its eye stands (a swapped row
// would photograph the wrong side under the right name); every key but the
// outline image's is an accepted angle.
TEST(CameraAngle, KeysLabelsAndDirectionsAgree)
{
    int count = 0;
    const AngleEntry* table = angleTable(count);
    std::set<std::string> labels;
    for (int i = 0; i < count; ++i) {
        const AngleEntry& entry = table[i];
        const std::string key = entry.key;
        EXPECT_TRUE(labels.insert(entry.label).second) << key;
        EXPECT_EQ(angleLabel(key), entry.label);
        if (key == "top" || key == "top_range") {
            EXPECT_EQ(entry.dx * entry.dx + entry.dy * entry.dy, 0) << key;
        } else if (key != "oblique") {
            const std::string compass = key == "north"   ? "n"
                                        : key == "south" ? "s"
                                        : key == "east"  ? "e"
                                        : key == "west"  ? "w"
                                                         : key.substr(0, 2);
            EXPECT_EQ(compass.find('n') != std::string::npos, entry.dy > 0) << key;
            EXPECT_EQ(compass.find('s') != std::string::npos, entry.dy < 0) << key;
            EXPECT_EQ(compass.find('e') != std::string::npos, entry.dx > 0) << key;
            EXPECT_EQ(compass.find('w') != std::string::npos, entry.dx < 0) << key;
        }
        const auto& accepted = configurableAngleKeys();
        EXPECT_EQ(std::count(accepted.begin(), accepted.end(), key), key == "top_range" ? 0 : 1) << key;
    }
    EXPECT_EQ(angleLabel("nadir"), "nadir");
    EXPECT_EQ(findAngle("TOP"), nullptr);
}
