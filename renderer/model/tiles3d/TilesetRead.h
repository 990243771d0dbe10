#pragma once

// The pieces of the tileset reader that the explicit tree and implicit
// tiling share; not for use outside Tileset.cpp and TilesetImplicit.cpp.

#include "model/tiles3d/Tileset.h"

#include <nlohmann/json.hpp>

#include <array>
#include <string>
#include <vector>

namespace vistrel::tilesetread {

// A bounding volume as written: a box (centre, three half-axes), a region
// (west, south, east, north in radians, lowest and highest height) or a
// sphere (centre, radius).
struct Volume {
    enum class Kind { Box, Region, Sphere } kind = Kind::Box;
    std::array<double, 12> v{};
};

// Reads `json` as a bounding volume, its numbers checked (finite, within the
// sizes a model has); false with `why`.
bool parseVolume(const nlohmann::json& json, Volume& volume, std::string& why);

// What a tile takes from the tiles above it and the file that names it.
struct Place {
    osg::Matrixd toScene;  // the parent's tile coordinates to the scene frame
    Refine refine = Refine::Replace;
    std::string folder;  // of the JSON file naming the tile, relative to the model folder ("" or "a/b")
    std::string file;  // that file, relative to the model folder
    bool yUp = true;
    std::vector<std::string> chain;  // tileset files being read, outermost first
    int depth = 0;  // levels below the root
};

class Reader {
public:
    Reader(Tileset& tileset, const TilesetLimits& limits) : tileset_(tileset), limits_(limits) {}

    // Reads `file` (relative to the model folder) as the root tileset.
    bool readRootFile(const std::string& file, std::string& reason);

    // Shared with implicit tiling.
    const TilesetLimits& limits() const { return limits_; }
    void problem(const std::string& text) { tileset_.problems.push_back(text); }
    // The whole of `file` (relative to the model folder) within the size
    // bound; false with `why`.
    bool readBytes(const std::string& file, std::string& bytes, std::string& why) const;
    // `uri` resolved against `folder`: a path relative to the model folder,
    // never a URL, an absolute path or one leaving the folder.
    static bool resolveUri(const std::string& uri, const std::string& folder, std::string& path, std::string& why);
    // The sphere of `volume` in the scene frame, for a tile placed by
    // `toScene`; false with `why` when it cannot place a tile.
    bool sceneSphere(const Volume& volume, const osg::Matrixd& toScene, osg::BoundingSphered& sphere,
                     std::string& why) const;
    // Whether another tile may be added; the first refusal is a problem.
    bool roomForTile();
    // Appends `tile` below `parent` (-1: the root); its index.
    int addTile(TilesetTile tile, int parent);
    // Content named by a tile: an external tileset is read below `tile`,
    // anything else is listed as its content.
    void addContent(const std::string& uri, int tile, int ordinal, const Place& place);
    void noteIndexFile(const std::string& file) { tileset_.indexFiles.push_back(file); }
    void noteFile(const std::string& file) { tileset_.files.push_back(file); }
    std::vector<TilesetTile>& tiles() { return tileset_.tiles; }

private:
    bool parseFile(const std::string& file, nlohmann::json& doc, std::string& why) const;
    bool readAsset(const nlohmann::json& doc, const std::string& file, bool& yUp, std::string& why);
    void placeScene(const nlohmann::json& root);
    void readTile(const nlohmann::json& tile, int parent, const std::string& path, const Place& place);
    bool tileRecord(const nlohmann::json& tile, const std::string& path, const Place& place, TilesetTile& record,
                    std::string& why) const;
    void readExternal(const std::string& file, int tile, int ordinal, const Place& place);

    Tileset& tileset_;
    const TilesetLimits& limits_;
    bool full_ = false;
};

// A tile's transform, when it has one: 16 finite numbers of an affine
// matrix; false with `why`.
bool parseTransform(const nlohmann::json& tile, osg::Matrixd& transform, std::string& why);
// "REPLACE" or "ADD" (either case); false for anything else.
bool parseRefine(const nlohmann::json& tile, Refine& refine);
// The uris of a tile's content: 1.0 "url", 1.1 "uri", 1.1 "contents".
std::vector<std::string> contentUris(const nlohmann::json& tile);

// Reads the implicit tiling of the tile `json` (placed by `place`, its record
// `root` as the tile at level 0 already made but not yet added): its
// subtrees, where their files are there, become tiles below it.
void readImplicitTiling(Reader& reader, const nlohmann::json& json, TilesetTile root, int parent, const Place& place);

}  // namespace vistrel::tilesetread
