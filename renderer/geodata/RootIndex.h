#pragma once

#include <osg/BoundingSphere>
#include <osg/Vec3d>
#include <osgDB/Options>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vistrel {

// What a run needs to know of one tile root without holding it in memory:
// its bounding sphere (tile coordinates, as the scene graph computes it on
// reading) and the file's size and modification time it was read from.
struct RootEntry {
    std::string path;
    std::uintmax_t size = 0;
    std::int64_t mtime = 0;  // file clock ticks
    bool readable = false;  // false: the file could not be read as a model
    osg::BoundingSphere bound;
};

// Size and modification time of `file`; false when it cannot be queried.
bool rootFileStamp(const std::filesystem::path& file, std::uintmax_t& size, std::int64_t& mtime);

// One entry per root, in the order given. An entry of `known` with the same
// path, size and time is taken over; every other root is read once (nothing
// is cached) for its bound. `reread` counts the roots that were read.
std::vector<RootEntry> indexRoots(const std::vector<std::filesystem::path>& roots, const std::vector<RootEntry>& known,
                                  const osgDB::Options* options, int& reread);

// A small text form of the entries with a checksum; decodeRootIndex gives
// false (and nothing) for any text it did not write whole.
std::string encodeRootIndex(const std::vector<RootEntry>& entries);
bool decodeRootIndex(const std::string& text, std::vector<RootEntry>& entries);

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
    // Indices (ascending) of the readable roots whose sphere reaches into the
    // prism, with a margin of 1 % of each radius plus 0.5 m.
    std::vector<std::size_t> inPrism(const ViewPrism& prism) const;
    // Indices (ascending) of the readable roots whose sphere reaches over the
    // x/y rectangle.
    std::vector<std::size_t> overRectangle(double minX, double minY, double maxX, double maxY) const;

private:
    std::vector<std::size_t> candidates(double minX, double minY, double maxX, double maxY) const;
    bool touchesPrism(std::size_t index, const ViewPrism& prism) const;

    std::vector<osg::Vec3d> centers_;
    std::vector<double> radii_;
    std::vector<bool> readable_;
    double minX_ = 0.0, minY_ = 0.0, cell_ = 1.0;
    int columns_ = 1, rows_ = 1;
    double lowZ_ = 0.0, highZ_ = 0.0;  // the z range of all spheres
    std::vector<std::vector<std::size_t>> cells_;
};

}  // namespace vistrel
