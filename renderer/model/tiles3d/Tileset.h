#pragma once

#include <osg/BoundingSphere>
#include <osg/Matrixd>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vistrel {

// How a tile's children stand to its own content: REPLACE shows them instead
// of it, ADD beside it.
enum class Refine { Replace, Add };

// One tile of a 3D Tiles model, placed in the scene frame (metres of the
// east-north-up frame at the model's origin, or the tileset's own
// coordinates when it has no georeference).
struct TilesetTile {
    std::string path;  // child indices from the root, "0.3.1"; empty for the root
    osg::Matrixd transform;  // tile coordinates to the scene frame: every transform down the tree
    osg::BoundingSphered bound;  // the bounding volume in the scene frame
    double geometricError = 0.0;
    Refine refine = Refine::Replace;
    std::vector<std::string> contents;  // content files, relative to the model folder
    bool yUp = true;  // glTF content is y-up (false where its tileset says gltfUpAxis "Z")
    int parent = -1;
    std::vector<int> children;  // indices into Tileset::tiles
};

// Bounds on what one tileset may make the reader do.
struct TilesetLimits {
    std::uintmax_t maxFileBytes = std::uintmax_t(256) << 20;  // a tileset JSON or subtree file
    int maxExternalDepth = 16;  // tilesets named as content, nested
    int maxTreeDepth = 64;  // levels of tiles below the root
    std::size_t maxTiles = std::size_t(1) << 20;
};

struct Tileset {
    std::filesystem::path folder;  // the model folder: every file named lies below it
    std::string fileName;  // the tileset file's name in it
    std::string version;  // asset.version
    std::string gltfUpAxis;  // asset.gltfUpAxis as written ("Y" when absent)
    double geometricError = 0.0;
    // Where the scene frame stands: a root transform's translation (ECEF),
    // else a root region's centre on the ellipsoid; neither leaves the
    // tileset's coordinates as they are.
    bool georeferenced = false;
    double latitude = 0.0;  // degrees
    double longitude = 0.0;  // degrees
    double height = 0.0;  // metres above the ellipsoid
    osg::Matrixd sceneFromEcef;  // identity when not georeferenced
    std::vector<TilesetTile> tiles;  // depth first; tiles[0] is the root
    // Parts left out, each naming its file and why (a bounding volume that
    // cannot place its tile, a cycle of external tilesets, a subtree that
    // cannot be read...): the rest of the model stands.
    std::vector<std::string> problems;
    // Every file the model is read from besides the tileset file itself,
    // relative to the folder, in tree order: external tilesets and subtree
    // files where they are read, each tile's content.
    std::vector<std::string> files;
    // The tileset JSON and subtree files read, for the model's stamp.
    std::vector<std::string> indexFiles;
};

// Reads the tileset file `file` (3D Tiles 1.0 or 1.1) with the external
// tilesets and implicit tiling it names. False, with `reason` naming the
// file, when there is no model: the file cannot be read, is no tileset
// JSON, or its root cannot be placed. Parts that cannot be read are left
// out and listed in `problems`.
bool readTileset(const std::filesystem::path& file, Tileset& tileset, std::string& reason,
                 const TilesetLimits& limits = TilesetLimits());

// ECEF (WGS 84) of a geodetic point, angles in radians, and back.
osg::Vec3d ecefFromGeodetic(double latitude, double longitude, double height);
void geodeticFromEcef(const osg::Vec3d& ecef, double& latitude, double& longitude, double& height);
// The east-north-up frame at a geodetic point (radians) as a matrix from ECEF
// to it (OSG's row-vector order: p_enu = p_ecef * matrix).
osg::Matrixd enuFromEcef(double latitude, double longitude, double height);

}  // namespace vistrel
