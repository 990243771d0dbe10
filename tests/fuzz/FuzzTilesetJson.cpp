// A tileset folder from one input: tileset.json, then (after a line
// "----") ext.json, then a subtree file, so that external tilesets and
// implicit tiling are reached. Whatever is read must place every tile it
// keeps at a finite place within the bounds, link the tree consistently and
// name no file outside the folder.
#include "FuzzTempFile.h"

#include "model/tiles3d/Tiles3dSource.h"
#include "model/tiles3d/Tileset.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> parts(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t at = 0;
    for (std::size_t cut = text.find("\n----\n"); cut != std::string::npos && out.size() < 2;
         cut = text.find("\n----\n", at)) {
        out.push_back(text.substr(at, cut - at));
        at = cut + 6;
    }
    out.push_back(text.substr(at));
    return out;
}

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

void checkTileset(const vistrel::Tileset& tileset)
{
    check(!tileset.tiles.empty() && tileset.tiles[0].parent == -1);
    for (std::size_t i = 0; i < tileset.tiles.size(); ++i) {
        const vistrel::TilesetTile& tile = tileset.tiles[i];
        check(std::isfinite(tile.bound.radius()) && tile.bound.radius() <= 1e7);
        check(std::isfinite(tile.bound.center().length()) && tile.bound.center().length() <= 1e8);
        check(std::isfinite(tile.geometricError) && tile.geometricError >= 0.0);
        check(i == 0 || (tile.parent >= 0 && static_cast<std::size_t>(tile.parent) < i));
        for (int child : tile.children) {
            check(static_cast<std::size_t>(child) > i && child < static_cast<int>(tileset.tiles.size()));
        }
    }
    for (const std::string& file : tileset.files) {
        check(!file.empty() && file.rfind("..", 0) != 0 && file[0] != '/');
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::string> files = parts(std::string(reinterpret_cast<const char*>(data), size));
    const char* names[] = {"tileset.json", "ext.json", "s.subtree"};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string& bytes = i < files.size() ? files[i] : std::string();
        writeFuzzFile(names[i], reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    vistrel::TilesetLimits limits;
    limits.maxTiles = 4096;
    vistrel::Tileset tileset;
    std::string reason;
    if (vistrel::readTileset(fuzzScratchFolder() / "tileset.json", tileset, reason, limits)) {
        checkTileset(tileset);
    }
    std::unique_ptr<vistrel::Tiles3dSource> source =
        vistrel::Tiles3dSource::open(fuzzScratchFolder() / "tileset.json", vistrel::ModelOptions(), reason, limits);
    if (source) {
        for (const std::string& root : source->roots()) {
            check(source->readEntry(root).readable);
        }
    }
    return 0;
}
