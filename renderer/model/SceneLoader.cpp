#include "model/SceneLoader.h"

#include "core/Logger.h"
#include "core/NumberText.h"
#include "core/RunProtocol.h"
#include "model/ModelPath.h"
#include "model/OsgNoticeLog.h"
#include "model/RootIndex.h"
#include "model/TileReadCallback.h"
#include "model/TileReadLedger.h"

#include <osg/Group>
#include <osg/MatrixTransform>
#include <osgDB/Options>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <algorithm>
#include <chrono>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#ifndef VISTREL_OSG_PLUGIN_DIR
#define VISTREL_OSG_PLUGIN_DIR ""
#endif
#ifndef VISTREL_OSG_VERSION
#define VISTREL_OSG_VERSION "3.6.5"
#endif

namespace fs = std::filesystem;

namespace vistrel {

namespace {

bool existsOrThrow(const fs::path& path)
{
    return fs::exists(statusOrThrow(path, "exists"));
}

// Calls `visit` for every entry of `folder` in listing order.
template <typename Visit>
void forEachEntry(const fs::path& folder, Visit visit)
{
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        throw fs::filesystem_error("directory_iterator::directory_iterator", folder, ec);
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;
        }
        if (!visit(*it)) {
            return;
        }
    }
    if (ec) {
        throw fs::filesystem_error("directory_iterator::operator++", folder, ec);
    }
}

}  // namespace

void setupPluginPath()
{
    const std::string folderName = std::string("osgPlugins-") + VISTREL_OSG_VERSION;
    std::vector<fs::path> candidates;
    std::error_code ec;
    const fs::path cwd = fs::current_path(ec);
    if (!ec) {
        candidates.push_back(cwd / "plugins" / folderName);
    }
    candidates.push_back(fs::path(VISTREL_OSG_PLUGIN_DIR));

    osgDB::FilePathList& list = osgDB::Registry::instance()->getLibraryFilePathList();
    for (const auto& candidate : candidates) {
        if (candidate.empty() || !fs::exists(candidate, ec)) {
            continue;
        }
        const std::string text = candidate.generic_string();
        if (text.empty() || std::find(list.begin(), list.end(), text) != list.end()) {
            continue;
        }
        list.push_back(text);
    }
}

fs::path findTileRootFile(const fs::path& folderIn)
{
    const fs::path folder = withoutTrailingSeparator(folderIn);
    const fs::path named = folder / (folder.filename().string() + ".osgb");
    if (existsOrThrow(named)) {
        return named;
    }
    const fs::path data = folder / "Data.osgb";
    if (existsOrThrow(data)) {
        return data;
    }
    fs::path found;
    forEachEntry(folder, [&found](const fs::directory_entry& entry) {
        std::error_code ec;
        if (!entry.is_regular_file(ec) || ec) {
            return true;
        }
        const fs::path& p = entry.path();
        if (p.extension().string() != ".osgb") {
            return true;
        }
        if (p.filename().string().find("_dsm_alias") != std::string::npos) {
            return true;
        }
        found = p;
        return false;
    });
    return found;
}

std::vector<fs::path> findRootOsgbFiles(const fs::path& pathIn)
{
    const fs::path path = withoutTrailingSeparator(pathIn);
    const fs::file_status status = statusOrThrow(path, "status");
    if (!fs::is_directory(status)) {
        return {path};
    }
    const fs::path tileRoot = findTileRootFile(path);
    if (!tileRoot.empty()) {
        return {tileRoot};
    }
    const fs::path data = path / "Data";
    if (fs::is_directory(statusOrThrow(data, "status"))) {
        return findRootOsgbFiles(data);
    }
    std::vector<fs::path> roots;
    forEachEntry(path, [&roots](const fs::directory_entry& entry) {
        std::error_code ec;
        const fs::file_status entryStatus = entry.status(ec);
        if (ec) {
            throw fs::filesystem_error("directory_entry::status", entry.path(), ec);
        }
        if (fs::is_directory(entryStatus)) {
            fs::path root = findTileRootFile(entry.path());
            if (!root.empty()) {
                roots.push_back(root);
            }
        }
        return true;
    });
    return roots;
}

