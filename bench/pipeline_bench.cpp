// The batch three ways on the sample city, side by side, each in a process of
// its own (so that peak memory is its own):
//   (a) one by one: each picture drawn in every round of the fixed warm-up of
//       8 and written before the next is drawn, the pre-check rendered apart
//       from `top`;
//   (b) writing overlaps rendering, the pre-check's picture is the `top`
//       image, a view is drawn only when it changed; fixed warm-up of 8;
//   (c) (b) with warmup_until_loaded (the default).
// Every picture waits until its tiles have loaded.
// Then memory over a long run: (c) over 100 and over 1000 frames.
//
//   pipeline_bench [sample folder] [frames] [width] [height] [--no-memory]
//   pipeline_bench --real <tile folder> [frames] [width] [height]
//
// With --real the model is a folder of real tiles (no metadata.xml needed)
// and the frames are squares of 20 m in a grid over its middle; the views
// are top and north with top_range, and the memory runs are left out.
#include "BenchSupport.h"

#include "app/RenderBatch.h"
#include "core/Logger.h"
#include "model/FrameHeights.h"
#include "vector/PolygonFrameReader.h"
#include "model/SceneLoader.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace vistrel;

namespace {

struct Mode {
    const char* name;
    BatchOptions options;
    bool untilLoaded;
};

struct Figures {
    double wall = 0, draws = 0, sleeps = 0, encode = 0, bufferWait = 0, peakMiB = 0, medianInterval = 0;
    int drawCount = 0, images = 0;
};

bool realTiles = false;

// Squares of 20 m on a grid over the middle of the model, row by row.
std::vector<PolygonFrame> gridFrames(osg::Node* scene, int count)
{
    const osg::BoundingSphere bound = scene->getBound();
    const int side = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
    const double step = std::min(30.0, bound.radius() * 1.2 / side);
    std::vector<PolygonFrame> frames;
    for (int i = 0; i < count; ++i) {
        PolygonFrame frame;
        frame.index = i + 1;
        frame.name = frame.uniqueName = "P" + std::to_string(i + 1);
        frame.nameValues = {frame.name};
        const double x = bound.center().x() + (i % side - 0.5 * (side - 1)) * step;
        const double y = bound.center().y() + (i / side - 0.5 * (side - 1)) * step;
        frame.minX = x - 10;
        frame.maxX = x + 10;
        frame.minY = y - 10;
        frame.maxY = y + 10;
        frame.rings = {{{frame.minX, frame.minY}, {frame.maxX, frame.minY}, {frame.maxX, frame.maxY},
                        {frame.minX, frame.maxY}, {frame.minX, frame.minY}}};
        frames.push_back(frame);
    }
    return frames;
}

// The sample layer, repeated until it has `count` frames.
std::vector<PolygonFrame> framesFor(const RenderConfig& config, osg::Node* scene, int count)
{
    if (realTiles) {
        std::vector<PolygonFrame> frames = gridFrames(scene, count);
        resetFrameHeights(frames, scene);
        sampleFrameHeights(scene, frames);
        return frames;
    }
    std::vector<PolygonFrame> frames =
        readPolygonFrames(frameReadOptions(config));
    const std::size_t available = frames.size();
    while (frames.size() < static_cast<std::size_t>(count)) {
        PolygonFrame copy = frames[frames.size() % available];
        copy.index = static_cast<int>(frames.size() + 1);
        copy.uniqueName += "_r" + std::to_string(frames.size());
        frames.push_back(copy);
    }
    frames.resize(static_cast<std::size_t>(count));
    resetFrameHeights(frames, scene);
    sampleFrameHeights(scene, frames);
    return frames;
}

// Runs one batch in this (child) process and writes its figures to `stats`.
void runChild(const Mode& mode, RenderConfig config, int frameCount, const fs::path& stats)
{
    config.warmup_until_loaded = mode.untilLoaded;
    std::ostringstream captured;
    std::streambuf* console = std::cout.rdbuf(captured.rdbuf());
    osg::ref_ptr<osg::Node> scene = loadScene(config.osgb_path);
    const std::vector<PolygonFrame> frames = framesFor(config, scene.get(), frameCount);
    RenderBatch batch(config, mode.options);
    const auto start = bench::Clock::now();
    batch.run(scene.get(), frames);
    Figures f;
    f.wall = bench::secondsSince(start);
    std::cout.rdbuf(console);

    // Seconds between finished images, from the progress lines.
    std::vector<double> intervals;
    double previous = 0.0;
    std::istringstream lines(captured.str());
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find(" elapsed=");
        if (line.find("IMAGE_PROGRESS ") == std::string::npos || at == std::string::npos) {
            continue;
        }
        const double elapsed = std::atof(line.c_str() + at + 9);
        intervals.push_back(elapsed - previous);
        previous = elapsed;
        ++f.images;
    }
    const RenderTimings& t = batch.renderer().timings();
    f.draws = t.drawSeconds;
    f.drawCount = t.draws;
    f.sleeps = t.sleepSeconds;
    f.encode = batch.writeSeconds();
    f.bufferWait = batch.bufferWaitSeconds();
    f.peakMiB = bench::peakResidentMiB();
    f.medianInterval = bench::median(intervals);
    std::ofstream out(stats);
    out << f.wall << ' ' << f.draws << ' ' << f.sleeps << ' ' << f.encode << ' ' << f.bufferWait << ' ' << f.peakMiB
        << ' ' << f.medianInterval << ' ' << f.drawCount << ' ' << f.images << '\n';
}

