#include "model/tiles3d/Tiles3dSource.h"

#include "model/TileReadLedger.h"
#include "model/tiles3d/TileContent.h"

#include "core/Logger.h"
#include "core/RegularFile.h"

#include <osg/KdTree>
#include <osg/MatrixTransform>
#include <osg/PagedLOD>
#include <osg/observer_ptr>
#include <osgDB/Callbacks>
#include <osgDB/Registry>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <set>
#include <unordered_map>

namespace fs = std::filesystem;

namespace vistrel {

struct Tiles3dSource::Shared {
    Tileset tileset;
    ModelOptions options;
    ContentLimits limits;
    std::unordered_map<std::string, int> byPath;  // tile paths
    std::unordered_map<std::string, std::pair<int, bool>> roots;  // root name: tile, content only
};

namespace {

constexpr float kNoUpperLimit = 1e30f;
constexpr std::size_t kProblemsTold = 20;
const char* const kChildrenSuffix = "#children";

using Shared = Tiles3dSource::Shared;

std::string tileName(const Shared& s, int tile)
{
    return s.tileset.fileName + "#" + s.tileset.tiles[static_cast<std::size_t>(tile)].path;
}

// The tile whose children the pager asks for by `file`, or -1.
int childrenOf(const Shared& s, const std::string& file)
{
    const std::string prefix = s.tileset.fileName + "#";
    const std::size_t suffix = std::char_traits<char>::length(kChildrenSuffix);
    if (file.size() < prefix.size() + suffix || file.compare(0, prefix.size(), prefix) != 0 ||
        file.compare(file.size() - suffix, suffix, kChildrenSuffix) != 0) {
        return -1;
    }
    const auto found = s.byPath.find(file.substr(prefix.size(), file.size() - prefix.size() - suffix));
    return found == s.byPath.end() ? -1 : found->second;
}

// A feature this build cannot read is told once per kind.
void warnNotReadable(const std::vector<std::string>& kinds, const std::string& file)
{
    static std::mutex mutex;
    static std::set<std::string> told;
    for (const std::string& kind : kinds) {
        bool first = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            first = told.insert(kind).second;
        }
        if (first) {
            Logger::instance().warn("3D Tiles content uses " + kind + ", which this build cannot read (first met in " +
                                    file + "): tiles using it are skipped");
        }
    }
}

// Where content failures met for the first time go: the log for tiles the
// pager reads, the caller for a root (`reasons`).
struct ContentFailures {
    bool quiet = false;
    std::string reasons;