ModelIdentity modelIdentityOf(const fs::path& model, const std::vector<fs::path>& roots, const SceneOrigin& origin)
{
    ModelIdentity identity;
    for (const fs::path& root : roots) {
        std::error_code ec;
        RootTileStamp stamp;
        stamp.name = root.lexically_relative(model).generic_string();
        if (stamp.name.empty() || stamp.name == ".") {
            stamp.name = root.filename().string();  // the model is this one file
        }
        stamp.size = fs::file_size(root, ec);
        const auto modified = fs::last_write_time(root, ec);
        stamp.modified = static_cast<long long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count());
        identity.roots.push_back(std::move(stamp));
    }
    if (origin.valid && !origin.sourcePath.empty()) {
        identity.originFile = fs::path(origin.sourcePath).filename().string();
        const int fd = ::open(origin.sourcePath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            hashOpenFile(fd, identity.origin);
            ::close(fd);
        }
    }
    return identity;
}

std::vector<fs::path> prepareModelRoots(const std::string& osgbPath, std::string& reason)
{
    installOsgNoticeLog();
    setupPluginPath();
    const fs::path path(osgbPath);
    if (!existsOrThrow(path)) {
        reason = runMessage(RunMessage::OsgbPathMissing, {osgbPath});
        return {};
    }
    std::vector<fs::path> roots = findRootOsgbFiles(path);
    if (roots.empty()) {
        reason = runMessage(RunMessage::NoRootTiles, {osgbPath});
        return {};
    }
    installTileReadCallback();
    osgDB::Registry::instance()->setBuildKdTreesHint(osgDB::Options::BUILD_KDTREES);
    return roots;
}

void logSceneBound(const osg::Node& scene)
{
    const osg::BoundingSphere& bound = scene.getBound();
    Logger::instance().info("Scene loaded. Bound center=(" + printfNumber(bound.center().x()) + ", " +
                            printfNumber(bound.center().y()) + ", " + printfNumber(bound.center().z()) +
                            "), radius=" + printfNumber(bound.radius()));
}

SceneLoad loadModel(const std::string& osgbPath, bool identify)
{
    SceneLoad load;
    const fs::path path(osgbPath);
    const std::vector<fs::path> roots = prepareModelRoots(osgbPath, load.reason);
    if (roots.empty()) {
        return load;
    }
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options;
    options->setObjectCacheHint(osgDB::Options::CACHE_ALL);
    osg::ref_ptr<osg::Group> group = new osg::Group;

    for (const auto& root : roots) {
        const std::string file = root.string();
        options->getDatabasePathList().push_back(root.parent_path().string());
        Logger::instance().info("Loading OSGB/scene: " + file);
        osg::ref_ptr<osg::Node> node = osgDB::readRefNodeFile(file, options.get());
        std::string why;
        if (!node.valid()) {
            load.unreadRoots.push_back(runMessage(RunMessage::SceneReadFailed, {file}));
        } else if (!checkRootBound(node->getBound(), why)) {
            tileledger::rememberUnusableBound(file);
            load.unreadRoots.push_back(runMessage(RunMessage::RootBoundUnusable, {file, why}));
        } else {
            group->addChild(node.get());
        }
    }
    if (group->getNumChildren() == 0) {
        load.reason = runMessage(RunMessage::NoSceneLoaded, {osgbPath});
        return load;
    }

    load.scene = group;
    load.origin = readSceneOrigin(path);
    if (identify) {
        load.identity = modelIdentityOf(path, roots, load.origin);
    }
    if (load.origin.valid) {
        osg::ref_ptr<osg::MatrixTransform> transform = new osg::MatrixTransform;
        transform->setMatrix(osg::Matrixd::translate(load.origin.x, load.origin.y, load.origin.z));
        transform->addChild(group.get());
        load.scene = transform;
    }
    logSceneBound(*load.scene);
    return load;
}

osg::ref_ptr<osg::Node> loadScene(const std::string& osgbPath)
{
    return loadModel(osgbPath, false).scene;
}

}  // namespace vistrel
