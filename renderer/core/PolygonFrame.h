#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vistrel {

// A point of a ring in scene coordinates.
struct RingPoint {
    double x = 0.0;
    double y = 0.0;
};

// One polygon of the survey layer: read from the shapefile, completed with
// model heights before rendering.
struct PolygonFrame {
    std::int32_t index = 0;  // 1-based reading order
    std::string name;  // name-field values joined; never empty
    std::string uniqueName;  // name plus _0002… from the second occurrence
    std::vector<std::string> nameValues;  // non-empty name values; last carries the suffix
    std::map<std::string, std::string> attributes;  // field name -> value text
    double minX = 0.0;
    double minY = 0.0;
    double maxX = 0.0;
    double maxY = 0.0;
    // Every ring of every part: each part's exterior ring, then its holes.
    std::vector<std::vector<RingPoint>> rings;
    // Per ring: true for a hole of the part whose exterior ring comes before
    // it. Rings past its end are exterior rings.
    std::vector<bool> ringIsHole;
    // Why the frame cannot be placed over the model (its points cannot be
    // moved into the model's system); empty when it can. Such a frame keeps
    // its points as read, and its images fail without being rendered.
    std::string unusable;
    double centerZ = 0.0;
    double minZ = 0.0;
    double maxZ = 0.0;
    // True when the heights were measured on the model under the frame; else
    // they are a stand-in (the scene's centre height) and the reports leave
    // them out.
    bool hasModelHeights = false;
    // Share of the frame's area with model under it in its vertical picture;
    // -1 until measured.
    double modelShare = -1.0;
};

}  // namespace vistrel
