#include "model/LazyScene.h"

#include "core/Logger.h"
#include "core/NumberText.h"
#include "core/RunProtocol.h"
#include "model/RootGrid.h"
#include "model/TileReadLedger.h"

#include <osg/MatrixTransform>

#include <algorithm>
#include <system_error>

namespace vistrel {

namespace {

constexpr std::size_t kNoSlot = static_cast<std::size_t>(-1);

std::string boundText(const osg::BoundingSphere& bound)
{
    return "centre (" + coordinateNumber(bound.center().x()) + ", " + coordinateNumber(bound.center().y()) + ", " +
           coordinateNumber(bound.center().z()) + "), radius " + coordinateNumber(bound.radius());
}

std::string wrongEntry(const std::string& path, const osg::BoundingSphere& indexed, const osg::BoundingSphere& actual)
{
    return runMessage(RunMessage::RootIndexEntryWrong,
                      {path, "indexed " + boundText(indexed) + "; the file gives " + boundText(actual)});
}

}  // namespace

void logSceneBound(const osg::Node& scene)
{
    const osg::BoundingSphere& bound = scene.getBound();
    Logger::instance().info("Scene loaded. Bound center=(" + printfNumber(bound.center().x()) + ", " +
                            printfNumber(bound.center().y()) + ", " + printfNumber(bound.center().z()) +
                            "), radius=" + printfNumber(bound.radius()));
}

std::unique_ptr<LazyScene> LazyScene::open(std::unique_ptr<ModelSource> source, const std::vector<RootEntry>& known,
                                           std::string& reason, RootNotice notice)
{
    std::unique_ptr<LazyScene> scene(new LazyScene);
    scene->source_ = std::move(source);
    scene->notice_ = std::move(notice);
    RootIndexing indexing = indexRoots(*scene->source_, known);
    scene->entries_ = std::move(indexing.entries);
    scene->takenOver_ = std::move(indexing.takenOver);
    scene->reread_ = indexing.reread;
    scene->checkTakenOver();
    scene->buildSlots();
    if (scene->group_->getNumChildren() == 0) {
        reason = runMessage(RunMessage::NoSceneLoaded, {scene->source_->modelPath()});
        return nullptr;
    }

    scene->root_ = scene->group_;
    scene->asRead_ = scene->asReadGroup_;
    const SceneOrigin& origin = scene->source_->origin();
    scene->identity_ = scene->source_->identity();
    if (origin.valid) {
        osg::ref_ptr<osg::MatrixTransform> transform = new osg::MatrixTransform;
        transform->setMatrix(osg::Matrixd::translate(origin.x, origin.y, origin.z));
        transform->addChild(scene->group_.get());
        scene->root_ = transform;
        osg::ref_ptr<osg::MatrixTransform> asRead = new osg::MatrixTransform(transform->getMatrix());
        asRead->addChild(scene->asReadGroup_.get());
        scene->asRead_ = asRead;
        scene->offset_.set(origin.x, origin.y, origin.z);
    }
    scene->grid_ = std::make_unique<RootGrid>(scene->entries_, scene->offset_);

    logSceneBound(*scene->root_);
    return scene;
}

// A few of the roots taken from the index, spread over it, are read now: an
// index that is wrong about one is not trusted for the others.
void LazyScene::checkTakenOver()
{
    std::vector<std::size_t> taken;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (takenOver_[i]) {
            taken.push_back(i);
        }
    }
    const std::size_t checks = std::min(kSpotChecks, taken.size());
    for (std::size_t k = 0; k < checks; ++k) {
        const std::size_t i = taken[k * taken.size() / checks];
        RootEntry read = source_->readEntry(entries_[i].path);
        takenOver_[i] = false;
        ++spotChecked_;
        if (read.readable && boundWithin(read.bound, entries_[i].bound)) {
            continue;
        }
        if (read.readable && placesRoot(read.bound)) {
            tell(Notice::WrongIndexEntry, wrongEntry(read.path, entries_[i].bound, read.bound));
        }
        entries_[i] = std::move(read);
        ++reread_;
        readTakenOverAgain();
        return;
    }
}

std::vector<std::size_t> LazyScene::readTakenOverAgain()
{
    std::vector<std::size_t> changed;
    std::size_t read = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (!takenOver_[i]) {
            continue;
        }
        RootEntry fresh = source_->readEntry(entries_[i].path);
        takenOver_[i] = false;
        ++reread_, ++read;
        if (fresh.readable != entries_[i].readable || !(fresh.bound == entries_[i].bound)) {
            changed.push_back(i);
        }
        entries_[i] = std::move(fresh);
    }
    if (read > 0) {
        Logger::instance().info("Read again the " + std::to_string(read) + " other roots taken from the root index (" +
                                std::to_string(changed.size()) + " changed)");
    }
    return changed;
}