    void add(const std::string& path, const std::string& why)
    {
        reasons += (reasons.empty() ? "" : "; ") + path + ": " + why;
    }
};

void refuse(const std::string& key, const std::string& path, const std::string& why, ContentFailures& failures)
{
    if (!tileledger::rememberRefused(key, path, path)) {
        return;
    }
    if (failures.quiet) {
        failures.add(path, why);
    } else {
        Logger::instance().warn("Skipped damaged 3D Tiles content " + path + ": " + why);
    }
}

bool contentBytes(const std::string& key, const std::string& path, const Shared& s, std::string& bytes,
                  ContentFailures& failures)
{
    switch (readRegularFile(fs::path(path), s.limits.maxFileBytes, bytes)) {
    case FileRead::Read: return true;
    case FileRead::Missing:
        if (tileledger::rememberMissing(key, path)) {
            if (failures.quiet) {
                failures.add(path, "missing");
            } else {
                Logger::instance().warn("Missing 3D Tiles content file: " + path);
            }
        }
        return false;
    case FileRead::TooLarge: refuse(key, path, "larger than the bound on a content file", failures); return false;
    case FileRead::NotRegular: refuse(key, path, "not a regular file", failures); return false;
    default: refuse(key, path, "cannot be read", failures); return false;
    }
}

// One content file as geometry in tile coordinates; null when it is missing
// or refused (remembered, so that it is not read again).
osg::ref_ptr<osg::Node> readContent(const Shared& s, const std::string& file, bool yUp, ContentFailures& failures)
{
    const std::string path = (s.tileset.folder / file).string();
    const std::string key = "3dtiles\n" + path;
    if (tileledger::answeredBefore(key)) {
        return nullptr;
    }
    tileledger::countDiskLookup();
    std::string bytes;
    if (!contentBytes(key, path, s, bytes, failures)) {
        return nullptr;
    }
    ContentContext context;
    context.folder = fs::path(path).parent_path().string();
    context.modelFolder = s.tileset.folder.string();
    context.yUp = yUp;
    context.limits = s.limits;
    DecodedContent decoded = decodeTileContent(bytes, path, context);
    if (!decoded.notReadable.empty()) {
        warnNotReadable(decoded.notReadable, path);
        if (tileledger::rememberRefused(key, path, path) && failures.quiet) {
            failures.add(path, "uses " + decoded.notReadable.front());
        }
        return nullptr;
    }
    if (!decoded.node) {
        refuse(key, path, decoded.reason, failures);
        return nullptr;
    }
    return decoded.node;
}

// What the scene culls a tile by: its bounding volume's sphere with a margin
// of 1 %, since exports let content stray a little beyond its volume (up to
// 0.4 % of the radius measured on a real one). Index entries give the same.
osg::BoundingSphere cullSphere(const TilesetTile& tile)
{
    return osg::BoundingSphere(osg::Vec3(tile.bound.center()), static_cast<float>(tile.bound.radius() * 1.01));
}

// The tile's bounding volume stands for its content's bound, as it does for
// the tiles above it: what the scene culls by is what the tileset says.
class TileBound : public osg::Node::ComputeBoundingSphereCallback {
public:
    explicit TileBound(const osg::BoundingSphere& bound) : bound_(bound) {}
    osg::BoundingSphere computeBound(const osg::Node&) const override { return bound_; }

private:
    osg::BoundingSphere bound_;
};

// The tile's content placed in the scene frame; null when it has none that
// can be read.
osg::ref_ptr<osg::Node> contentNode(const Shared& s, int index, ContentFailures& failures)
{
    const TilesetTile& tile = s.tileset.tiles[static_cast<std::size_t>(index)];
    osg::ref_ptr<osg::MatrixTransform> placed = new osg::MatrixTransform(tile.transform);
    for (const std::string& file : tile.contents) {
        osg::ref_ptr<osg::Node> node = readContent(s, file, tile.yUp, failures);
        if (node) {
            placed->addChild(node.get());
        }
    }
    if (placed->getNumChildren() == 0) {
        return nullptr;
    }
    placed->setName(tileName(s, index));
    placed->setComputeBoundingSphereCallback(new TileBound(cullSphere(tile)));
    return placed;
}

osg::ref_ptr<osg::Node> tileNode(const Shared& s, int index, const osgDB::Options* options, ContentFailures& failures)
{
    const TilesetTile& tile = s.tileset.tiles[static_cast<std::size_t>(index)];
    osg::ref_ptr<osg::Node> content = contentNode(s, index, failures);
    if (tile.children.empty()) {
        return content ? content : osg::ref_ptr<osg::Node>(new osg::Group);
    }
    // A tile with nothing of its own to show always shows its children.
    const osg::BoundingSphere bound = cullSphere(tile);
    const float switchPixels =
        tile.contents.empty() ? 0.0f : refinePixels(bound.radius(), tile.geometricError, s.options.maxScreenSpaceError);
    osg::ref_ptr<osg::PagedLOD> lod = new osg::PagedLOD;
    lod->setName(tileName(s, index));
    lod->setCenterMode(osg::LOD::USER_DEFINED_CENTER);
    lod->setCenter(bound.center());
    lod->setRadius(bound.radius());
    lod->setRangeMode(osg::LOD::PIXEL_SIZE_ON_SCREEN);
    const float contentUntil = tile.refine == Refine::Add ? kNoUpperLimit : switchPixels;
    lod->addChild(content ? content.get() : new osg::Group, 0.0f, contentUntil);
    lod->setFileName(1, tileName(s, index) + kChildrenSuffix);
    lod->setRange(1, switchPixels, kNoUpperLimit);
    lod->setDatabaseOptions(const_cast<osgDB::Options*>(options));
    return lod;
}

// The children of a tile, as the pager reads them.
osg::ref_ptr<osg::Group> childrenNode(const Shared& s, int index, const osgDB::Options* options)
{
    osg::ref_ptr<osg::Group> group = new osg::Group;
    ContentFailures failures;
    for (int child : s.tileset.tiles[static_cast<std::size_t>(index)].children) {
        group->addChild(tileNode(s, child, options, failures).get());
    }
    return group;
}

class ChildrenReading : public osgDB::ReadFileCallback {
public:
    explicit ChildrenReading(std::shared_ptr<const Shared> shared) : shared_(std::move(shared)) {}
    // The options this reading belongs to, for a request that comes without
    // them (held weakly: the options hold the reading).
    void setOwnOptions(osgDB::Options* options) { own_ = options; }

