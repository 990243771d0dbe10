// How far a batch is from the cheapest file it could write: on the sample
// city at 3840 x 2160, with every tile of the frames loaded first (a warm
// pager), each frame's `top` view
//   (1) as the cheapest file: one draw, one read-back, one JPEG encode;
//   (2) as the renderer's part of `top` + `top_range`: the draw, the measure
//       of the picture, the outline over it and two JPEG encodes;
// then (3) the whole batch of `top` + `top_range` (RenderBatch, pipelined)
// over the same frames. Wall and CPU seconds (all threads) per file.
//
//   limit_bench [sample folder] [frames]
#include "BenchSupport.h"

#include "app/RenderBatch.h"
#include "model/FrameHeights.h"
#include "vector/PolygonFrameReader.h"
#include "model/SceneLoader.h"
#include "output/ImageWriter.h"
#include "render/OffscreenRenderer.h"

#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <sstream>

namespace fs = std::filesystem;
using namespace vistrel;

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

struct Run {
    double wall = 0.0;
    double cpu = 0.0;
    int files = 0;
};

Run timed(const std::function<int()>& work)
{
    const double cpu = cpuSeconds();
    const auto start = bench::Clock::now();
    Run run;
    run.files = work();
    run.wall = bench::secondsSince(start);
    run.cpu = cpuSeconds() - cpu;
    return run;
}

void print(const char* name, const Run& run)
{
    const double files = std::max(1, run.files);
    std::printf("| %s | %d | %.2f | %.2f | %.3f | %.3f |\n", name, run.files, run.files / run.wall, run.cpu,
                run.wall / files, run.cpu / files);
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path sample = argc > 1 ? fs::path(argv[1]) : fs::path(VISTREL_BUILD_DIR) / "sample";
    const int frameCount = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    const fs::path work = fs::temp_directory_path() / "vistrel_limit_bench";
    fs::remove_all(work);
    fs::create_directories(work);
    RenderConfig config;  // 3840 x 2160
    config.osgb_path = (sample / "city").string();
    config.shp_path = (sample / "parcels.shp").string();
    config.output_dir = work.string();
    config.output_format = "jpg";
    config.angles = {"top"};
    config.output_top_range = true;
    config.warmup_until_loaded = true;
    config.field_names = {"ZDDM", "FWBH"};
    config.distance = 100;

    std::ostringstream captured;
    std::streambuf* console = std::cout.rdbuf(captured.rdbuf());
    osg::ref_ptr<osg::Node> scene = loadScene(config.osgb_path);
    std::vector<PolygonFrame> frames = readPolygonFrames(frameReadOptions(config));
    frames.resize(std::min<std::size_t>(frames.size(), static_cast<std::size_t>(frameCount)));
    resetFrameHeights(frames, scene.get());
    sampleFrameHeights(scene.get(), frames);
    std::vector<CameraSetup> setups;
    for (const PolygonFrame& frame : frames) {
        setups.push_back(FrameCamera(config).computeSetup(frame, "top"));
    }

    OffscreenRenderer renderer(config);
    std::vector<std::string> errors;
    if (!renderer.initialize(scene.get(), errors)) {
        std::cout.rdbuf(console);
        std::cerr << "no renderer\n";
        return 1;
    }
    for (const CameraSetup& setup : setups) {
        renderer.renderModel(setup);  // brings every tile in
    }
    const auto write = [&](const std::string& name) {
        return writeImageFile(renderer.captureImage(), config, (work / name).string()).written() ? 1 : 0;
    };
    const Run cheapest = timed([&] {
        int files = 0;
        for (std::size_t i = 0; i < setups.size(); ++i) {
            files += renderer.renderModel(setups[i]) ? write("cheap_" + std::to_string(i) + ".jpg") : 0;
        }
        return files;
    });
    const Run pair = timed([&] {
        int files = 0;
        for (std::size_t i = 0; i < setups.size(); ++i) {
            if (!renderer.renderModel(setups[i])) {
                continue;
            }
            files += write("top_" + std::to_string(i) + ".jpg");
            PictureMeasure measure;
            renderer.measurePicture(setups[i], frames[i], MeasureParts::SurfaceAndArea, measure);
            if (renderer.renderOutline(setups[i], frames[i], config.range_line_depth_test)) {
                files += write("range_" + std::to_string(i) + ".jpg");
            }
        }
        return files;
    });
    config.output_dir = (work / "batch").string();
    RenderBatch batch(config);
    const Run whole = timed([&] {
        batch.run(scene.get(), frames);
        int files = 0;
        for (const auto& entry : fs::recursive_directory_iterator(config.output_dir)) {
            files += entry.is_regular_file() && entry.path().extension() == ".jpg" ? 1 : 0;
        }
        return files;
    });
    std::cout.rdbuf(console);

    std::printf("limit_bench: %zu frames, top at %dx%d, JPEG, warm pager, %s\n", frames.size(), config.width,
                config.height, renderer.glRenderer().c_str());
    std::printf("| run | files | files/s | CPU s | wall s/file | CPU s/file |\n|---|---|---|---|---|---|\n");
    print("(1) one draw, one read-back, one encode", cheapest);
    print("(2) top + measure + outline over it, two encodes", pair);
    print("(3) the batch: top + top_range, pipelined", whole);
    const RenderTimings& t = renderer.timings();
    std::printf(
        "renderer (1)+(2)+warm-up: %d draws (%d overlays alone), %d looks, %.2f s drawing, %d measures %.2f s\n",
        t.draws, t.overlayDraws, t.looks, t.drawSeconds, t.measures, t.measureSeconds);
    fs::remove_all(work);
    return 0;
}
