// Start-up, speed and memory of one shard on a large model: the county the
// sample-city generator writes with --county (e.g. 100x100 tiles, 100,000
// parcels). Runs Vistrel itself, as a shard of `shards`, and follows its
// progress lines:
//   - the start-up: seconds from the process start to the first file, for a
//     first run (the root index is built) and a second (it is read back);
//   - files/s over the first 2,000 frames of the shard;
//   - the process's peak RSS after 1,000 and after `frames` frames;
// and, for comparison, reading every root at once as the loader does.
//
//   county_bench [county folder] [frames] [width] [height] [shards]
#include "BenchSupport.h"

#include "core/RunProtocol.h"
#include "model/SceneLoader.h"

#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

namespace fs = std::filesystem;

namespace {

double peakMiBOf(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        double kib = 0;
        if (std::sscanf(line.c_str(), "VmHWM: %lf kB", &kib) == 1) {
            return kib / 1024.0;
        }
    }
    return 0.0;
}

struct ShardFigures {
    double firstFile = -1, indexDone = -1, rate2000 = 0, peakAt1000 = 0, peakAtEnd = 0, wall = 0;
    int frames = 0;
};

// Runs Vistrel with `config` until `frames` frames of the shard are done
// (then stops it with SIGINT) and follows its lines.
ShardFigures runShard(const fs::path& vistrel, const fs::path& configPath, int frames)
{
    int out[2];
    if (pipe(out) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const auto start = bench::Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(out[0]);
        execl(vistrel.c_str(), vistrel.c_str(), configPath.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::FILE* lines = fdopen(out[0], "r");
    ShardFigures f;
    double at2000Start = -1;
    char buffer[8192];
    bool stopped = false;
    std::string lastLine;
    while (std::fgets(buffer, sizeof buffer, lines)) {
        const double now = bench::secondsSince(start);
        lastLine = buffer;
        const auto line = vistrel::parseLogLine(buffer);
        if (!line) {
            continue;
        }
        std::string message = line->message;
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
            message.pop_back();
        }
        if (f.indexDone < 0 && message.rfind("Root index:", 0) == 0) {
            f.indexDone = now;
        }
        if (f.firstFile < 0 && message.rfind(std::string(vistrel::kWrotePrefix), 0) == 0) {
            f.firstFile = now;
            at2000Start = now;
        }
        if (const auto progress = vistrel::parseImageProgress(message)) {
            f.frames = progress->frame;
            if (progress->frame == 1000 && f.peakAt1000 == 0) {
                f.peakAt1000 = peakMiBOf(child);
            }
            if (progress->frame == 2000 && f.rate2000 == 0 && at2000Start >= 0) {
                f.rate2000 = progress->image / (now - at2000Start);
            }
            if (progress->frame >= frames && !stopped) {
                f.peakAtEnd = peakMiBOf(child);
                kill(child, SIGINT);
                stopped = true;
            }
        }
    }
    if (!stopped) {
        f.peakAtEnd = peakMiBOf(child);
    }
    std::fclose(lines);
    int status = 0;
    waitpid(child, &status, 0);
    f.wall = bench::secondsSince(start);
    if (f.firstFile < 0) {
        std::fprintf(stderr, "Vistrel wrote no file; its last line: %s", lastLine.c_str());
    }
    return f;
}

// Every root read at once, as loadScene does, in a child of its own.
void fullLoad(const fs::path& county)
{
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        std::ofstream sink("/dev/null");
        std::cout.rdbuf(sink.rdbuf());
        const auto start = bench::Clock::now();
        osg::ref_ptr<osg::Node> scene = vistrel::loadScene(county.string());
        const double seconds = bench::secondsSince(start);
        std::fprintf(stderr, "whole model read at once (loadScene): %.2f s, peak RSS %.0f MiB\n", seconds,
                     bench::peakResidentMiB());
        _exit(scene ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
}

}  // namespace

int main(int argc, char** argv)
{
    // Vistrel reads relative paths of its configuration from the file's folder.
    const fs::path folder = fs::absolute(argc > 1 ? fs::path(argv[1]) : fs::path(VISTREL_BUILD_DIR) / "county100");
    const int frames = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int width = argc > 3 ? std::atoi(argv[3]) : 320;
    const int height = argc > 4 ? std::atoi(argv[4]) : 180;
    const int shards = argc > 5 ? std::atoi(argv[5]) : 10;
    const fs::path vistrel = fs::path(VISTREL_BUILD_DIR) / "bin" / "Vistrel";
    const fs::path work = fs::temp_directory_path() / ("county_bench_" + std::to_string(getpid()));
    fs::create_directories(work);

    nlohmann::json config = {{"osgb_path", (folder / "county").string()},
                             {"shp_path", (folder / "county_parcels.shp").string()},
                             {"output_dir", (work / "out").string()},
                             {"width", width},
                             {"height", height},
                             {"angles", {"top"}},
                             {"output_format", "jpg"},
                             {"warmup_until_loaded", true},
                             {"field_names", {"ZDDM", "FWBH"}},
                             {"distance", 100},
                             {"shard_index", 0},
                             {"shard_count", shards}};
    const fs::path configPath = work / "render.json";
    std::ofstream(configPath) << config.dump(2);

    std::printf("county %s, shard 1 of %d, %d x %d, top only, JPEG\n", folder.string().c_str(), shards, width, height);
    const ShardFigures cold = runShard(vistrel, configPath, 20);
    std::printf("first run (index built): root index after %.2f s, first file after %.2f s\n", cold.indexDone,
                cold.firstFile);
    const ShardFigures warm = runShard(vistrel, configPath, frames);
    std::printf("second run (index read): root index after %.2f s, first file after %.2f s\n", warm.indexDone,
                warm.firstFile);
    std::printf("files/s over the first 2,000 frames: %.2f\n", warm.rate2000);
    std::printf("peak RSS after 1,000 frames: %.0f MiB; after %d frames: %.0f MiB (%.0f s)\n", warm.peakAt1000,
                warm.frames, warm.peakAtEnd, warm.wall);
    std::fflush(stdout);
    fullLoad(folder / "county");
    fs::remove_all(work);
    return 0;
}
