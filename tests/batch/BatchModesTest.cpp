// The fast batch against the one-by-one batch on the sample city: the same
// files, log and report, with fewer draws.
#include "SampleRun.h"

#include "app/RenderBatch.h"
#include "model/FrameHeights.h"
#include "vector/PolygonFrameReader.h"
#include "model/SceneLoader.h"
#include "support/OutputProbes.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <map>
#include <regex>

using namespace batchtest;
using namespace testsupport;

namespace {

// The batch's fast way (pipelined, views reused) or the one-by-one way.
vistrel::BatchOptions way(bool fast)
{
    vistrel::BatchOptions options;
    options.pipelined = fast;
    options.reuse = fast;
    return options;
}

struct BatchRun {
    std::string log;
    vistrel::RenderTimings timings;
    std::map<std::string, std::string> files;  // path below the output folder -> bytes
};

vistrel::RenderConfig sampleConfig(const fs::path& output)
{
    vistrel::RenderConfig config;
    config.osgb_path = (sampleDir() / "city").string();
    config.shp_path = (sampleDir() / "parcels.shp").string();
    config.output_dir = output.string();
    config.width = 320;
    config.height = 180;
    config.warmup_frames = 2;
    config.field_names = {"ZDDM", "FWBH"};
    config.distance = truth().at("camera").at("distance").get<double>();
    return config;
}

// What the task does, in a child process of its own (a second batch in one
// process may differ in the last bit of a few pixels from the first): a fresh
// model, the first `count` frames with their heights, one batch.
BatchRun runBatch(const vistrel::RenderConfig& config, vistrel::BatchOptions options, std::size_t count)
{
    const fs::path log = config.output_dir + ".log";
    const fs::path counts = config.output_dir + ".counts";
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        std::ofstream logFile(log);
        std::cout.rdbuf(logFile.rdbuf());
        osg::ref_ptr<osg::Node> scene = vistrel::loadScene(config.osgb_path);
        std::vector<vistrel::PolygonFrame> frames = vistrel::readPolygonFrames(vistrel::frameReadOptions(config));
        frames.resize(std::min(count, frames.size()));
        vistrel::resetFrameHeights(frames, scene.get());
        vistrel::sampleFrameHeights(scene.get(), frames);
        vistrel::RenderBatch batch(config, options);
        batch.run(scene.get(), frames);
        const vistrel::RenderTimings& t = batch.renderer().timings();
        std::ofstream(counts) << t.renders << ' ' << t.draws << ' ' << t.sleepSeconds << ' ' << t.readbacks << ' '
                              << t.tileDraws << '\n';
        std::cout.flush();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    BatchRun run;
    run.log = readFile(log);
    std::ifstream in(counts);
    in >> run.timings.renders >> run.timings.draws >> run.timings.sleepSeconds >> run.timings.readbacks >>
        run.timings.tileDraws;
    for (const auto& entry : fs::recursive_directory_iterator(config.output_dir)) {
        if (entry.is_regular_file() && entry.path().parent_path().filename() != ".vistrel") {
            run.files[fs::relative(entry.path(), config.output_dir).string()] = readFile(entry.path());
        }
    }
    return run;
}

// The batch's lines without timestamps, times and the output folder.
std::string comparableLog(const std::string& log, const fs::path& output)
{
    std::string text = std::regex_replace(log, std::regex(R"(\[\d{8}_\d{6}\])"), "[T]");
    text = std::regex_replace(text, std::regex(R"((elapsed|eta)=\d+\.\d\d)"), "$1=*");
    const auto begin = text.find("FBO renderer initialized.");
    text = begin == std::string::npos ? text : text.substr(begin);
    std::string::size_type at;
    while ((at = text.find(output.string())) != std::string::npos) {
        text.replace(at, output.string().size(), "<out>");
    }
    return text;
}

// The report with every time column blanked and the output folder named <out>.
std::vector<std::vector<std::string>> reportWithoutTimes(std::string csv, const fs::path& output)
{
    std::string::size_type at;
    while ((at = csv.find(output.string())) != std::string::npos) {
        csv.replace(at, output.string().size(), "<out>");
    }
    auto rows = parseCsv(csv);
    for (std::size_t c = 0; !rows.empty() && c < rows[0].size(); ++c) {
        if (rows[0][c].find("耗时秒") != std::string::npos) {
            for (auto& row : rows) {
                row[c].clear();
            }
        }
    }
    return rows;
}

}  // namespace

