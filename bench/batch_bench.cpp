// A whole batch over the sample city at the default 3840 x 2160 and warm-up:
// where the time per image goes, images per minute, and peak memory.
//
//   batch_bench [sample folder] [frames] [angles...]
// The sample folder may be any folder with the model as `city`;
// VISTREL_BENCH_SHP names another layer, VISTREL_BENCH_FIXED_WARMUP=n uses
// the fixed warm-up of n draws.
#include "BenchSupport.h"

#include "app/RenderBatch.h"
#include "core/Logger.h"
#include "model/FrameHeights.h"
#include "vector/PolygonFrameReader.h"
#include "model/SceneLoader.h"
#include "render/OcclusionAvoidance.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

namespace fs = std::filesystem;
using namespace vistrel;

namespace {

// Keeps the log lines of the timed extra calls off the console.
struct CapturedLogSilence {
    CapturedLogSilence() { std::cout.setstate(std::ios::failbit); }
    ~CapturedLogSilence() { std::cout.clear(); }
};

}  // namespace

int main(int argc, char** argv)
{
    const fs::path sample = argc > 1 ? fs::path(argv[1]) : fs::path(VISTREL_BUILD_DIR) / "sample";
    const int frameCount = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    std::vector<std::string> angles;
    for (int i = 3; i < argc; ++i) {
        angles.emplace_back(argv[i]);
    }
    if (angles.empty()) {
        angles = {"top", "north", "east", "se45"};
    }
    if (!fs::exists(sample / "city")) {
        std::cerr << "No sample city in " << sample << "; build the sample_city target first.\n";
        return 1;
    }
    const fs::path out = fs::temp_directory_path() / "vistrel_batch_bench";
    fs::remove_all(out);

    RenderConfig config;  // defaults: 3840 x 2160, drawn until loaded, PNG
    // VISTREL_BENCH_FIXED_WARMUP=n: the fixed warm-up of n draws instead.
    if (const char* fixed = std::getenv("VISTREL_BENCH_FIXED_WARMUP")) {
        config.warmup_until_loaded = false;
        config.warmup_frames = std::atoi(fixed);
    }
    if (const char* shp = std::getenv("VISTREL_BENCH_SHP")) {
        config.shp_path = shp;  // another layer over the model (with the sample folder's city)
    }
    config.osgb_path = (sample / "city").string();
    if (config.shp_path.empty()) {
        config.shp_path = (sample / "parcels.shp").string();
    }
    config.output_dir = out.string();
    config.angles = angles;
    config.field_names = {"ZDDM", "FWBH"};
    config.distance = 100;

    const auto start = bench::Clock::now();
    osg::ref_ptr<osg::Node> scene = loadScene(config.osgb_path);
    if (!scene) {
        return 1;
    }
    std::vector<PolygonFrame> frames =
        readPolygonFrames(frameReadOptions(config));
    // Repeat the layer's frames when it has fewer than asked for.
    const std::size_t available = frames.size();
    while (frames.size() < static_cast<std::size_t>(frameCount)) {
        PolygonFrame copy = frames[frames.size() % available];
        copy.index = static_cast<int>(frames.size() + 1);
        copy.uniqueName += "_r" + std::to_string(frames.size());
        frames.push_back(copy);
    }
    frames.resize(static_cast<std::size_t>(frameCount));
    resetFrameHeights(frames, scene.get());
    sampleFrameHeights(scene.get(), frames);

    RenderBatch batch(config);
    const auto batchStart = bench::Clock::now();
    batch.run(scene.get(), frames);
    const double batchSeconds = bench::secondsSince(batchStart);
    const double totalSeconds = bench::secondsSince(start);

    std::vector<double> perImage;
    int images = 0;
    for (const auto& frameResults : batch.results()) {
        for (const auto& [angle, result] : frameResults) {
            perImage.push_back(result.seconds);
            ++images;
        }
    }
    const RenderTimings& t = batch.renderer().timings();
    const double other = batchSeconds - t.drawSeconds - t.sleepSeconds;
    const int configured = frameCount * static_cast<int>(angles.size());
    std::printf("\nbatch_bench: %d frames x %zu angles at %dx%d, warm-up %d%s, context %s (%s)\n", frameCount,
                angles.size(), config.width, config.height, config.warmup_frames, config.warmup_until_loaded ? " (until loaded)" : "",
                batch.renderer().contextDescription().c_str(), batch.renderer().glRenderer().c_str());
    std::printf("  batch wall time          %8.2f s  (%.2f s with loading and heights)\n", batchSeconds, totalSeconds);
    std::printf("  images per minute        %8.2f  (%d configured images)\n", configured / batchSeconds * 60.0,
                configured);
    std::printf("  median time per image    %8.3f s  (%d images incl. outline images)\n", bench::median(perImage),
                images);
    std::printf("  draws                    %8.2f s  %5.1f %%  (%d draws)\n", t.drawSeconds,
                100.0 * t.drawSeconds / batchSeconds, t.draws);
    std::printf("  warm-up sleeps           %8.2f s  %5.1f %%\n", t.sleepSeconds, 100.0 * t.sleepSeconds / batchSeconds);
    std::printf("  pictures                 %8d    (%.2f draws and %.2f read-backs per picture)\n", t.renders,
                t.renders ? double(t.draws) / t.renders : 0.0, t.renders ? double(t.readbacks) / t.renders : 0.0);
    std::printf("  waiting for tiles        %8.2f s  (%d draws as tiles arrived: %.2f per picture)\n", t.tileWaitSeconds,
                t.tileDraws, t.renders ? double(t.tileDraws) / t.renders : 0.0);
    std::printf("  everything else          %8.2f s  %5.1f %%\n", other, 100.0 * other / batchSeconds);
    std::printf("  peak resident memory     %8.1f MiB\n", bench::peakResidentMiB());

    // What the vertical pre-check and the occlusion search add to each frame.
    std::vector<double> prechecks;
    std::vector<double> occlusion;
    for (const auto& frame : frames) {
        std::string reason;
        auto t0 = bench::Clock::now();
        {
            CapturedLogSilence quiet;
            batch.precheckFrame(frame, reason);
        }
        prechecks.push_back(bench::secondsSince(t0));
        t0 = bench::Clock::now();
        for (const auto& angle : angles) {
            OcclusionChoice choice;
            CapturedLogSilence quiet;
            chooseCamera(config, scene.get(), frame, angle, choice);
        }
        occlusion.push_back(bench::secondsSince(t0));
    }
    std::printf("  pre-check per frame      %8.3f s  (median; one vertical render)\n", bench::median(prechecks));
    std::printf("  occlusion rays per frame %8.4f s  (median over the %zu angles; %zu ray tests in all)\n",
                bench::median(occlusion), angles.size(), occlusionRayTestCount());
    fs::remove_all(out);
    return 0;
}
