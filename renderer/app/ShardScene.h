#pragma once

#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"
#include "model/LazyScene.h"
#include "render/OffscreenRenderer.h"

#include <osg/Node>

#include <memory>
#include <string>
#include <vector>

namespace vistrel {

// What the run asks of the model source.
ModelOptions modelOptionsOf(const RenderConfig& config);

// Where the index of the model's roots is kept between runs.
std::string rootIndexCachePath(const std::string& outputDir);
// The entries of the cache, or none when it is missing or damaged.
std::vector<RootEntry> readRootIndexCache(const std::string& outputDir);
// Writes the cache as a staged file; false (nothing changed) on failure.
bool writeRootIndexCache(const std::string& outputDir, const std::vector<RootEntry>& entries);

// The model as one shard of a run sees it: the roots are indexed once (the
// index is cached in the output folder) and each is read only when one of
// the shard's frames needs it: under the frame for its heights, and within
// any view the batch may take of it for its pictures. Roots no frame has
// needed for a while are let go.
class ShardScene {
public:
    // Roots kept loaded beyond those the current frame needs; frames next to
    // each other share most of theirs.
    static constexpr std::size_t kKeptRoots = 256;

    // Null, with the reason logged, when there is no model. Without
    // `writeCache` the cached index is only read, never written (a plan).
    static std::unique_ptr<ShardScene> open(const RenderConfig& config, std::size_t keptRoots = kKeptRoots,
                                            bool writeCache = true);
    ShardScene(const RenderConfig& config, std::unique_ptr<LazyScene> scene, std::size_t keptRoots = kKeptRoots,
               bool writeCache = true);

    osg::Node* root() const { return scene_->root(); }
    LazyScene& lazy() { return *scene_; }
    // Before the frame is rendered: loads the roots under it and measures its
    // heights through them as read (as if sampled before any rendering), then
    // loads every root a view of the frame can show (all camera angles the
    // batch may choose, the vertical pre-check included) and hands the new
    // ones to the renderer's database pager. A root whose bound as loaded
    // corrects the index makes the frame choose its roots again, and the
    // cached index is written anew.
    void prepareFrame(PolygonFrame& frame, OffscreenRenderer& renderer);
    // Once the frame's heights were measured anew: loads the roots its views
    // can show at those heights.
    void prepareViews(const PolygonFrame& frame, OffscreenRenderer& renderer);
    // The roots the views of `frame` can show.
    std::vector<std::size_t> rootsInViewOf(const PolygonFrame& frame) const;

private:
    const RenderConfig& config_;
    std::unique_ptr<LazyScene> scene_;
    std::size_t keptRoots_;
    std::uint64_t writtenRevision_;  // the scene's revision the cached index holds
    bool writeCache_;
};

}  // namespace vistrel
