// Roots read only when a frame needs them give the pictures of a model read
// whole.
#include "SampleRun.h"

#include "app/RenderBatch.h"
#include "app/ShardScene.h"
#include "model/FrameHeights.h"
#include "vector/PolygonFrameReader.h"
#include "model/SceneLoader.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iostream>
#include <map>

using namespace batchtest;
using namespace testsupport;

namespace {

constexpr std::size_t kFrames = 20;

vistrel::RenderConfig sampleConfig(const fs::path& output)
{
    vistrel::RenderConfig config;
    config.osgb_path = (sampleDir() / "city").string();
    config.shp_path = (sampleDir() / "parcels.shp").string();
    config.output_dir = output.string();
    config.width = 320;
    config.height = 180;
    config.warmup_until_loaded = true;  // pictures of the loaded model, not of the pager's timing
    config.field_names = {"ZDDM", "FWBH"};
    config.distance = truth().at("camera").at("distance").get<double>();
    return config;
}

std::vector<vistrel::PolygonFrame> firstFrames(const vistrel::RenderConfig& config)
{
    std::vector<vistrel::PolygonFrame> frames = vistrel::readPolygonFrames(vistrel::frameReadOptions(config));
    frames.resize(std::min(kFrames, frames.size()));
    return frames;
}

// Renders the first frames in a child process: with the whole model read
// first (keptRoots < 0), or with roots read as frames need them. Returns the
// files written; `loads` gets the fewest roots loaded for a frame and the
// number of root reads.
struct Loads {
    std::size_t fewest = 0;
    std::size_t reads = 0;
};
std::map<std::string, std::string> render(const vistrel::RenderConfig& config, int keptRoots, Loads* loads = nullptr)
{
    const fs::path counts = config.output_dir + ".needed";
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        std::ofstream log(config.output_dir + ".log");
        std::cout.rdbuf(log.rdbuf());
        std::vector<vistrel::PolygonFrame> frames = firstFrames(config);
        Loads seen{~std::size_t(0), 0};
        if (keptRoots < 0) {
            osg::ref_ptr<osg::Node> scene = vistrel::loadScene(config.osgb_path);
            vistrel::resetFrameHeights(frames, scene.get());
            vistrel::sampleFrameHeights(scene.get(), frames);
            vistrel::RenderBatch(config).run(scene.get(), frames);
        } else {
            // As the task does it: each frame measured just before it renders.
            auto model = vistrel::ShardScene::open(config, static_cast<std::size_t>(keptRoots));
            vistrel::resetFrameHeights(frames, model->root());
            vistrel::BatchOptions options;
            options.beforeFrame = [&](std::size_t position, vistrel::OffscreenRenderer& renderer) {
                model->prepareFrame(frames[position], renderer);
                seen.fewest = std::min(seen.fewest, model->lazy().loadedCount());
            };
            options.frameMeasured = [&](const vistrel::PolygonFrame& frame, vistrel::OffscreenRenderer& renderer) {
                model->prepareViews(frame, renderer);
            };
            vistrel::RenderBatch(config, options).run(model->root(), frames);
            seen.reads = model->lazy().loadsDone();
        }
        std::ofstream(counts) << seen.fewest << ' ' << seen.reads << '\n';
        std::cout.flush();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (loads) {
        std::ifstream(counts) >> loads->fewest >> loads->reads;
    }
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(config.output_dir)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && entry.path().parent_path().filename() != ".vistrel" &&
            name != "render_report.csv") {
            files[fs::relative(entry.path(), config.output_dir).string()] = readFile(entry.path());
        }
    }
    return files;
}

void expectSameFiles(const std::map<std::string, std::string>& expected,
                     const std::map<std::string, std::string>& actual)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (const auto& [path, bytes] : expected) {
        ASSERT_EQ(actual.count(path), 1u) << path;
        EXPECT_TRUE(actual.at(path) == bytes) << path;
    }
}

}  // namespace

