#include "model/OsgbSource.h"

#include "core/RunProtocol.h"
#include "model/ModelPath.h"
#include "model/OsgNoticeLog.h"
#include "model/SceneOrigin.h"
#include "model/TileReadCallback.h"

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

RootEntry readRootEntry(const fs::path& root, const osgDB::Options* options)
{
    RootEntry entry;
    entry.path = root.string();
    if (!rootFileStamp(root, entry.size, entry.mtime)) {
        return entry;  // gone or unreadable: never loaded
    }
    osg::ref_ptr<osgDB::Options> local = options ? options->cloneOptions() : new osgDB::Options;
    local->setObjectCacheHint(osgDB::Options::CACHE_NONE);
    local->getDatabasePathList().push_back(root.parent_path().string());
    const osg::ref_ptr<osg::Node> node = osgDB::readRefNodeFile(entry.path, local.get());
    entry.readable = node.valid();
    if (node.valid()) {
        entry.bound = node->getBound();
    }
    return entry;
}

std::unique_ptr<OsgbSource> OsgbSource::open(const std::string& path, std::string& reason)
{
    installOsgNoticeLog();
    setupPluginPath();
    if (!existsOrThrow(fs::path(path))) {
        reason = runMessage(RunMessage::OsgbPathMissing, {path});
        return nullptr;
    }
    const std::vector<fs::path> roots = findRootOsgbFiles(fs::path(path));
    if (roots.empty()) {
        reason = runMessage(RunMessage::NoRootTiles, {path});
        return nullptr;
    }
    installTileReadCallback();
    osgDB::Registry::instance()->setBuildKdTreesHint(osgDB::Options::BUILD_KDTREES);
    std::unique_ptr<OsgbSource> source(new OsgbSource);
    source->given_ = path;
    source->path_ = fs::path(path);
    for (const fs::path& root : roots) {
        source->roots_.push_back(root.string());
    }
    source->options_ = new osgDB::Options;
    source->options_->setObjectCacheHint(osgDB::Options::CACHE_ALL);
    source->origin_ = readSceneOrigin(source->path_);
    return source;
}

bool OsgbSource::rootStamp(const std::string& root, std::uintmax_t& size, std::int64_t& mtime) const
{
    return rootFileStamp(fs::path(root), size, mtime);
}

RootEntry OsgbSource::readEntry(const std::string& root) const
{
    return readRootEntry(fs::path(root), options_.get());
}

osg::ref_ptr<osg::Node> OsgbSource::readRoot(const std::string& root, std::string& reason) const
{
    // Finer levels are paged from the root's own folder.
    options_->getDatabasePathList().assign(1, fs::path(root).parent_path().string());
    osg::ref_ptr<osg::Node> node = osgDB::readRefNodeFile(root, options_.get());
    if (!node.valid()) {
        reason = runMessage(RunMessage::SceneReadFailed, {root});
    }
    return node;
}

void OsgbSource::forget(const std::string& root) const
{
    osgDB::Registry::instance()->removeFromObjectCache(root, options_.get());
}

ModelIdentity OsgbSource::identity() const
{
    std::vector<fs::path> roots(roots_.begin(), roots_.end());
    return modelIdentityOf(path_, roots, origin_);
}

}  // namespace vistrel
