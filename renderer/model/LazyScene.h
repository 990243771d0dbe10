#pragma once

#include "model/RootGrid.h"
#include "model/RootIndex.h"
#include "model/ModelSource.h"

#include <osg/Group>
#include <osg/Node>
#include <osg/ref_ptr>

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
    // What the scene tells the run about a root, with the reason: it cannot
    // be read, or its bound cannot place it (checkRootBound), and the scene
    // goes on without it; or the index given to open() was wrong about it,
    // and the entry is corrected from the file.
    enum class Notice { Unreadable, UnusableBound, WrongIndexEntry };
    using RootNotice = std::function<void(Notice notice, const std::string& reason)>;

    // Indexes the roots of `source` (reading only those that `known` places
    // with the same stamp; indexRoots), then places the model. An index is not taken on trust: up to kSpotChecks of the
    // roots taken from it are read at once, and every root is compared with
    // its entry when it is loaded. The first entry found wrong makes every
    // root still taken from the index be read again, and the entry is
    // corrected (the grid and the scene's bound follow; revision() grows).
    // What was chosen before by a wrong entry no check had met stays chosen:
    // the spot checks find an index wrong throughout before the first frame.
    // Null, with `reason`, when none of the roots can be read and placed. Each root
    // skipped or corrected, now or when required later, goes to `notice`.
    static std::unique_ptr<LazyScene> open(std::unique_ptr<ModelSource> source, const std::vector<RootEntry>& known,
                                           std::string& reason, RootNotice notice = nullptr);
    static constexpr std::size_t kSpotChecks = 4;

    osg::Node* root() const { return root_.get(); }
    // The origin that was read (with the model's SRS text) and the model's
    // identity, as the source gives them.
    const ModelSource& source() const { return *source_; }
    const SceneOrigin& origin() const { return source_->origin(); }
    const ModelIdentity& identity() const { return identity_; }
    // The graph of the roots as read (see above).
    osg::Node* rootsAsRead() const { return asRead_.get(); }
    const std::vector<RootEntry>& entries() const { return entries_; }
    const RootGrid& grid() const { return *grid_; }
    int rootsReadForIndex() const { return reread_; }
    // Roots taken from the index that open() read to check their entries.
    std::size_t rootsChecked() const { return spotChecked_; }
    // Grows whenever an entry changed after open(): the grid, the slots'
    // bounds and the entries to write are new.
    std::uint64_t revision() const { return revision_; }

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
    void checkTakenOver();
    std::vector<std::size_t> readTakenOverAgain();
    void buildSlots();
    bool load(std::size_t index);
    bool correct(std::size_t index, const osg::BoundingSphere& actual);
    void refreshSlot(std::size_t index);
    void unload(std::size_t index);
    void tellWhyLeftOut(std::size_t index);
    void tell(Notice notice, const std::string& reason) const;
    bool placeable(std::size_t index) const;

    std::unique_ptr<ModelSource> source_;
    std::vector<RootEntry> entries_;
    std::vector<bool> takenOver_;  // per entry: from the index, not read since
    std::vector<std::size_t> slotOf_;  // entry -> slot index, or npos
    osg::ref_ptr<osg::Group> group_;
    osg::ref_ptr<osg::Node> root_;
    osg::ref_ptr<osg::Group> asReadGroup_;
    osg::ref_ptr<osg::Node> asRead_;
    RootNotice notice_;
    std::unique_ptr<RootGrid> grid_;
    osg::Vec3d offset_;  // tile to scene coordinates
    ModelIdentity identity_;
    std::vector<std::size_t> loaded_;  // entry indices, least recently needed first
    std::vector<std::uint64_t> lastNeed_;  // per entry: the require() call that last needed it
    std::uint64_t calls_ = 0;
    std::size_t loads_ = 0;
    int reread_ = 0;
    std::size_t spotChecked_ = 0;
    std::uint64_t revision_ = 0;
};

// Logs the "Scene loaded" line with the bound of a model just placed.
void logSceneBound(const osg::Node& scene);

}  // namespace vistrel
