#pragma once

// Fixed item lists of the settings form.

// The nine angle check boxes (short labels for the grid; files, reports and
// the preview use core/CameraAngle's) and their place in the 3 x 3 grid.
struct AngleChoice {
    const char* key;
    const char* label;
    int row;
    int column;
};

inline constexpr AngleChoice kAngleChoices[] = {
    {"top", "正射", 0, 0},    {"north", "北", 0, 1},    {"south", "南", 0, 2},
    {"east", "东", 1, 0},     {"west", "西", 1, 1},     {"se45", "东南45", 1, 2},
    {"sw45", "西南45", 2, 0}, {"ne45", "东北45", 2, 1}, {"nw45", "西北45", 2, 2},
};

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
