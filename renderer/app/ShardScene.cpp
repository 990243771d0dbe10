#include "app/ShardScene.h"

#include "core/Logger.h"
#include "core/PathBelow.h"
#include "model/FrameHeights.h"
#include "model/RootGrid.h"
#include "output/StagedFile.h"
#include "render/FrameCamera.h"
#include "render/OcclusionAvoidance.h"

#include <osgDB/DatabasePager>
#include <osgViewer/View>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <filesystem>
#include <set>

#include <unistd.h>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

// An index file larger than this is not one of ours.
constexpr std::uintmax_t kMaxCacheBytes = std::uintmax_t(256) << 20;

ViewPrism prismOf(const CameraSetup& setup)
{
    return ViewPrism{setup.eye, setup.center, setup.up, setup.orthoWidth, setup.orthoHeight};
}

// A root that could not be read (an ERROR), or that is left out for its
// bound or was indexed wrongly (a WARN): the scene goes on.
void logRootNotice(LazyScene::Notice notice, const std::string& reason)
{
    if (notice == LazyScene::Notice::Unreadable) {
        Logger::instance().error(reason);
    } else {
        Logger::instance().warn(reason);
    }
}

// A frame's roots are chosen again when loading them corrected the index;
// after the last pass the choice stands.
constexpr int kSelectionPasses = 3;

}  // namespace

std::string rootIndexCachePath(const std::string& outputDir)
{
    return (fs::path(outputDir) / ".vistrel" / "root-index.txt").string();
}

std::vector<RootEntry> readRootIndexCache(const std::string& outputDir)
{
    std::vector<RootEntry> entries;
    const fs::path path = rootIndexCachePath(outputDir);
    // Read only when reached without symbolic links, as the journal is.
    std::string why;
    const int fd = openRegularBelow(outputDir, path.string(), why);
    if (fd < 0) {
        return entries;
    }
    std::string text;
    char chunk[1 << 16];
    for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0 && text.size() <= kMaxCacheBytes;) {
        text.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    if (text.size() > kMaxCacheBytes || !decodeRootIndex(text, entries)) {
        entries.clear();
        Logger::instance().warn("Ignored a damaged root index: " + path.string());
    }
    return entries;
}

bool writeRootIndexCache(const std::string& outputDir, const std::vector<RootEntry>& entries)
{
    const fs::path path = rootIndexCachePath(outputDir);
    std::error_code ec;
    std::string link;
    try {
        link = makeFolderBelow(path.parent_path(), outputDir);
    } catch (const fs::filesystem_error& e) {
        ec = e.code();
    }
    if (!link.empty()) {
        Logger::instance().warn("Did not write the root index through a symbolic link: " + link);
        return false;
    }
    const std::string text = encodeRootIndex(entries);
    StagedFile file(path.string());
    if (ec || !file.open() || std::fwrite(text.data(), 1, text.size(), file.stream()) != text.size() ||
        !file.commit()) {
        Logger::instance().warn("Could not write the root index " + path.string() + ": " +
                                (ec ? ec.message() : file.error()));
        return false;
    }
    return true;
}

ModelOptions modelOptionsOf(const RenderConfig& config)
{
    ModelOptions options;
    options.maxScreenSpaceError = config.max_screen_space_error;
    return options;
}

std::unique_ptr<ShardScene> ShardScene::open(const RenderConfig& config, std::size_t keptRoots, bool writeCache)
{
    const std::vector<RootEntry> known = readRootIndexCache(config.output_dir);
    std::string reason;
    std::unique_ptr<ModelSource> source = openModelSource(config.osgb_path, modelOptionsOf(config), reason);
    std::unique_ptr<LazyScene> scene =
        source ? LazyScene::open(std::move(source), known, reason, logRootNotice) : nullptr;
    if (!scene) {
        Logger::instance().error(reason);
        return nullptr;
    }
    Logger::instance().info("Root index: " + std::to_string(scene->entries().size()) + " roots, " +
                            std::to_string(scene->rootsReadForIndex()) + " read for it, " +
                            std::to_string(scene->rootsChecked()) + " checked against their files");
    if (writeCache && (scene->rootsReadForIndex() > 0 || known.size() != scene->entries().size())) {
        writeRootIndexCache(config.output_dir, scene->entries());
    }
    return std::make_unique<ShardScene>(config, std::move(scene), keptRoots, writeCache);
}

