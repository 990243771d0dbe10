#pragma once

#include <string>
#include <vector>

namespace vistrel {

// Angle keys with their Chinese labels: top 正射, top_range 范围线正射,
// north 北侧, south 南侧, east 东侧, west 西侧, ne45 东北45, nw45 西北45,
// se45 东南45, sw45 西南45, oblique 倾斜.
struct AngleEntry {
    const char* key;
    int dx;  // horizontal offset of the eye from the target; 0/0 for the vertical views
    int dy;
    const char* label;
    const char* shortLabel;  // Tavrin's check box
};

// The table in its documented order.
const AngleEntry* angleTable(int& count);

// The entry of `key` (exact, case-sensitive), or null.
const AngleEntry* findAngle(const std::string& key);

// The keys the angles key accepts: every entry but the outline image's.
const std::vector<std::string>& configurableAngleKeys();

// The label of `key`; a key outside the table is returned unchanged.
std::string angleLabel(const std::string& key);

}  // namespace vistrel
