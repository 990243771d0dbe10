#pragma once

#include "core/ContentHash.h"

#include <osg/Node>
#include <osg/ref_ptr>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vistrel {

// The model origin that the tiles' local coordinates are relative to.
struct SceneOrigin {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    std::string sourcePath;  // the file the origin came from
    std::string srs;  // SRS text of metadata.xml; empty for .dsm origins
    bool valid = false;
};

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

// Loads every tile root of `osgbPath` (a project folder, a Data folder, a
// tile folder or one .osgb file) under one group, placed at the model origin.
// Returns null after logging the reason when nothing could be loaded.
// File-system failures other than "not found" throw filesystem_error. The
// model's identity goes to `identity` and the origin that was read (with the
// model's SRS text) to `origin` when given.
osg::ref_ptr<osg::Node> loadScene(const std::string& osgbPath, ModelIdentity* identity = nullptr,
                                  SceneOrigin* origin = nullptr);

// Adds <cwd>/plugins/osgPlugins-<version> and the installed plug-in folder
// to the registry's library path list (each once, when it exists).
void setupPluginPath();

std::vector<std::filesystem::path> findRootOsgbFiles(const std::filesystem::path& path);

// What every way of loading a model starts with: the library's notices into
// the log, the plug-in folder, the checked read callback and k-d trees, then
// the root tiles of `osgbPath`. Empty, with the reason logged as an ERROR,
// when the path is missing or holds no root tile. Throws filesystem_error for
// failures other than "not found".
std::vector<std::filesystem::path> prepareModelRoots(const std::string& osgbPath);
std::filesystem::path findTileRootFile(const std::filesystem::path& folder);

SceneOrigin readSceneOrigin(const std::filesystem::path& path);
// Searches the SRSOrigin (and SRS) elements of metadata.xml, a regular file
// of at most 16 MB (a larger one is skipped with a warning). A malformed
// number throws std::invalid_argument naming the file, the element and the
// number.
SceneOrigin parseMetadataOrigin(const std::filesystem::path& file);
// The same search over the file's text; `sourcePath` stays empty.
SceneOrigin parseMetadataText(const std::string& text);
// The last window of two little-endian doubles that looks like a projected
// origin (100 000 <= |x| <= 10 000 000, 1 000 000 <= |y| <= 10 000 000).
SceneOrigin scanDsmOrigin(const std::filesystem::path& file);
// The same scan over bytes in memory; `sourcePath` stays empty.
SceneOrigin scanDsmBytes(const unsigned char* bytes, std::size_t size);

}  // namespace vistrel
