#include "geodata/LazyScene.h"

#include "core/Logger.h"
#include "core/RunProtocol.h"
#include "geodata/SceneLoader.h"
#include "geodata/TileReadCallback.h"

#include <osg/MatrixTransform>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <algorithm>
#include <system_error>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

constexpr std::size_t kNoSlot = static_cast<std::size_t>(-1);

}  // namespace

std::unique_ptr<LazyScene> LazyScene::open(const std::string& osgbPath, const std::vector<RootEntry>& known,
                                           std::string& reason, UnreadRoot unreadRoot)
{
    const fs::path path(osgbPath);
    const std::vector<fs::path> roots = prepareModelRoots(osgbPath, reason);
    if (roots.empty()) {
        return nullptr;
    }

    std::unique_ptr<LazyScene> scene(new LazyScene);
    scene->unreadRoot_ = std::move(unreadRoot);
    scene->options_ = new osgDB::Options;
    scene->options_->setObjectCacheHint(osgDB::Options::CACHE_ALL);
    scene->entries_ = indexRoots(roots, known, scene->options_.get(), scene->reread_);
    scene->group_ = new osg::Group;
    scene->asReadGroup_ = new osg::Group;
    scene->slotOf_.assign(scene->entries_.size(), kNoSlot);
    scene->lastNeed_.assign(scene->entries_.size(), 0);
    for (std::size_t i = 0; i < scene->entries_.size(); ++i) {
        const RootEntry& entry = scene->entries_[i];
        if (!entry.readable) {
            scene->reportUnread(entry.path);
            continue;
        }
        osg::ref_ptr<osg::Group> slot = new osg::Group;
        slot->setInitialBound(entry.bound);
        scene->slotOf_[i] = scene->group_->getNumChildren();
        scene->group_->addChild(slot.get());
        osg::ref_ptr<osg::Group> asReadSlot = new osg::Group;
        asReadSlot->setInitialBound(entry.bound);
        scene->asReadGroup_->addChild(asReadSlot.get());
    }
    if (scene->group_->getNumChildren() == 0) {
        reason = runMessage(RunMessage::NoSceneLoaded, {osgbPath});
        return nullptr;
    }

    scene->root_ = scene->group_;
    scene->asRead_ = scene->asReadGroup_;
    osg::Vec3d offset;
    const SceneOrigin origin = readSceneOrigin(path);
    scene->origin_ = origin;
    scene->identity_ = modelIdentityOf(path, roots, origin);
    if (origin.valid) {
        osg::ref_ptr<osg::MatrixTransform> transform = new osg::MatrixTransform;
        transform->setMatrix(osg::Matrixd::translate(origin.x, origin.y, origin.z));
        transform->addChild(scene->group_.get());
        scene->root_ = transform;
        osg::ref_ptr<osg::MatrixTransform> asRead = new osg::MatrixTransform(transform->getMatrix());
        asRead->addChild(scene->asReadGroup_.get());
        scene->asRead_ = asRead;
        offset.set(origin.x, origin.y, origin.z);
    }
    scene->grid_ = std::make_unique<RootGrid>(scene->entries_, offset);

    logSceneBound(*scene->root_);
    return scene;
}

bool LazyScene::load(std::size_t index)
{
    const RootEntry& entry = entries_[index];
    osgDB::FilePathList& paths = options_->getDatabasePathList();
    paths.assign(1, fs::path(entry.path).parent_path().string());
    Logger::instance().info("Loading OSGB/scene: " + entry.path);
    osg::ref_ptr<osg::Node> node = osgDB::readRefNodeFile(entry.path, options_.get());
    ++loads_;
    if (!node.valid()) {
        reportUnread(entry.path);
        return false;
    }
    const unsigned slot = static_cast<unsigned>(slotOf_[index]);
    asReadGroup_->getChild(slot)->asGroup()->addChild(node.get());
    osg::ref_ptr<osg::Node> copy = osg::clone(node.get(), osg::CopyOp::DEEP_COPY_NODES);
    group_->getChild(slot)->asGroup()->addChild(copy.get());
    return true;
}

void LazyScene::reportUnread(const std::string& path) const
{
    if (unreadRoot_) {
        unreadRoot_(runMessage(RunMessage::SceneReadFailed, {path}));
    }
}

void LazyScene::unload(std::size_t index)
{
    for (osg::Group* group : {group_.get(), asReadGroup_.get()}) {
        osg::Group* slot = group->getChild(static_cast<unsigned>(slotOf_[index]))->asGroup();
        slot->removeChildren(0, slot->getNumChildren());
    }
    osgDB::Registry::instance()->removeFromObjectCache(entries_[index].path, options_.get());
}

void LazyScene::require(const std::vector<std::size_t>& needed, std::size_t keep,
                        const std::function<void(osg::Node&)>& attached)
{
    ++calls_;
    for (const std::size_t index : needed) {
        if (index >= entries_.size() || slotOf_[index] == kNoSlot) {
            continue;
        }
        lastNeed_[index] = calls_;
        const auto it = std::find(loaded_.begin(), loaded_.end(), index);
        if (it != loaded_.end()) {
            loaded_.erase(it);
            loaded_.push_back(index);
            continue;
        }
        if (load(index)) {
            loaded_.push_back(index);
            if (attached) {
                attached(*group_->getChild(static_cast<unsigned>(slotOf_[index])));
            }
        }
    }
    while (loaded_.size() > keep && lastNeed_[loaded_.front()] != calls_) {
        unload(loaded_.front());
        loaded_.erase(loaded_.begin());
    }
}

}  // namespace vistrel