    osgDB::ReaderWriter::ReadResult readNode(const std::string& file, const osgDB::Options* options) override
    {
        const int tile = childrenOf(*shared_, file);
        if (tile < 0) {
            return osgDB::ReaderWriter::ReadResult::FILE_NOT_FOUND;
        }
        osg::ref_ptr<osgDB::Options> own;
        if (!options && own_.lock(own)) {
            options = own.get();
        }
        osg::ref_ptr<osg::Group> group = childrenNode(*shared_, tile, options);
        return group.get();
    }

private:
    std::shared_ptr<const Shared> shared_;
    osg::observer_ptr<osgDB::Options> own_;
};

// The roots: down from `index` until a tile with content is small enough,
// or one has no children; the content of an ADD tile above them is a root of
// its own.
void collectRoots(const Shared& s, int index, std::vector<std::pair<int, bool>>& roots)
{
    const TilesetTile& tile = s.tileset.tiles[static_cast<std::size_t>(index)];
    if (tile.children.empty()) {
        if (!tile.contents.empty()) {
            roots.emplace_back(index, false);
        }
        return;
    }
    // A tile with nothing of its own is passed through: its children are
    // always shown, and a root with content gives the roots as read their
    // surfaces.
    if (tile.bound.radius() < Tiles3dSource::kRootRadius && !tile.contents.empty()) {
        roots.emplace_back(index, false);
        return;
    }
    if (tile.refine == Refine::Add && !tile.contents.empty()) {
        roots.emplace_back(index, true);
    }
    for (int child : tile.children) {
        collectRoots(s, child, roots);
    }
}

void buildKdTrees(osg::Node& node)
{
    osgDB::Registry* registry = osgDB::Registry::instance();
    if (registry->getBuildKdTreesHint() == osgDB::Options::BUILD_KDTREES && registry->getKdTreeBuilder()) {
        osg::ref_ptr<osg::KdTreeBuilder> builder = registry->getKdTreeBuilder()->clone();
        node.accept(*builder);
    }
}

SceneOrigin originOf(const Tileset& tileset)
{
    SceneOrigin origin;
    origin.sourcePath = (tileset.folder / tileset.fileName).string();
    if (!tileset.georeferenced) {
        origin.problem = tileset.fileName + " places the model nowhere on the Earth (no root transform to " +
                         "Earth-centred coordinates, no region)";
        return origin;
    }
    char text[96];
    std::snprintf(text, sizeof text, "ENU:%.9f,%.9f,%.3f", tileset.latitude, tileset.longitude, tileset.height);
    origin.srs = text;
    origin.valid = true;
    return origin;
}

}  // namespace

float refinePixels(double radius, double geometricError, double maxScreenSpaceError)
{
    if (!(geometricError > 0.0)) {
        return kNoUpperLimit;  // exact already: never refined
    }
    const double pixels = 2.0 * radius * maxScreenSpaceError / geometricError;
    return static_cast<float>(std::min(pixels, static_cast<double>(kNoUpperLimit)));
}

Tiles3dSource::~Tiles3dSource() = default;

std::unique_ptr<Tiles3dSource> Tiles3dSource::open(const fs::path& file, const ModelOptions& options,
                                                   std::string& reason, const TilesetLimits& limits)
{
    if (!(options.maxScreenSpaceError > 0.0) || !std::isfinite(options.maxScreenSpaceError)) {
        reason = "the maximum screen-space error must be a positive number of pixels";
        return nullptr;
    }
    auto shared = std::make_shared<Shared>();
    if (!readTileset(file, shared->tileset, reason, limits)) {
        return nullptr;
    }
    shared->options = options;
    const Tileset& tileset = shared->tileset;
    for (std::size_t i = 0; i < tileset.tiles.size(); ++i) {
        shared->byPath.emplace(tileset.tiles[i].path, static_cast<int>(i));
    }
    std::vector<std::pair<int, bool>> roots;
    collectRoots(*shared, 0, roots);
    std::unique_ptr<Tiles3dSource> source(new Tiles3dSource);
    for (const auto& [tile, contentOnly] : roots) {
        const std::string name = tileName(*shared, tile) + (contentOnly ? ":content" : "");
        shared->roots.emplace(name, std::make_pair(tile, contentOnly));
        source->roots_.push_back(name);
    }
    if (source->roots_.empty()) {
        reason = tileset.fileName + ": no tile with content";
        return nullptr;
    }
    for (const std::string& index : tileset.indexFiles) {
        std::uintmax_t size = 0;
        std::int64_t time = 0;
        if (rootFileStamp(tileset.folder / index, size, time)) {
            source->stampSize_ += size;
            source->stampTime_ = std::max(source->stampTime_, time);
        }
    }
    source->origin_ = originOf(tileset);
    source->options_ = new osgDB::Options;
    source->options_->setObjectCacheHint(osgDB::Options::CACHE_NONE);
    osg::ref_ptr<ChildrenReading> reading = new ChildrenReading(shared);
    reading->setOwnOptions(source->options_.get());
    source->options_->setReadFileCallback(reading.get());
    source->shared_ = std::move(shared);
    return source;
}

