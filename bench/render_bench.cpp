// One 3840 x 2160 capture of the sample city through the headless context:
// median times of a draw, the readback, and PNG, JPEG and PDF encoding.
//
//   render_bench [city folder] [repeats]
#include "BenchSupport.h"

#include "core/Logger.h"
#include "core/RenderConfig.h"
#include "model/SceneLoader.h"
#include "output/ImageWriter.h"
#include "render/OffscreenRenderer.h"

#include <osg/Camera>
#include <osg/FrameBufferObject>
#include <osg/GL>
#include <osgUtil/RenderStage>
#include <osgUtil/SceneView>
#include <osgViewer/Renderer>

#include <cstdio>
#include <filesystem>
#include <iostream>

namespace fs = std::filesystem;
using namespace vistrel;

namespace {

// After the frame is drawn and read back, binds the camera's frame-buffer
// object again and times further reads of the same pixels.
struct ReadbackTimer : osg::Camera::DrawCallback {
    osg::Camera* camera = nullptr;
    osg::Image* image = nullptr;
    bool enabled = false;
    std::vector<double>* samples = nullptr;

    void operator()(osg::RenderInfo& renderInfo) const override
    {
        if (!enabled) {
            return;
        }
        auto* renderer = dynamic_cast<osgViewer::Renderer*>(camera->getRenderer());
        osgUtil::RenderStage* stage = renderer ? renderer->getSceneView(0)->getRenderStage() : nullptr;
        osg::FrameBufferObject* fbo = stage ? stage->getFrameBufferObject() : nullptr;
        if (!fbo) {
            return;
        }
        fbo->apply(*renderInfo.getState());
        glFinish();
        const auto start = bench::Clock::now();
        glReadPixels(0, 0, image->s(), image->t(), GL_RGBA, GL_UNSIGNED_BYTE, image->data());
        samples->push_back(bench::secondsSince(start));
    }
};

}  // namespace

int main(int argc, char** argv)
{
    const std::string city = argc > 1 ? argv[1] : std::string(VISTREL_BUILD_DIR) + "/sample/city";
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    if (!fs::exists(city)) {
        std::cerr << "No sample city at " << city << "; build the sample_city target first.\n";
        return 1;
    }
    const fs::path out = fs::temp_directory_path() / "vistrel_render_bench";
    fs::create_directories(out);

    RenderConfig config;  // 3840 x 2160, PNG, 300 dpi, quality 95
    config.warmup_frames = 0;
    osg::ref_ptr<osg::Node> scene = loadScene(city);
    if (!scene) {
        return 1;
    }
    OffscreenRenderer renderer(config);
    std::vector<std::string> errors;
    if (!renderer.initialize(scene.get(), errors)) {
        for (const std::string& error : errors) {
            Logger::instance().error(error);
        }
        return 1;
    }
    // The whole city from above.
    PolygonFrame frame;
    frame.name = "bench";
    const osg::BoundingSphere bound = scene->getBound();
    frame.minX = bound.center().x() - bound.radius() * 0.6;
    frame.maxX = bound.center().x() + bound.radius() * 0.6;
    frame.minY = bound.center().y() - bound.radius() * 0.6;
    frame.maxY = bound.center().y() + bound.radius() * 0.6;
    frame.minZ = bound.center().z() - 20;
    frame.maxZ = bound.center().z() + 40;
    frame.centerZ = bound.center().z();
    const CameraSetup setup = FrameCamera(config).computeSetup(frame, "se45");

    // Let the pager bring in the finer levels first, so every timed frame draws the same.
    config.warmup_frames = 40;
    renderer.renderFrame(setup);
    config.warmup_frames = 0;

    std::vector<double> frameTimes;
    std::vector<double> readbacks;
    osg::ref_ptr<ReadbackTimer> timer = new ReadbackTimer;
    timer->camera = renderer.camera();
    timer->image = renderer.captureImage();
    timer->samples = &readbacks;
    renderer.camera()->setFinalDrawCallback(timer.get());
    for (int i = 0; i < repeats; ++i) {
        const auto start = bench::Clock::now();
        renderer.renderFrame(setup);
        frameTimes.push_back(bench::secondsSince(start));
    }
    timer->enabled = true;
    for (int i = 0; i < repeats; ++i) {
        renderer.renderFrame(setup);
    }
    renderer.camera()->setFinalDrawCallback(nullptr);

    std::vector<double> png, jpeg, pdf;
    const osg::Image* image = renderer.captureImage();
    for (int i = 0; i < repeats; ++i) {
        auto start = bench::Clock::now();
        writeImageFile(image, config, (out / "bench.png").string());
        png.push_back(bench::secondsSince(start));
        start = bench::Clock::now();
        writeImageFile(image, config, (out / "bench.jpg").string());
        jpeg.push_back(bench::secondsSince(start));
        start = bench::Clock::now();
        writeImageFile(image, config, (out / "bench.pdf").string());
        pdf.push_back(bench::secondsSince(start));
    }

    const double frameMedian = bench::median(frameTimes);
    const double readbackMedian = bench::median(readbacks);
    std::printf("\nrender_bench: %dx%d, %d repeats, context: %s, renderer: %s\n", config.width, config.height, repeats,
                renderer.contextDescription().c_str(), renderer.glRenderer().c_str());
    std::printf("  frame (draw + readback)  %8.3f s\n", frameMedian);
    std::printf("  draw                     %8.3f s\n", frameMedian - readbackMedian);
    std::printf("  readback                 %8.3f s\n", readbackMedian);
    std::printf("  PNG encode + write       %8.3f s  (%.1f MB)\n", bench::median(png),
                fs::file_size(out / "bench.png") / 1e6);
    std::printf("  JPEG encode + write      %8.3f s  (%.1f MB)\n", bench::median(jpeg),
                fs::file_size(out / "bench.jpg") / 1e6);
    std::printf("  PDF write                %8.3f s  (%.1f MB)\n", bench::median(pdf),
                fs::file_size(out / "bench.pdf") / 1e6);
    std::printf("  peak resident memory     %8.1f MiB\n", bench::peakResidentMiB());
    fs::remove_all(out);
    return 0;
}