ShardScene::ShardScene(const RenderConfig& config, std::unique_ptr<LazyScene> scene, std::size_t keptRoots,
                       bool writeCache)
    : config_(config), scene_(std::move(scene)), keptRoots_(keptRoots), writtenRevision_(scene_->revision()),
      writeCache_(writeCache)
{
}

std::vector<std::size_t> ShardScene::rootsInViewOf(const PolygonFrame& frame) const
{
    const FrameCamera camera(config_);
    std::vector<CameraSetup> setups;
    try {
        setups.push_back(camera.computeSetup(frame, "top"));
        for (const std::string& angle : config_.angles) {
            if (angle == "top" || angle == "top_range") {
                continue;
            }
            setups.push_back(camera.computeSetup(frame, angle));
            if (config_.avoid_occlusion) {
                for (const int viewAngle : candidateViewAngles(config_.oblique_view_angle)) {
                    setups.push_back(camera.computeSetupWithViewAngle(frame, angle, viewAngle));
                }
            }
        }
    } catch (const std::exception&) {
        // A frame without a placement renders nothing; what was placed counts.
    }
    std::set<std::size_t> roots;
    for (const CameraSetup& setup : setups) {
        const std::vector<std::size_t> seen = scene_->grid().inPrism(prismOf(setup));
        roots.insert(seen.begin(), seen.end());
    }
    return {roots.begin(), roots.end()};
}

namespace {

// Hands a newly attached root to the renderer's database pager.
std::function<void(osg::Node&)> pagerTakesOn(OffscreenRenderer& renderer)
{
    osgDB::DatabasePager* pager = nullptr;
    if (renderer.camera()) {
        if (auto* view = dynamic_cast<osgViewer::View*>(renderer.camera()->getView())) {
            pager = view->getDatabasePager();
        }
    }
    return [pager](osg::Node& slot) {
        if (pager) {
            pager->registerPagedLODs(&slot);
        }
    };
}

}  // namespace

void ShardScene::prepareViews(const PolygonFrame& frame, OffscreenRenderer& renderer)
{
    const std::vector<std::size_t> inView = rootsInViewOf(frame);
    scene_->require(inView, std::max(keptRoots_, inView.size()), pagerTakesOn(renderer));
    if (scene_->revision() != writtenRevision_) {
        writtenRevision_ = scene_->revision();
        writeRootIndexCache(config_.output_dir, scene_->entries());
    }
}

void ShardScene::prepareFrame(PolygonFrame& frame, OffscreenRenderer& renderer)
{
    const auto attached = pagerTakesOn(renderer);
    // Loading a root may correct the index (LazyScene::open): the roots are
    // then chosen again, before the frame is measured and rendered.
    for (int pass = 1;; ++pass) {
        const std::uint64_t revision = scene_->revision();
        const bool last = pass == kSelectionPasses;
        std::vector<std::size_t> needed = scene_->grid().overRectangle(frame.minX, frame.minY, frame.maxX, frame.maxY);
        scene_->require(needed, static_cast<std::size_t>(-1), attached);
        if (!last && scene_->revision() != revision) {
            continue;
        }
        sampleFrameHeight(scene_->rootsAsRead(), frame);
        const std::vector<std::size_t> inView = rootsInViewOf(frame);
        needed.insert(needed.end(), inView.begin(), inView.end());
        std::sort(needed.begin(), needed.end());
        needed.erase(std::unique(needed.begin(), needed.end()), needed.end());
        scene_->require(needed, std::max(keptRoots_, needed.size()), attached);
        if (last || scene_->revision() == revision) {
            break;
        }
    }
    if (writeCache_ && scene_->revision() != writtenRevision_) {
        writtenRevision_ = scene_->revision();
        writeRootIndexCache(config_.output_dir, scene_->entries());
    }
}

}  // namespace vistrel
