#pragma once

#include "model/ModelSource.h"
#include "model/tiles3d/Tileset.h"

#include <osgDB/Options>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vistrel {

// A 3D Tiles model behind the model interface. The roots are the tiles of
// the first levels, down to tiles with content smaller than kRootRadius
// (a tile without content is always refined), with the bounds
// the tileset gives (no content is read to find them); where a tile above
// them refines by ADD, its content is a root of its own. A root read is the
// tile's content with its children below a PagedLOD: the database pager asks
// for them through the source's own reading (file names only it resolves),
// and a tile is refined while its geometric error, in picture pixels, exceeds
// ModelOptions::maxScreenSpaceError.
//
// Content that cannot be read is warned once per file (counted as refused in
// TileReadLedger.h), a feature this build cannot read once per kind, and the
// rest of the model renders.
class Tiles3dSource : public ModelSource {
public:
    static constexpr double kRootRadius = 200.0;

    // Opens the tileset file `file`; null, with `reason`, when it gives no
    // model. Parts of the tileset left out are in problems().
    static std::unique_ptr<Tiles3dSource> open(const std::filesystem::path& file, const ModelOptions& options,
                                               std::string& reason, const TilesetLimits& limits = TilesetLimits());
    ~Tiles3dSource() override;

    std::string formatName() const override { return "3D Tiles"; }
    const std::string& modelPath() const override { return given_; }
    const std::vector<std::string>& roots() const override { return roots_; }
    bool rootStamp(const std::string& root, std::uintmax_t& size, std::int64_t& mtime) const override;
    RootEntry readEntry(const std::string& root) const override;
    osg::ref_ptr<osg::Node> readRoot(const std::string& root, std::string& reason) const override;
    void forget(const std::string& root) const override;
    const SceneOrigin& origin() const override { return origin_; }
    ModelIdentity identity() const override;

    // What the tileset reader left out, each naming its file (for the log).
    const std::vector<std::string>& problems() const;
    const Tileset& tileset() const;
    // The options the source's PagedLODs read their children with.
    const osgDB::Options* readOptions() const { return options_.get(); }

    struct Shared;

private:
    friend std::unique_ptr<ModelSource> openTiles3dSource(const std::string& path, const ModelOptions& options,
                                                          std::string& reason);
    Tiles3dSource() = default;
    int rootTile(const std::string& root, bool& contentOnly) const;

    std::shared_ptr<Shared> shared_;  // also held by the reading the pager uses
    osg::ref_ptr<osgDB::Options> options_;
    std::string given_;
    std::vector<std::string> roots_;
    SceneOrigin origin_;
    std::uintmax_t stampSize_ = 0;
    std::int64_t stampTime_ = 0;
};

// The 3D Tiles source of `path`: a tileset.json, or a folder holding one.
// Null, with `reason`, when there is none or it gives no model. The parts of
// the tileset left out are logged as WARNs (the first 20, then a count).
std::unique_ptr<ModelSource> openTiles3dSource(const std::string& path, const ModelOptions& options,
                                               std::string& reason);

// The picture size, in pixels of the bounding sphere's diameter, from which
// a tile of bounding radius `radius` and geometric error `geometricError` is
// refined: the PagedLOD's switch in PIXEL_SIZE_ON_SCREEN. OSG gives a sphere
// its diameter in pixels under an orthographic camera (LOD scale 1), so the
// switch is where geometricError / metres-per-pixel reaches
// `maxScreenSpaceError`.
float refinePixels(double radius, double geometricError, double maxScreenSpaceError);

}  // namespace vistrel