// Pictures that depend on the view alone: the lazy run keeps only the roots
// of the frame in hand, so roots are dropped and read again between frames.
TEST(LazyRoots, RootsReadPerFrameGiveThePicturesOfTheWholeModel)
{
    TempDir dir("lazy");
    vistrel::RenderConfig config = sampleConfig(dir / "whole");
    config.angles = {"top", "north", "se45", "west"};
    config.avoid_occlusion = false;
    const auto whole = render(config, -1);
    config.output_dir = (dir / "lazy").string();
    Loads loads;
    const auto lazy = render(config, 0, &loads);

    ASSERT_GT(whole.size(), 50u);
    expectSameFiles(whole, lazy);
    const std::size_t roots = truth().at("tiles").size();
    EXPECT_GT(loads.fewest, 0u);
    EXPECT_LT(loads.fewest, roots);  // frames that needed part of the model
    EXPECT_GT(loads.reads, roots);  // roots let go and read again
}

// With occlusion avoidance and the outline image, which also cast lines
// through the model, and the roots kept as a run keeps them.
TEST(LazyRoots, SightLinesAndOutlinesSeeWhatTheWholeModelGives)
{
    TempDir dir("lazy-lines");
    vistrel::RenderConfig config = sampleConfig(dir / "whole");
    config.angles = {"top", "east", "sw45"};
    config.output_top_range = true;
    const auto whole = render(config, -1);
    config.output_dir = (dir / "lazy").string();
    const auto lazy = render(config, static_cast<int>(vistrel::ShardScene::kKeptRoots));
    ASSERT_GT(whole.size(), 50u);
    expectSameFiles(whole, lazy);
}

// An index in the output folder with the roots' names, sizes and times and a
// valid checksum, but wrong about the roots: every root marked unreadable,
// every radius tiny, or one root moved under the first frame (one the start
// does not check, found wrong when that frame loads it). The files decide:
// the pictures are those of a run without the index, and the index is
// written anew as the files give it.
TEST(LazyRoots, AnIndexWrongAboutTheRootsGivesWayToTheFiles)
{
    TempDir dir("forged-index");
    const std::vector<std::string> angles = {"top", "se45"};
    const auto configFor = [&](const std::string& name) {
        vistrel::RenderConfig config = sampleConfig(dir / name);
        config.angles = angles;
        return config;
    };
    const vistrel::RenderConfig plainConfig = configFor("plain");
    const int kept = static_cast<int>(vistrel::ShardScene::kKeptRoots);
    const auto plain = render(plainConfig, kept);
    ASSERT_GT(plain.size(), 10u);
    const std::string index = readFile(vistrel::rootIndexCachePath(plainConfig.output_dir));
    const std::vector<vistrel::RootEntry> entries = vistrel::readRootIndexCache(plainConfig.output_dir);
    ASSERT_GT(entries.size(), vistrel::LazyScene::kSpotChecks + 1);

    const auto runWith = [&](const std::string& name, const std::function<void(vistrel::RootEntry&)>& forge,
                             std::size_t first) {
        const vistrel::RenderConfig config = configFor(name);
        std::vector<vistrel::RootEntry> forged = entries;
        for (std::size_t i = first; i < forged.size(); ++i) {
            forge(forged[i]);
        }
        EXPECT_TRUE(vistrel::writeRootIndexCache(config.output_dir, forged));
        expectSameFiles(plain, render(config, kept));
        EXPECT_EQ(readFile(vistrel::rootIndexCachePath(config.output_dir)), index) << name;
        return readFile(config.output_dir + ".log");
    };
    const std::string warning = "[WARN] The root index entry of ";
    runWith(
        "unreadable", [](vistrel::RootEntry& e) { e.readable = false; }, 0);
    const std::string tiny = runWith(
        "tiny", [](vistrel::RootEntry& e) { e.bound.radius() = 1e-3f; }, 0);
    EXPECT_EQ(countOccurrences(tiny, warning), 1) << tiny;

    const vistrel::PolygonFrame first = firstFrames(plainConfig).front();
    const osg::Vec3 under(
        static_cast<float>((first.minX + first.maxX) / 2 - truth().at("origin").at("x").get<double>()),
        static_cast<float>((first.minY + first.maxY) / 2 - truth().at("origin").at("y").get<double>()), 0.0f);
    const std::string moved = runWith(
        "moved", [&](vistrel::RootEntry& e) { e.bound.set(under, 1.0f); }, entries.size() - 1);
    EXPECT_EQ(countOccurrences(moved, warning + entries.back().path + " was wrong"), 1) << moved;
}
