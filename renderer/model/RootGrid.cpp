#include "model/RootGrid.h"
#include "model/RootIndex.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vistrel {

namespace {

// Cells per side at most, and cells in all at most kCellsPerRoot per root on
// the grid (at least kMinCells): roots spread far apart cannot make the grid
// large.
constexpr int kMaxCellsPerSide = 2048;
constexpr double kCellsPerRoot = 4.0;
constexpr double kMinCells = 4096.0;

double margin(double radius)
{
    return radius * 0.01 + 0.5;
}

// The cell a coordinate falls in, counted from `low` in cells of `size`,
// within [0, limit - 1] whatever the value (NaN gives 0).
int cellOf(double value, double low, double size, int limit)
{
    const double at = std::floor((value - low) / size);
    if (!(at > 0.0)) {
        return 0;
    }
    return at < static_cast<double>(limit - 1) ? static_cast<int>(at) : limit - 1;
}

bool finiteSphere(const osg::Vec3d& c, double r)
{
    for (int i = 0; i < 3; ++i) {
        if (!std::isfinite(c[i] - r) || !std::isfinite(c[i] + r)) {
            return false;
        }
    }
    return true;
}

}  // namespace

RootGrid::RootGrid(const std::vector<RootEntry>& entries, const osg::Vec3d& offset)
{
    double maxX = 0.0, maxY = 0.0, sumRadius = 0.0;
    std::size_t count = 0;
    for (const RootEntry& entry : entries) {
        const osg::Vec3d c = osg::Vec3d(entry.bound.center()) + offset;
        const double r = entry.bound.radius();
        const bool usable = entry.readable && placesRoot(entry.bound) && finiteSphere(c, r);
        centers_.push_back(c);
        radii_.push_back(r);
        onGrid_.push_back(usable);
        if (!usable) {
            continue;
        }
        if (count++ == 0) {
            minX_ = c.x() - r, minY_ = c.y() - r, maxX = c.x() + r, maxY = c.y() + r;
            lowZ_ = c.z() - r, highZ_ = c.z() + r;
        }
        minX_ = std::min(minX_, c.x() - r), minY_ = std::min(minY_, c.y() - r);
        maxX = std::max(maxX, c.x() + r), maxY = std::max(maxY, c.y() + r);
        lowZ_ = std::min(lowZ_, c.z() - r), highZ_ = std::max(highZ_, c.z() + r);
        sumRadius += r;
        largestRadius_ = std::max(largestRadius_, r);
    }
    const double spanX = maxX - minX_, spanY = maxY - minY_;
    const double cells = std::max(kMinCells, kCellsPerRoot * static_cast<double>(count));
    cell_ = std::max({std::max(spanX, spanY) / kMaxCellsPerSide, std::sqrt(spanX * spanY / cells),
                      2.0 * sumRadius / static_cast<double>(std::max<std::size_t>(1, count)), 1e-3});
    columns_ = cellOf(maxX, minX_, cell_, kMaxCellsPerSide + 1) + 1;
    rows_ = cellOf(maxY, minY_, cell_, kMaxCellsPerSide + 1) + 1;
    cells_.resize(static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_));
    for (std::size_t i = 0; i < centers_.size(); ++i) {
        if (!onGrid_[i]) {
            continue;
        }
        const osg::Vec3d& c = centers_[i];
        const double r = radii_[i];
        for (int y = cellOf(c.y() - r, minY_, cell_, rows_); y <= cellOf(c.y() + r, minY_, cell_, rows_); ++y) {
            for (int x = cellOf(c.x() - r, minX_, cell_, columns_); x <= cellOf(c.x() + r, minX_, cell_, columns_);
                 ++x) {
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
    const int x0 = cellOf(minX, minX_, cell_, columns_), x1 = cellOf(maxX, minX_, cell_, columns_);
    const int y0 = cellOf(minY, minY_, cell_, rows_), y1 = cellOf(maxY, minY_, cell_, rows_);
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
        const double extra = margin(largestRadius_);
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

bool RootGrid::footprint(std::size_t index, double& minX, double& minY, double& maxX, double& maxY) const
{
    if (index >= onGrid_.size() || !onGrid_[index]) {
        return false;
    }
    const osg::Vec3d& c = centers_[index];
    const double r = radii_[index];
    minX = c.x() - r;
    minY = c.y() - r;
    maxX = c.x() + r;
    maxY = c.y() + r;
    return true;
}

}  // namespace vistrel
