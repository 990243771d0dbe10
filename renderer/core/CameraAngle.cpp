#include "core/CameraAngle.h"

namespace vistrel {

namespace {
const AngleEntry kAngles[] = {
    {"top", 0, 0, "正射"},     {"top_range", 0, 0, "范围线正射"}, {"north", 0, 1, "北侧"},    {"south", 0, -1, "南侧"},
    {"east", 1, 0, "东侧"},    {"west", -1, 0, "西侧"},           {"ne45", 1, 1, "东北45"},   {"nw45", -1, 1, "西北45"},
    {"se45", 1, -1, "东南45"}, {"sw45", -1, -1, "西南45"},        {"oblique", 1, -1, "倾斜"},
};
}  // namespace

const AngleEntry* angleTable(int& count)
{
    count = static_cast<int>(sizeof kAngles / sizeof kAngles[0]);
    return kAngles;
}

const AngleEntry* findAngle(const std::string& key)
{
    for (const auto& entry : kAngles) {
        if (key == entry.key) {
            return &entry;
        }
    }
    return nullptr;
}

std::string angleLabel(const std::string& key)
{
    const AngleEntry* entry = findAngle(key);
    return entry ? entry->label : key;
}

}  // namespace vistrel
