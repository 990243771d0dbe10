#pragma once

#include "model/ModelSource.h"
#include "model/SceneOrigin.h"

#include <osg/Node>
#include <osg/ref_ptr>

#include <string>
#include <vector>

namespace vistrel {

// The whole model read at once, for tools, tests and benchmarks: the scene a
// LazyScene builds with every root loaded. A run reads roots on demand
// instead (app/ShardScene).
//
// `scene` is null when nothing could be loaded, and `reason` says why;
// `unreadRoots` holds the reason for each root that could not be read, or
// whose bound cannot place it (checkRootBound in RootIndex.h), while loading
// went on with the others.
struct SceneLoad {
    osg::ref_ptr<osg::Node> scene;
    std::string reason;
    std::vector<std::string> unreadRoots;
    ModelIdentity identity;  // left empty unless asked for
    SceneOrigin origin;  // the origin that was read, with the model's SRS text
};

// Loads every root of the model at `path` (any path openModelSource takes),
// placed at the model origin, and with `identify` the model's identity.
// File-system failures other than "not found" throw filesystem_error.
SceneLoad loadModel(const std::string& path, bool identify = true);

// The scene alone (null when nothing could be loaded).
osg::ref_ptr<osg::Node> loadScene(const std::string& path);

}  // namespace vistrel
