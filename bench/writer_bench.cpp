// Writer threads on the sample city at 3840 x 2160, `top` + `top_range`,
// pipelined with warmup_until_loaded: files/s, CPU seconds and the writer
// threads the pipeline started, for JPEG with num_threads 1 and 4 and for
// PNG with num_threads 4. Each run in a process of its own.
//
//   writer_bench [sample folder] [frames]
#include "BenchSupport.h"

#include "app/RenderBatch.h"
#include "model/FrameHeights.h"
#include "vector/PolygonFrameReader.h"
#include "model/SceneLoader.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

namespace fs = std::filesystem;
using namespace vistrel;

namespace {

struct Figures {
    double wall = 0, cpu = 0;
    int writers = 0, files = 0;
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

Figures run(const RenderConfig& config, int frameCount)
{
    const fs::path stats = config.output_dir + ".stats";
    std::fflush(nullptr);
    if (fork() == 0) {
        std::ostringstream captured;
        std::cout.rdbuf(captured.rdbuf());
        osg::ref_ptr<osg::Node> scene = loadScene(config.osgb_path);
        std::vector<PolygonFrame> frames = readPolygonFrames(frameReadOptions(config));
        frames.resize(std::min<std::size_t>(frames.size(), static_cast<std::size_t>(frameCount)));
        resetFrameHeights(frames, scene.get());
        sampleFrameHeights(scene.get(), frames);
        RenderBatch batch(config);
        const double cpuStart = cpuSeconds();
        const auto start = bench::Clock::now();
        batch.run(scene.get(), frames);
        std::ofstream(stats) << bench::secondsSince(start) << ' ' << cpuSeconds() - cpuStart << ' '
                             << batch.writersStarted() << '\n';
        std::fflush(nullptr);
        _exit(0);
    }
    int status = 0;
    wait(&status);
    Figures f;
    std::ifstream(stats) >> f.wall >> f.cpu >> f.writers;
    for (const auto& entry : fs::recursive_directory_iterator(config.output_dir)) {
        const auto extension = entry.path().extension();
        f.files += entry.is_regular_file() && (extension == ".jpg" || extension == ".png") ? 1 : 0;
    }
    return f;
}

std::map<std::string, std::string> filesBelow(const fs::path& root, const std::string& extension)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && entry.path().extension() == extension) {
            std::ifstream in(entry.path(), std::ios::binary);
            files[fs::relative(entry.path(), root).string()] =
                std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    return files;
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path sample = argc > 1 ? fs::path(argv[1]) : fs::path(VISTREL_BUILD_DIR) / "sample";
    const int frames = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    const fs::path work = fs::temp_directory_path() / ("vistrel_writer_bench_" + std::to_string(getpid()));
    fs::create_directories(work);
    RenderConfig config;  // 3840 x 2160
    config.osgb_path = (sample / "city").string();
    config.shp_path = (sample / "parcels.shp").string();
    config.angles = {"top"};
    config.output_top_range = true;
    config.warmup_until_loaded = true;
    config.field_names = {"ZDDM", "FWBH"};
    config.distance = 100;

    struct Mode {
        const char* name;
        const char* format;
        int threads;
    } modes[] = {{"JPEG, num_threads 1", "jpg", 1}, {"JPEG, num_threads 4", "jpg", 4}, {"PNG, num_threads 4", "png", 4}};
    std::printf("writer_bench: %d frames, top + top_range at %dx%d, warmup_until_loaded\n", frames, config.width,
                config.height);
    std::printf("| run | files | files/s | CPU s | CPU s/file | writers started |\n|---|---|---|---|---|---|\n");
    for (int m = 0; m < 3; ++m) {
        config.output_format = modes[m].format;
        config.num_threads = modes[m].threads;
        config.output_dir = (work / ("run" + std::to_string(m))).string();
        const Figures f = run(config, frames);
        std::printf("| %s | %d | %.2f | %.1f | %.2f | %d |\n", modes[m].name, f.files, f.files / f.wall, f.cpu,
                    f.cpu / std::max(1, f.files), f.writers);
        std::fflush(stdout);
    }
    const bool same = filesBelow(work / "run0", ".jpg") == filesBelow(work / "run1", ".jpg");
    std::printf("JPEG files of the two runs %s\n", same ? "byte-identical" : "DIFFER");
    fs::remove_all(work);
    return same ? 0 : 2;
}
