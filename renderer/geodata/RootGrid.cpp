#include "geodata/RootIndex.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vistrel {

namespace {

constexpr int kMaxCellsPerSide = 2048;

double margin(double radius)
{
    return radius * 0.01 + 0.5;
}

}  // namespace

RootGrid::RootGrid(const std::vector<RootEntry>& entries, const osg::Vec3d& offset)
{
    double maxX = 0.0, maxY = 0.0, sumRadius = 0.0;
    bool any = false;
    for (const RootEntry& entry : entries) {
        const osg::Vec3d c = osg::Vec3d(entry.bound.center()) + offset;
        const double r = entry.bound.radius();
        centers_.push_back(c);
        radii_.push_back(r);
        const bool usable = entry.readable && entry.bound.valid();
        readable_.push_back(usable);
        if (!usable) {
            continue;
        }
        if (!any) {
            minX_ = c.x() - r, minY_ = c.y() - r, maxX = c.x() + r, maxY = c.y() + r;
            lowZ_ = c.z() - r, highZ_ = c.z() + r;
            any = true;
        }
        minX_ = std::min(minX_, c.x() - r), minY_ = std::min(minY_, c.y() - r);
        maxX = std::max(maxX, c.x() + r), maxY = std::max(maxY, c.y() + r);
        lowZ_ = std::min(lowZ_, c.z() - r), highZ_ = std::max(highZ_, c.z() + r);
        sumRadius += r;
    }
    const double count = std::max<double>(1.0, static_cast<double>(entries.size()));
    const double span = std::max({maxX - minX_, maxY - minY_, 1.0});
    cell_ = std::max({span / kMaxCellsPerSide, 2.0 * sumRadius / count, 1e-3});
    columns_ = std::max(1, static_cast<int>(std::ceil((maxX - minX_) / cell_)) + 1);
    rows_ = std::max(1, static_cast<int>(std::ceil((maxY - minY_) / cell_)) + 1);
    cells_.resize(static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_));
    for (std::size_t i = 0; i < centers_.size(); ++i) {
        if (!readable_[i]) {
            continue;
        }
        const double r = radii_[i];
        const int x0 = static_cast<int>((centers_[i].x() - r - minX_) / cell_);
        const int x1 = static_cast<int>((centers_[i].x() + r - minX_) / cell_);
        const int y0 = static_cast<int>((centers_[i].y() - r - minY_) / cell_);
        const int y1 = static_cast<int>((centers_[i].y() + r - minY_) / cell_);
        for (int y = std::max(0, y0); y <= std::min(rows_ - 1, y1); ++y) {
            for (int x = std::max(0, x0); x <= std::min(columns_ - 1, x1); ++x) {
                cells_[static_cast<std::size_t>(y) * columns_ + x].push_back(i);
            }
        }
    }
}

std::vector<std::size_t> RootGrid::candidates(double minX, double minY, double maxX, double maxY) const
{
    std::vector<std::size_t> found;
    if (!(minX <= maxX && minY <= maxY)) {
        return found;
    }
    const auto clampCell = [](double value, int limit) {
        return static_cast<int>(std::clamp(value, 0.0, static_cast<double>(limit - 1)));
    };
    const int x0 = clampCell(std::floor((minX - minX_) / cell_), columns_);
    const int x1 = clampCell(std::floor((maxX - minX_) / cell_), columns_);
    const int y0 = clampCell(std::floor((minY - minY_) / cell_), rows_);
    const int y1 = clampCell(std::floor((maxY - minY_) / cell_), rows_);
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const auto& cell = cells_[static_cast<std::size_t>(y) * columns_ + x];
            found.insert(found.end(), cell.begin(), cell.end());
        }
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

bool RootGrid::touchesPrism(std::size_t i, const ViewPrism& prism) const
{
    osg::Vec3d forward = prism.center - prism.eye;
    forward.normalize();
    osg::Vec3d side = forward ^ prism.up;
    side.normalize();
    const osg::Vec3d up = side ^ forward;
    const osg::Vec3d d = centers_[i] - prism.eye;
    const double reach = radii_[i] + margin(radii_[i]);
    return std::fabs(d * side) <= prism.width / 2.0 + reach && std::fabs(d * up) <= prism.height / 2.0 + reach;
}

std::vector<std::size_t> RootGrid::inPrism(const ViewPrism& prism) const
{
    osg::Vec3d forward = prism.center - prism.eye;
    forward.normalize();
    osg::Vec3d side = forward ^ prism.up;
    side.normalize();
    const osg::Vec3d up = side ^ forward;
    double minX = std::numeric_limits<double>::infinity(), minY = minX;
    double maxX = -minX, maxY = -minX;
    if (std::fabs(forward.z()) > 0.05) {
        // Where the prism's edges cross the lowest and highest z of any root.
        for (const double z : {lowZ_, highZ_}) {
            for (const double a : {-prism.width / 2.0, prism.width / 2.0}) {
                for (const double b : {-prism.height / 2.0, prism.height / 2.0}) {
                    const osg::Vec3d start = prism.eye + side * a + up * b;
                    const osg::Vec3d p = start + forward * ((z - start.z()) / forward.z());
                    minX = std::min(minX, p.x()), maxX = std::max(maxX, p.x());
                    minY = std::min(minY, p.y()), maxY = std::max(maxY, p.y());
                }
            }
        }
        double largest = 0.0;
        for (const double r : radii_) {
            largest = std::max(largest, r);
        }
        const double extra = margin(largest);
        minX -= extra, minY -= extra, maxX += extra, maxY += extra;
    } else {
        minX = minX_, minY = minY_;
        maxX = minX_ + cell_ * columns_, maxY = minY_ + cell_ * rows_;
    }
    std::vector<std::size_t> found = candidates(minX, minY, maxX, maxY);
    found.erase(std::remove_if(found.begin(), found.end(), [&](std::size_t i) { return !touchesPrism(i, prism); }),
                found.end());
    return found;
}

std::vector<std::size_t> RootGrid::overRectangle(double minX, double minY, double maxX, double maxY) const
{
    std::vector<std::size_t> found = candidates(minX, minY, maxX, maxY);
    found.erase(std::remove_if(found.begin(), found.end(),
                               [&](std::size_t i) {
                                   const osg::Vec3d& c = centers_[i];
                                   const double dx = std::max({minX - c.x(), 0.0, c.x() - maxX});
                                   const double dy = std::max({minY - c.y(), 0.0, c.y() - maxY});
                                   return std::hypot(dx, dy) > radii_[i] + margin(radii_[i]);
                               }),
                found.end());
    return found;
}

}  // namespace vistrel