const std::vector<std::string>& Tiles3dSource::problems() const
{
    return shared_->tileset.problems;
}

const Tileset& Tiles3dSource::tileset() const
{
    return shared_->tileset;
}

int Tiles3dSource::rootTile(const std::string& root, bool& contentOnly) const
{
    const auto found = shared_->roots.find(root);
    if (found == shared_->roots.end()) {
        return -1;
    }
    contentOnly = found->second.second;
    return found->second.first;
}

bool Tiles3dSource::rootStamp(const std::string& root, std::uintmax_t& size, std::int64_t& mtime) const
{
    bool contentOnly = false;
    if (rootTile(root, contentOnly) < 0) {
        return false;
    }
    size = stampSize_;
    mtime = stampTime_;
    return true;
}

RootEntry Tiles3dSource::readEntry(const std::string& root) const
{
    RootEntry entry;
    entry.path = root;
    bool contentOnly = false;
    const int tile = rootTile(root, contentOnly);
    if (tile < 0) {
        return entry;
    }
    entry.size = stampSize_;
    entry.mtime = stampTime_;
    entry.readable = true;
    entry.bound = cullSphere(shared_->tileset.tiles[static_cast<std::size_t>(tile)]);
    return entry;
}

osg::ref_ptr<osg::Node> Tiles3dSource::readRoot(const std::string& root, std::string& reason) const
{
    bool contentOnly = false;
    const int tile = rootTile(root, contentOnly);
    if (tile < 0) {
        reason = root + ": no such tile";
        return nullptr;
    }
    ContentFailures failures;
    failures.quiet = true;
    osg::ref_ptr<osg::Node> node;
    if (contentOnly || shared_->tileset.tiles[static_cast<std::size_t>(tile)].children.empty()) {
        node = contentNode(*shared_, tile, failures);
    } else {
        node = tileNode(*shared_, tile, options_.get(), failures);
    }
    if (!node) {
        reason = failures.reasons.empty() ? root + ": its content cannot be read (told before)" : failures.reasons;
        return nullptr;
    }
    if (!failures.reasons.empty()) {
        // The children still render; the content of the root itself is told.
        Logger::instance().warn("Skipped damaged 3D Tiles content of " + root + ": " + failures.reasons);
    }
    buildKdTrees(*node);
    return node;
}

void Tiles3dSource::forget(const std::string&) const
{
}

ModelIdentity Tiles3dSource::identity() const
{
    const Tileset& tileset = shared_->tileset;
    ModelIdentity identity;
    identity.originFile = tileset.fileName;
    const fs::path file = tileset.folder / tileset.fileName;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        hashOpenFile(fd, identity.origin);
        ::close(fd);
    }
    for (const std::string& name : tileset.files) {
        RootTileStamp stamp;
        stamp.name = name;
        std::error_code ec;
        const fs::path path = tileset.folder / name;
        stamp.size = fs::file_size(path, ec);
        if (ec) {
            stamp.size = 0;
        }
        const auto modified = fs::last_write_time(path, ec);
        if (!ec) {
            stamp.modified = static_cast<long long>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count());
        }
        identity.roots.push_back(std::move(stamp));
    }
    return identity;
}

std::unique_ptr<ModelSource> openTiles3dSource(const std::string& path, const ModelOptions& options,
                                               std::string& reason)
{
    std::error_code ec;
    fs::path file(path);
    if (fs::is_directory(file, ec)) {
        file /= "tileset.json";
    }
    if (!fs::is_regular_file(file, ec)) {
        reason = "no tileset file at " + file.string();
        return nullptr;
    }
    std::unique_ptr<Tiles3dSource> source = Tiles3dSource::open(file, options, reason);
    if (!source) {
        return nullptr;
    }
    source->given_ = path;
    reason.clear();
    // Told as damaged tiles are: once, and the rest of the model renders.
    const std::vector<std::string>& problems = source->problems();
    const std::size_t told = std::min<std::size_t>(problems.size(), kProblemsTold);
    for (std::size_t i = 0; i < told; ++i) {
        Logger::instance().warn("Skipped part of the 3D Tiles model " + file.string() + ": " + problems[i]);
    }
    if (problems.size() > told) {
        Logger::instance().warn(std::to_string(problems.size() - told) + " more parts of " + file.string() +
                                " skipped");
    }
    return source;
}

}  // namespace vistrel
