#include "core/CameraAngle.h"

#include "core/ImagePlan.h"

namespace vistrel {

namespace {
// clang-format off
const AngleEntry kAngles[] = {
    {"top", 0, 0, "正射", "正射"},
    {"top_range", 0, 0, "范围线正射", "范围线正射"},
    {"north", 0, 1, "北侧", "北"},
    {"south", 0, -1, "南侧", "南"},
    {"east", 1, 0, "东侧", "东"},
    {"west", -1, 0, "西侧", "西"},
    {"ne45", 1, 1, "东北45", "东北45"},
    {"nw45", -1, 1, "西北45", "西北45"},
    {"se45", 1, -1, "东南45", "东南45"},
    {"sw45", -1, -1, "西南45", "西南45"},
    {"oblique", 1, -1, "倾斜", "倾斜"},
};
// clang-format on
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

const std::vector<std::string>& configurableAngleKeys()
{
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> list;
        for (const auto& entry : kAngles) {
            if (std::string(entry.key) != kOutlineImageKey) {
                list.emplace_back(entry.key);
            }
        }
        return list;
    }();
    return keys;
}

std::string angleLabel(const std::string& key)
{
    const AngleEntry* entry = findAngle(key);
    return entry ? entry->label : key;
}

}  // namespace vistrel
