#pragma once

#include <string>

namespace vistrel {

// An x/y rectangle; empty until something is added.
struct Extent2 {
    double minX = 0.0;
    double minY = 0.0;
    double maxX = 0.0;
    double maxY = 0.0;
    bool empty = true;
    void add(double x0, double y0, double x1, double y1);
    bool overlaps(const Extent2& other) const;
    std::string text() const;  // formatBounds of the rectangle, or "(empty)"
};

// "(minX, minY) - (maxX, maxY), center=(cx, cy)".
std::string formatBounds(double minX, double minY, double maxX, double maxY);

}  // namespace vistrel