bool LazyScene::placeable(std::size_t index) const
{
    return entries_[index].readable && placesRoot(entries_[index].bound);
}

// Why a root is left out, if it is: it cannot be read, or its bound cannot
// place it. An empty root is left out without a word: it has nothing to draw.
void LazyScene::tellWhyLeftOut(std::size_t index)
{
    const RootEntry& entry = entries_[index];
    std::string why;
    if (!entry.readable) {
        tell(Notice::Unreadable, runMessage(RunMessage::SceneReadFailed, {entry.path}));
    } else if (!checkRootBound(entry.bound, why)) {
        tileledger::rememberUnusableBound(entry.path);
        tell(Notice::UnusableBound, runMessage(RunMessage::RootBoundUnusable, {entry.path, why}));
    }
}

void LazyScene::buildSlots()
{
    group_ = new osg::Group;
    asReadGroup_ = new osg::Group;
    slotOf_.assign(entries_.size(), kNoSlot);
    lastNeed_.assign(entries_.size(), 0);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (!placeable(i)) {
            tellWhyLeftOut(i);
            continue;
        }
        osg::ref_ptr<osg::Group> slot = new osg::Group;
        slot->setInitialBound(entries_[i].bound);
        slotOf_[i] = group_->getNumChildren();
        group_->addChild(slot.get());
        osg::ref_ptr<osg::Group> asReadSlot = new osg::Group;
        asReadSlot->setInitialBound(entries_[i].bound);
        asReadGroup_->addChild(asReadSlot.get());
    }
}

bool LazyScene::load(std::size_t index)
{
    const RootEntry& entry = entries_[index];
    Logger::instance().info("Loading " + source_->formatName() + "/scene: " + entry.path);
    std::string why;
    osg::ref_ptr<osg::Node> node = source_->readRoot(entry.path, why);
    ++loads_;
    if (!node.valid()) {
        tell(Notice::Unreadable, why);
        return false;
    }
    takenOver_[index] = false;
    const osg::BoundingSphere actual = node->getBound();
    if (!boundWithin(actual, entry.bound) && !correct(index, actual)) {
        return false;
    }
    const unsigned slot = static_cast<unsigned>(slotOf_[index]);
    asReadGroup_->getChild(slot)->asGroup()->addChild(node.get());
    osg::ref_ptr<osg::Node> copy = osg::clone(node.get(), osg::CopyOp::DEEP_COPY_NODES);
    group_->getChild(slot)->asGroup()->addChild(copy.get());
    return true;
}

// The root at `index` was read with a bound its entry does not hold: the
// entry takes the bound read, every root still taken from the index is read
// again, and the slots and the grid follow. False when the root is now left
// out.
bool LazyScene::correct(std::size_t index, const osg::BoundingSphere& actual)
{
    RootEntry& entry = entries_[index];
    if (placesRoot(actual)) {
        tell(Notice::WrongIndexEntry, wrongEntry(entry.path, entry.bound, actual));
    }
    entry.bound = actual;
    std::vector<std::size_t> changed = readTakenOverAgain();
    changed.push_back(index);
    for (const std::size_t i : changed) {
        refreshSlot(i);
    }
    grid_ = std::make_unique<RootGrid>(entries_, offset_);
    ++revision_;
    return slotOf_[index] != kNoSlot;
}

// The slot of a root whose entry changed takes its new bound; a root that
// can no longer be placed loses its slot (an empty group that bounds nothing).
void LazyScene::refreshSlot(std::size_t index)
{
    if (slotOf_[index] == kNoSlot) {
        return;
    }
    const bool keep = placeable(index);
    const osg::BoundingSphere bound = keep ? entries_[index].bound : osg::BoundingSphere();
    for (osg::Group* group : {group_.get(), asReadGroup_.get()}) {
        group->getChild(static_cast<unsigned>(slotOf_[index]))->setInitialBound(bound);
    }
    if (!keep) {
        slotOf_[index] = kNoSlot;
        tellWhyLeftOut(index);
    }
}

void LazyScene::tell(Notice notice, const std::string& reason) const
{
    if (notice_) {
        notice_(notice, reason);
    }
}

void LazyScene::unload(std::size_t index)
{
    for (osg::Group* group : {group_.get(), asReadGroup_.get()}) {
        osg::Group* slot = group->getChild(static_cast<unsigned>(slotOf_[index]))->asGroup();
        slot->removeChildren(0, slot->getNumChildren());
    }
    source_->forget(entries_[index].path);
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
