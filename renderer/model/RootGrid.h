#pragma once

#include "model/RootIndex.h"

#include <osg/Vec3d>

#include <cstddef>
#include <vector>

namespace vistrel {

// An orthographic view volume reaching without end both ways along the line
// of sight: what the scene graph keeps when it culls against the sides of
// the view only.
struct ViewPrism {
    osg::Vec3d eye;
    osg::Vec3d center;
    osg::Vec3d up;
    double width = 0.0;
    double height = 0.0;
};

// The roots' bounds on a grid of x/y cells, in scene coordinates (tile
// coordinates moved by `offset`), for finding the roots a view can show.
class RootGrid {
public:
    RootGrid(const std::vector<RootEntry>& entries, const osg::Vec3d& offset);
    // Only readable roots whose bound places them (placesRoot, and finite once
    // moved) are on the grid; its extent and cells are those of these alone.
    // Indices (ascending) of the roots on the grid whose sphere reaches into
    // the prism, with a margin of 1 % of each radius plus 0.5 m.
    std::vector<std::size_t> inPrism(const ViewPrism& prism) const;
    // Indices (ascending) of the roots on the grid whose sphere reaches over
    // the x/y rectangle.
    std::vector<std::size_t> overRectangle(double minX, double minY, double maxX, double maxY) const;
    // The x/y square around the sphere of root `index` (scene coordinates);
    // false for a root not on the grid.
    bool footprint(std::size_t index, double& minX, double& minY, double& maxX, double& maxY) const;

private:
    std::vector<std::size_t> candidates(double minX, double minY, double maxX, double maxY) const;
    bool touchesPrism(std::size_t index, const ViewPrism& prism) const;

    std::vector<osg::Vec3d> centers_;
    std::vector<double> radii_;
    std::vector<bool> onGrid_;
    double minX_ = 0.0, minY_ = 0.0, cell_ = 1.0;
    int columns_ = 1, rows_ = 1;
    double lowZ_ = 0.0, highZ_ = 0.0;  // the z range of the spheres on the grid
    double largestRadius_ = 0.0;
    std::vector<std::vector<std::size_t>> cells_;
};

}  // namespace vistrel
