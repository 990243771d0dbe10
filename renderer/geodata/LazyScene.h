#pragma once

#include "geodata/RootIndex.h"
#include "geodata/SceneLoader.h"

#include <osg/Group>
#include <osg/Node>
#include <osg/ref_ptr>
#include <osgDB/Options>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vistrel {

// The tiled model with its roots read only when asked for. The scene graph
// is the one loadScene builds (the same bound, the roots in the same order
// under one group at the model origin) except that each root hangs under a
// slot of its own, which stays empty until the root is loaded. A slot carries
// the root's bound, so the scene's bound and every test against it are the
// same whichever roots are loaded.
//
// The scene holds a copy of each root's nodes (drawables and textures are
// shared), into which the database pager loads finer levels. Beside it a
// second graph of the same shape holds the roots as read, with no finer level
// ever added: heights measured through it are those of the roots alone,
// whatever has been paged in meanwhile.
class LazyScene {
public:
    // Told the reason whenever a root cannot be read; the scene goes on
    // without it.
    using UnreadRoot = std::function<void(const std::string& reason)>;

    // Finds the roots of `osgbPath` and indexes them (reading only those not
    // in `known` with the same size and time), then places the model. Null,
    // with `reason`, when there is no model (the path is missing, holds no
    // root tile, or none of its roots can be read). Every root that cannot be
    // read, now or when required later, is handed to `unreadRoot`.
    static std::unique_ptr<LazyScene> open(const std::string& osgbPath, const std::vector<RootEntry>& known,
                                           std::string& reason, UnreadRoot unreadRoot = nullptr);

    osg::Node* root() const { return root_.get(); }
    // The origin that was read (with the model's SRS text) and the model's
    // identity, as loadScene gives them.
    const SceneOrigin& origin() const { return origin_; }
    const ModelIdentity& identity() const { return identity_; }
    // The graph of the roots as read (see above).
    osg::Node* rootsAsRead() const { return asRead_.get(); }
    const std::vector<RootEntry>& entries() const { return entries_; }
    const RootGrid& grid() const { return *grid_; }
    int rootsReadForIndex() const { return reread_; }

    // Loads the roots `needed` (indices into entries()) that are not loaded,
    // then unloads the roots needed longest ago while more than `keep` are
    // loaded (a root in `needed` is never unloaded). Each newly attached
    // root is handed to `attached` (so a database pager can take it on).
    void require(const std::vector<std::size_t>& needed, std::size_t keep,
                 const std::function<void(osg::Node&)>& attached = nullptr);
    std::size_t loadedCount() const { return loaded_.size(); }
    // Roots read so far (a root read again after unloading counts again).
    std::size_t loadsDone() const { return loads_; }

private:
    LazyScene() = default;
    bool load(std::size_t index);
    void unload(std::size_t index);
    void reportUnread(const std::string& path) const;

    std::vector<RootEntry> entries_;
    std::vector<std::size_t> slotOf_;  // entry -> slot index, or npos
    osg::ref_ptr<osg::Group> group_;
    osg::ref_ptr<osg::Node> root_;
    osg::ref_ptr<osg::Group> asReadGroup_;
    osg::ref_ptr<osg::Node> asRead_;
    osg::ref_ptr<osgDB::Options> options_;
    UnreadRoot unreadRoot_;
    std::unique_ptr<RootGrid> grid_;
    SceneOrigin origin_;
    ModelIdentity identity_;
    std::vector<std::size_t> loaded_;  // entry indices, least recently needed first
    std::vector<std::uint64_t> lastNeed_;  // per entry: the require() call that last needed it
    std::uint64_t calls_ = 0;
    std::size_t loads_ = 0;
    int reread_ = 0;
};

}  // namespace vistrel
