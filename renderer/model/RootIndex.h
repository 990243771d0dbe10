#pragma once

#include <osg/BoundingSphere>
#include <osg/Vec3>
#include <osg/Vec3d>

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

// Limits on a bound read from a root tile or from the root index, in tile
// coordinates (metres). Tile coordinates are local, projected (with a zone
// prefix up to about 4.1e7 m) or geocentric (up to 6.4e6 m): a centre
// coordinate beyond 1e8 m is no place a model is given in. A root covers at
// most a region: a city's or county's roots are tens of metres to a few
// kilometres across, so 1e6 m of radius is far above any root and still well
// below the Earth's 6.4e6 m. A larger sphere would stand in every view and
// make the whole scene as large as itself.
constexpr double kMaxRootCentre = 1e8;
constexpr double kMaxRootRadius = 1e6;

// Whether `bound` can place a root; false, with `reason`, when a value is not
// finite or beyond the limits above. An empty bound (nothing to draw, the
// radius negative) passes: it places nothing.
bool checkRootBound(const osg::BoundingSphere& bound, std::string& reason);
// A bound that passes checkRootBound and is not empty.
bool placesRoot(const osg::BoundingSphere& bound);

// Whether `actual` (a root's bound as read) lies within `indexed`, give or
// take 0.1 % of the indexed radius and 1 cm: less than the margin the grid
// below adds to every sphere, so a root within it is found by every view that
// shows it.
bool boundWithin(const osg::BoundingSphere& actual, const osg::BoundingSphere& indexed);

// Size and modification time of `file`; false when it cannot be queried.
bool rootFileStamp(const std::filesystem::path& file, std::uintmax_t& size, std::int64_t& mtime);

// One entry per root of `source`, in its order. An entry of `known` with the same
// path, size and time is taken over when it places its root; every other
// root (one the index marks unreadable, gives no usable bound or has not
// seen) is read again, the file deciding. `reread` counts the roots read;
// `takenOver` marks the entries taken from `known`.
struct RootIndexing {
    std::vector<RootEntry> entries;
    std::vector<bool> takenOver;
    int reread = 0;
};
class ModelSource;
RootIndexing indexRoots(const ModelSource& source, const std::vector<RootEntry>& known);

// A small text form of the entries with a checksum; decodeRootIndex gives
// false (and nothing) for any text it did not write whole. An entry whose
// bound does not pass checkRootBound is written, and read, as unreadable
// with no bound, so that the file is read again next time.
std::string encodeRootIndex(const std::vector<RootEntry>& entries);
bool decodeRootIndex(const std::string& text, std::vector<RootEntry>& entries);

}  // namespace vistrel
