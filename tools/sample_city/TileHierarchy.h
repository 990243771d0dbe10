#pragma once

// One tile of the model as an export lays it out: a root file holding the
// coarse level and a PagedLOD that pages in the middle level, which splits
// the tile into quadrants whose PagedLODs page in the finest level.
//
//   Tile_+000_+000.osgb        L17, whole tile     -> Tile_+000_+000_L18_0.osgb
//   Tile_+000_+000_L18_0.osgb  L18, four quadrants -> Tile_+000_+000_L19_0<q>.osgb
//   Tile_+000_+000_L19_0<q>.osgb  L19, one quadrant (q = 0 SW, 1 SE, 2 NW, 3 NE)

#include "CityLayout.h"
#include "CityMesh.h"

#include <osg/Geode>
#include <osg/Group>
#include <osg/PagedLOD>
#include <osg/ref_ptr>

#include <array>
#include <initializer_list>
#include <filesystem>
#include <string>
#include <vector>

namespace samplecity {

struct TileModel {
    int i = 0;
    int j = 0;
    std::string name;
    Rect area;
    osg::ref_ptr<osg::Geode> coarse;  // L17
    std::array<Rect, 4> quadrants;
    std::array<osg::ref_ptr<osg::Geode>, 4> middle;  // L18
    std::array<osg::ref_ptr<osg::Geode>, 4> fine;  // L19
};

const std::array<LevelDetail, 3>& levelDetails();

// Screen sizes (pixels) above which the next finer level is paged in.
constexpr float kRootSwitchPixels = 300.0f;
constexpr float kQuadrantSwitchPixels = 600.0f;

// The union of the nodes' bounds with a little slack.
osg::BoundingSphere unionBound(std::initializer_list<const osg::Node*> nodes);
// A level node as exports write it: `geometry` up to `switchPixels` on
// screen, `finerFile` (relative to the file's folder) beyond.
osg::ref_ptr<osg::PagedLOD> pagedLevel(osg::Node* geometry, const std::string& finerFile, float switchPixels,
                                       const osg::BoundingSphere& bound);
// The middle level as written: a group of the four quadrants' PagedLODs.
osg::ref_ptr<osg::Group> middleLevel(const TileModel& tile);
// The sphere the root PagedLOD switches on: every level of the tile.
osg::BoundingSphere rootBound(const TileModel& tile, const osg::Group& middle);
// The picture scale (metres per pixel) below which a level node pages in
// its finer file. In an orthographic view a PagedLOD's pixel size is the
// diameter of its sphere in pixels, so the switch comes at the scale where
// that diameter spans `switchPixels`.
double switchMetresPerPixel(const osg::BoundingSphere& bound, float switchPixels);
// Writes a node as a zlib-compressed .osgb with its textures inside. Throws
// on a failed write.
void writeNode(const osg::Node& node, const std::filesystem::path& path);

TileModel buildTileModel(const CityLayout& city, int i, int j);

struct WrittenTile {
    osg::ref_ptr<osg::PagedLOD> root;  // the root node as written
    std::vector<std::string> files;  // file names in the tile folder, root first
};

// Writes the tile's files into `folder` (which must exist). Throws on a
// failed write.
WrittenTile writeTileFiles(const TileModel& tile, const std::filesystem::path& folder);

}  // namespace samplecity