bool runInChild(const Mode& mode, const RenderConfig& config, int frames, Figures& figures)
{
    const fs::path stats = fs::path(config.output_dir).string() + ".stats";
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        runChild(mode, config, frames, stats);
        std::fflush(nullptr);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::ifstream in(stats);
    return static_cast<bool>(in >> figures.wall >> figures.draws >> figures.sleeps >> figures.encode >>
                             figures.bufferWait >> figures.peakMiB >> figures.medianInterval >> figures.drawCount >>
                             figures.images);
}

// Relative path -> bytes of every image below `root`.
std::map<std::string, std::string> imagesBelow(const fs::path& root)
{
    std::map<std::string, std::string> images;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && entry.path().extension() == ".png") {
            std::ifstream in(entry.path(), std::ios::binary);
            images[fs::relative(entry.path(), root).string()] =
                std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    return images;
}

}  // namespace

int main(int argc, char** argv)
{
    realTiles = argc > 2 && std::string(argv[1]) == "--real";
    if (realTiles) {
        ++argv;
        --argc;
    }
    const fs::path sample = argc > 1 ? fs::path(argv[1]) : fs::path(VISTREL_BUILD_DIR) / "sample";
    const int frameCount = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    if (!realTiles && !fs::exists(sample / "city")) {
        std::cerr << "No sample city in " << sample << "; build the sample_city target first.\n";
        return 1;
    }
    const fs::path work = fs::temp_directory_path() / "vistrel_pipeline_bench";
    fs::remove_all(work);
    fs::create_directories(work);

    RenderConfig config;  // defaults: 3840 x 2160, warm-up 8, PNG, num_threads 4
    if (argc > 4) {
        config.width = std::atoi(argv[3]);
        config.height = std::atoi(argv[4]);
    }
    config.osgb_path = (sample / (realTiles ? "" : "city")).string();
    config.shp_path = (sample / "parcels.shp").string();
    config.angles = {"top", "north", "east", "se45"};
    if (realTiles) {
        config.osgb_path = sample.string();
        config.angles = {"top", "north"};
        config.distance = 60;
    }
    config.output_top_range = true;
    config.field_names = {"ZDDM", "FWBH"};
    config.distance = 100;

    const auto way = [](bool fast) {
        vistrel::BatchOptions options;
        options.pipelined = fast;
        options.reuse = fast;
        return options;
    };
    const Mode modes[] = {{"(a) one by one, warm-up 8", way(false), false},
                          {"(b) pipelined with reuse, warm-up 8", way(true), false},
                          {"(c) (b) + warmup_until_loaded", way(true), true}};
    Figures figures[3];
    for (int m = 0; m < 3; ++m) {
        config.output_dir = (work / ("run" + std::to_string(m))).string();
        if (!runInChild(modes[m], config, frameCount, figures[m])) {
            std::cerr << "run " << modes[m].name << " failed\n";
            return 1;
        }
    }
    const auto a = imagesBelow(work / "run0");
    const bool sameB = imagesBelow(work / "run1") == a;
    const bool sameC = imagesBelow(work / "run2") == a;
    const double files = static_cast<double>(a.size());

    const int configured = frameCount * static_cast<int>(config.angles.size());
    std::printf("\npipeline_bench: %d frames x {%s} + top_range at %dx%d, num_threads %d, %s\n", frameCount,
                realTiles ? "top, north" : "top, north, east, se45", config.width, config.height, config.num_threads,
                realTiles ? sample.string().c_str() : "sample city");
    std::printf("| run | images/min | files/s | median s/image | draws | draws/file | sleeps | encode (workers) | "
                "waiting for buffers | other | peak RSS | speed-up |\n"
                "|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (int m = 0; m < 3; ++m) {
        const Figures& f = figures[m];
        const bool overlapped = modes[m].options.pipelined;
        const double onPath = f.draws + f.sleeps + (overlapped ? f.bufferWait : f.encode);
        std::printf("| %s | %.1f | %.2f | %.3f | %.1f s (%d) | %.2f | %.1f s | %.1f s | %.1f s | %.1f s | %.0f MiB | "
                    "%.2fx |\n",
                    modes[m].name, configured / f.wall * 60.0, files / f.wall, f.medianInterval, f.draws, f.drawCount,
                    f.drawCount / files, f.sleeps, f.encode, f.bufferWait, f.wall - onPath, f.peakMiB,
                    figures[0].wall / f.wall);
    }
    std::printf("images: %zu per run; (b) %s (a), (c) %s (a)\n", a.size(), sameB ? "byte-identical to" : "DIFFERS from",
                sameC ? "byte-identical to" : "DIFFERS from");
    if (realTiles || (argc > 5 && std::string(argv[5]) == "--no-memory")) {
        if (!std::getenv("PIPELINE_BENCH_KEEP")) {  // keeps the pictures for a look
            fs::remove_all(work);
        }
        return sameB && sameC ? 0 : 2;
    }

    // Memory over a long run, at a small size so that it ends in minutes.
    RenderConfig small = config;
    small.width = 640;
    small.height = 360;
    small.angles = {"top"};
    Figures hundred;
    Figures thousand;
    small.output_dir = (work / "memory100").string();
    runInChild(modes[2], small, 100, hundred);
    fs::remove_all(small.output_dir);
    small.output_dir = (work / "memory1000").string();
    runInChild(modes[2], small, 1000, thousand);
    std::printf("memory (c) at 640x360, top + top_range: peak %.0f MiB after 100 frames, %.0f MiB after 1000 (%.2fx)\n",
                hundred.peakMiB, thousand.peakMiB, thousand.peakMiB / hundred.peakMiB);
    fs::remove_all(work);
    return sameB && sameC ? 0 : 2;
}
