#pragma once

#include "core/ContentHash.h"
#include "model/SceneOrigin.h"

#include <osg/Node>
#include <osg/ref_ptr>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vistrel {

// What identifies the model on disk, so that a resumed batch can tell a
// replaced model from the one it started with: the origin file's bytes
// (metadata.xml or the .dsm file; no origin file gives an empty path) and the
// root tiles' names, sizes and modification times. Names are relative to the
// model path, so machines that mount it elsewhere agree.
struct RootTileStamp {
    std::string name;
    std::uintmax_t size = 0;
    long long modified = 0;  // nanoseconds of the file clock
};
struct ModelIdentity {
    std::string originFile;  // file name of the origin file, without its folder
    FileDigest origin;
    std::vector<RootTileStamp> roots;
};

// The identity of the model whose root tiles are `roots` (below the model
// path `model`) and whose origin was read as `origin`.
ModelIdentity modelIdentityOf(const std::filesystem::path& model, const std::vector<std::filesystem::path>& roots,
                              const SceneOrigin& origin);

// What loading a model gives back. `scene` is null when nothing could be
// loaded, and `reason` says why; `unreadRoots` holds the reason for each root
// that could not be read, or whose bound cannot place it (checkRootBound in
// RootIndex.h), while loading went on with the others.
struct SceneLoad {
    osg::ref_ptr<osg::Node> scene;
    std::string reason;
    std::vector<std::string> unreadRoots;
    ModelIdentity identity;  // left empty unless asked for
    SceneOrigin origin;  // the origin that was read, with the model's SRS text
};

// Loads every tile root of `osgbPath` (a project folder, a Data folder, a
// tile folder or one .osgb file) under one group, placed at the model origin,
// and with `identify` the model's identity. File-system failures other than
// "not found" throw filesystem_error.
SceneLoad loadModel(const std::string& osgbPath, bool identify = true);
// The scene alone (null when nothing could be loaded), for tools and tests.
osg::ref_ptr<osg::Node> loadScene(const std::string& osgbPath);

// Logs the "Scene loaded" line with the bound of a model just placed.
void logSceneBound(const osg::Node& scene);

// Adds <cwd>/plugins/osgPlugins-<version> and the installed plug-in folder
// to the registry's library path list (each once, when it exists).
void setupPluginPath();

std::vector<std::filesystem::path> findRootOsgbFiles(const std::filesystem::path& path);

// What every way of loading a model starts with: the library's notices into
// the log, the plug-in folder, the checked read callback and k-d trees, then
// the root tiles of `osgbPath`. Empty, with `reason`, when the path is
// missing or holds no root tile. Throws filesystem_error for failures other
// than "not found".
std::vector<std::filesystem::path> prepareModelRoots(const std::string& osgbPath, std::string& reason);
std::filesystem::path findTileRootFile(const std::filesystem::path& folder);

}  // namespace vistrel
