#pragma once

// Fixed item lists of the settings form.

// The nine angle check boxes in their 3 x 3 grid, row by row (labels from
// core/CameraAngle's short labels).
inline constexpr const char* kAngleGrid[] = {
    "top", "north", "south", "east", "west", "se45", "sw45", "ne45", "nw45",
};
inline constexpr int kAngleGridColumns = 3;

// Range line colours: the Chinese name shown and the key value written.
struct ColourChoice {
    const char* label;
    const char* value;
};

inline constexpr ColourChoice kRangeLineColours[] = {
    {"红色", "red"},   {"黄色", "yellow"}, {"蓝色", "blue"},    {"绿色", "green"},
    {"白色", "white"}, {"黑色", "black"},  {"紫色", "magenta"}, {"青色", "cyan"},
};

inline constexpr int kFirstViewAngle = 30;
inline constexpr int kLastViewAngle = 70;
inline constexpr int kViewAngleStep = 5;

// Separator list items; the nested-folder item stands for one backslash.
inline constexpr char kUnderscoreSeparator[] = "_";
inline constexpr char kNestedFolderSeparator[] = "\\（文件夹内套文件夹）";
inline constexpr char kDashSeparator[] = "-";
inline constexpr char kCustomSeparator[] = "自定义";

// Output field used when none is given or none is left.
inline constexpr char kDefaultField[] = "ZDDM";
