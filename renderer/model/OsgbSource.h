#pragma once

#include "model/ModelSource.h"

#include <osgDB/Options>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vistrel {

// OSGB tiles: a project folder (metadata.xml and Data/), a Data folder, a
// tile folder or one .osgb file. Each tile folder's root .osgb is a root; its
// finer levels are PagedLOD children the database pager reads through the
// checked read callback (TileReadCallback.h). The origin comes from
// metadata.xml or a .dsm file (SceneOrigin.h).
class OsgbSource : public ModelSource {
public:
    // Null, with `reason`, when the path is missing or holds no root tile.
    static std::unique_ptr<OsgbSource> open(const std::string& path, std::string& reason);

    std::string formatName() const override { return "OSGB"; }
    const std::string& modelPath() const override { return given_; }
    const std::vector<std::string>& roots() const override { return roots_; }
    bool rootStamp(const std::string& root, std::uintmax_t& size, std::int64_t& mtime) const override;
    RootEntry readEntry(const std::string& root) const override;
    osg::ref_ptr<osg::Node> readRoot(const std::string& root, std::string& reason) const override;
    void forget(const std::string& root) const override;
    const SceneOrigin& origin() const override { return origin_; }
    ModelIdentity identity() const override;

private:
    OsgbSource() = default;
    std::string given_;
    std::filesystem::path path_;
    std::vector<std::string> roots_;
    SceneOrigin origin_;
    osg::ref_ptr<osgDB::Options> options_;
};

// Adds <cwd>/plugins/osgPlugins-<version> and the installed plug-in folder
// to the registry's library path list (each once, when it exists).
void setupPluginPath();

// The root .osgb files of a model path, in listing order.
std::vector<std::filesystem::path> findRootOsgbFiles(const std::filesystem::path& path);
std::filesystem::path findTileRootFile(const std::filesystem::path& folder);

// The entry of `root`, read once from the file (nothing is cached).
RootEntry readRootEntry(const std::filesystem::path& root, const osgDB::Options* options);

// The identity of the model whose root tiles are `roots` (below the model
// path `model`) and whose origin was read as `origin`.
ModelIdentity modelIdentityOf(const std::filesystem::path& model, const std::vector<std::filesystem::path>& roots,
                              const SceneOrigin& origin);

}  // namespace vistrel
