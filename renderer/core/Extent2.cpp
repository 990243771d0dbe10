#include "core/Extent2.h"

#include "core/NumberText.h"

#include <algorithm>

namespace vistrel {

std::string formatBounds(double minX, double minY, double maxX, double maxY)
{
    return "(" + coordinateNumber(minX) + ", " + coordinateNumber(minY) + ") - (" + coordinateNumber(maxX) + ", " +
           coordinateNumber(maxY) + "), center=(" + coordinateNumber((minX + maxX) * 0.5) + ", " +
           coordinateNumber((minY + maxY) * 0.5) + ")";
}

void Extent2::add(double x0, double y0, double x1, double y1)
{
    if (!(x1 >= x0 && y1 >= y0)) {
        return;
    }
    if (empty) {
        minX = x0;
        minY = y0;
        maxX = x1;
        maxY = y1;
        empty = false;
        return;
    }
    minX = std::min(minX, x0);
    minY = std::min(minY, y0);
    maxX = std::max(maxX, x1);
    maxY = std::max(maxY, y1);
}

bool Extent2::overlaps(const Extent2& other) const
{
    return !empty && !other.empty && minX <= other.maxX && other.minX <= maxX && minY <= other.maxY &&
           other.minY <= maxY;
}

std::string Extent2::text() const
{
    return empty ? std::string("(empty)") : formatBounds(minX, minY, maxX, maxY);
}

}  // namespace vistrel
