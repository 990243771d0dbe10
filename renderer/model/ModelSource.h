#pragma once

#include "core/ContentHash.h"
#include "model/RootIndex.h"
#include "model/SceneOrigin.h"

#include <osg/Node>
#include <osg/ref_ptr>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vistrel {

// What identifies the model on disk, so that a resumed batch can tell a
// replaced model from the one it started with: the bytes of the file that
// places it (metadata.xml, the .dsm file or tileset.json; none gives an empty
// name) and the roots' names, sizes and modification times. Names are
// relative to the model path, so machines that mount it elsewhere agree.
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

// One model format. A source knows where its roots are, reads one when asked
// (finer levels are then paged in through the reading it installed), says
// where the model stands and what identifies it. The scene is built from a
// source by LazyScene; nothing after it knows the format.
//
// A root is named by a text the source gives (a file path for OSGB tiles);
// the root index keeps entries under that name with the stamp rootStamp()
// gives, and takes an entry over only while the stamp is unchanged.
class ModelSource {
public:
    virtual ~ModelSource() = default;

    // "OSGB", "3D Tiles": for the log and Tavrin.
    virtual std::string formatName() const = 0;

    // The path the model was opened from, as given.
    virtual const std::string& modelPath() const = 0;

    // The roots, in the order the scene keeps them.
    virtual const std::vector<std::string>& roots() const = 0;

    // Size and modification time of what `root` is read from; false when it
    // cannot be queried (the root is then never loaded).
    virtual bool rootStamp(const std::string& root, std::uintmax_t& size, std::int64_t& mtime) const = 0;

    // The entry of `root`: its stamp, whether it can be read and its bound in
    // tile coordinates (what a read gives; a source that knows the bound
    // without reading the content may give it from there).
    virtual RootEntry readEntry(const std::string& root) const = 0;

    // The root as read, in tile coordinates: what the scene shows of it
    // before finer levels are paged in. Null, with `reason`, when it cannot
    // be read.
    virtual osg::ref_ptr<osg::Node> readRoot(const std::string& root, std::string& reason) const = 0;

    // Lets go of whatever the source keeps of a root the scene unloaded.
    virtual void forget(const std::string& root) const = 0;

    // Where tile coordinates stand: the origin added to them (invalid: none,
    // tile coordinates are the model's own) and the model's SRS text.
    virtual const SceneOrigin& origin() const = 0;

    // The model's identity for the journal.
    virtual ModelIdentity identity() const = 0;
};

// What a run asks of every source.
struct ModelOptions {
    // A tiled level is refined while its geometric error, in picture pixels,
    // exceeds this (formats that give a geometric error per level).
    double maxScreenSpaceError = 1.0;
};

// The source of the model at `path`: a tileset.json or a folder holding one
// gives a 3D Tiles source; anything else (a project folder, a Data folder, a
// tile folder or one .osgb file) an OSGB source. Null, with `reason`, when
// the path is missing or holds no root. The source installs its reading
// checks for the whole process (every later read of a model file, the
// database pager's included, goes through them). File-system failures other
// than "not found" throw filesystem_error.
std::unique_ptr<ModelSource> openModelSource(const std::string& path, const ModelOptions& options, std::string& reason);

}  // namespace vistrel
