#include "model/SceneLoader.h"

#include "model/LazyScene.h"

#include <numeric>

namespace vistrel {

SceneLoad loadModel(const std::string& path, bool identify)
{
    SceneLoad load;
    std::unique_ptr<ModelSource> source = openModelSource(path, ModelOptions(), load.reason);
    if (!source) {
        return load;
    }
    const auto notice = [&load](LazyScene::Notice, const std::string& why) { load.unreadRoots.push_back(why); };
    std::unique_ptr<LazyScene> scene = LazyScene::open(std::move(source), {}, load.reason, notice);
    if (!scene) {
        return load;
    }
    std::vector<std::size_t> all(scene->entries().size());
    std::iota(all.begin(), all.end(), std::size_t(0));
    scene->require(all, all.size());
    load.scene = scene->root();
    load.origin = scene->origin();
    if (identify) {
        load.identity = scene->identity();
    }
    return load;
}

osg::ref_ptr<osg::Node> loadScene(const std::string& path)
{
    return loadModel(path, false).scene;
}

}  // namespace vistrel