TEST(BatchModes, PipelinedWithReuseWritesWhatTheOneByOneBatchWrites)
{
    TempDir dir("modes");
    vistrel::RenderConfig config = sampleConfig(dir / "a");
    config.angles = {"north", "top", "se45"};
    config.output_top_range = true;
    // A fixed warm-up shows whatever the pager loaded in its time; drawing
    // until all is loaded makes both runs see the whole model.
    config.warmup_until_loaded = true;
    const BatchRun oneByOne = runBatch(config, way(false), 20);
    config.output_dir = (dir / "b").string();
    const BatchRun fast = runBatch(config, way(true), 20);

    ASSERT_GT(oneByOne.files.size(), 50u);
    ASSERT_EQ(fast.files.size(), oneByOne.files.size());
    for (const auto& [path, bytes] : oneByOne.files) {
        if (path != "render_report.csv") {
            EXPECT_TRUE(fast.files.at(path) == bytes) << path;
        }
    }
    EXPECT_EQ(reportWithoutTimes(fast.files.at("render_report.csv"), dir / "b"),
              reportWithoutTimes(oneByOne.files.at("render_report.csv"), dir / "a"));
    EXPECT_EQ(comparableLog(fast.log, dir / "b"), comparableLog(oneByOne.log, dir / "a"));

    // The top image came from the pre-check: one render less per rendered
    // frame. Every picture is read back once, and drawn at most once but for
    // the draws made as its tiles arrived.
    const int rendered = static_cast<int>(truth().at("frames").size()) - countOccurrences(oneByOne.log, "SKIP_FRAME");
    EXPECT_EQ(oneByOne.timings.renders - fast.timings.renders, rendered);
    EXPECT_EQ(fast.timings.readbacks, fast.timings.renders);
    EXPECT_LE(fast.timings.draws - fast.timings.tileDraws, fast.timings.renders);
    EXPECT_LT(fast.timings.draws, oneByOne.timings.draws);
}

TEST(BatchModes, LoadAwareWarmupGivesTheBytesOfALongWarmupWithoutItsWaiting)
{
    TempDir dir("warmup");
    vistrel::RenderConfig config = sampleConfig(dir / "long");
    config.angles = {"top", "ne45"};
    config.warmup_until_loaded = false;
    config.warmup_frames = 40;
    const BatchRun fixed = runBatch(config, way(true), 5);
    config.output_dir = (dir / "loaded").string();
    config.warmup_frames = 8;
    config.warmup_until_loaded = true;
    const BatchRun loaded = runBatch(config, way(true), 5);

    ASSERT_EQ(loaded.files.size(), fixed.files.size());
    for (const auto& [path, bytes] : fixed.files) {
        if (path != "render_report.csv") {
            EXPECT_TRUE(loaded.files.at(path) == bytes) << path;
        }
    }
    // Neither draws a view that did not change; the long warm-up only waits.
    EXPECT_LE(loaded.timings.draws - loaded.timings.tileDraws, loaded.timings.renders);
    EXPECT_LE(fixed.timings.draws - fixed.timings.tileDraws, fixed.timings.renders);
    EXPECT_LT(loaded.timings.sleepSeconds, fixed.timings.sleepSeconds / 4);
    EXPECT_EQ(loaded.log.find("Tiles still loading"), std::string::npos);
}

TEST(BatchModes, AWriteFailureInTheMiddleOfAPipelinedRunIsCountedOnItsImage)
{
    TempDir dir("middle");
    const auto names = uniqueFrameNames();
    const auto& frames = truth().at("frames");
    int target = 0;
    for (int i = 4; i < static_cast<int>(frames.size()); ++i) {
        if (!frames[i].at("skip").get<bool>()) {
            target = i;
            break;
        }
    }
    fs::create_directories(dir / "out" / names[target] / "north.png");
    const SampleRun run = runVistrel(dir, smallConfig({{"angles", {"top", "north", "east"}}, {"num_threads", 3}}));
    EXPECT_EQ(run.process.exitCode, 4) << run.log();
    for (const auto& line : linesWith(run.log(), "IMAGE_PROGRESS ")) {
        const int frame = std::stoi(fieldValue(line, "frame")) - 1;
        const bool skipped = frames[frame].at("skip").get<bool>();
        const bool failed = frame == target && fieldValue(line, "angle") == "north";
        EXPECT_EQ(fieldValue(line, "success"), skipped || failed ? "0" : "1") << line;
    }
    EXPECT_NE(run.log().find(", failed 1, hidden "), std::string::npos);
}
