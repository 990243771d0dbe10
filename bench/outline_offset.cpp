// How far the drawn outline lies from the frame's edges, in pixels of a
// 3840 x 2160 vertical image: a rectangle frame over a model, its outline
// rendered alone (red, one pixel wide) and located across each edge.
//
//   outline_offset <model folder> <minX> <minY> <maxX> <maxY>
//
// Coordinates are scene coordinates; give fractional ones (e.g. .125) to
// see single-precision rounding far from the origin.
#include "BenchSupport.h"

#include "core/Logger.h"
#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"
#include "model/FrameHeights.h"
#include "model/SceneLoader.h"
#include "render/FrameCamera.h"
#include "render/OffscreenRenderer.h"
#include "render/RangeLine.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace vistrel;

namespace {

bool isRed(const unsigned char* p)
{
    return p[0] > 200 && p[1] < 60 && p[2] < 60;
}

// Mean position of the outline's pixels across an edge at `expected` (pixel
// units), looking 40 pixels either way; negative when none is found.
double lineCentre(const osg::Image& image, double expected, bool vertical, int along)
{
    double sum = 0.0;
    int count = 0;
    for (int d = -40; d <= 40; ++d) {
        const int at = static_cast<int>(expected) + d;
        const int x = vertical ? at : along;
        const int yFromTop = vertical ? along : at;
        if (x < 0 || yFromTop < 0 || x >= image.s() || yFromTop >= image.t()) {
            continue;
        }
        if (isRed(image.data(x, image.t() - 1 - yFromTop))) {
            sum += at + 0.5;
            ++count;
        }
    }
    return count ? sum / count : -1.0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "Usage: outline_offset <model folder> <minX> <minY> <maxX> <maxY>\n");
        return 1;
    }
    osg::ref_ptr<osg::Node> scene = loadScene(argv[1]);
    if (!scene) {
        return 1;
    }
    PolygonFrame frame;
    frame.name = "probe";
    frame.index = 1;
    frame.minX = std::atof(argv[2]);
    frame.minY = std::atof(argv[3]);
    frame.maxX = std::atof(argv[4]);
    frame.maxY = std::atof(argv[5]);
    frame.rings.push_back({{frame.minX, frame.minY}, {frame.maxX, frame.minY}, {frame.maxX, frame.maxY},
                           {frame.minX, frame.maxY}, {frame.minX, frame.minY}});
    std::vector<PolygonFrame> frames{frame};
    resetFrameHeights(frames, scene.get());
    sampleFrameHeights(scene.get(), frames);
    frame = frames.front();

    RenderConfig config;  // 3840 x 2160
    config.range_line_width = 1;
    config.range_line_color = "red";
    OffscreenRenderer renderer(config);
    std::vector<std::string> errors;
    if (!renderer.initialize(scene.get(), errors)) {
        for (const std::string& error : errors) {
            Logger::instance().error(error);
        }
        return 1;
    }
    const CameraSetup setup = FrameCamera(config).computeSetup(frame, "top");
    // Heights and finer levels come from the model; the outline is then drawn
    // with the model hidden, so that only the line is red.
    renderer.renderModel(setup);
    scene->setNodeMask(0);
    if (!renderRangeLineFrame(renderer, setup, frame, config.range_line_depth_test)) {
        return 1;
    }
    const osg::Image& image = *renderer.captureImage();
    const double scale = image.s() / setup.orthoWidth;
    const double left = (frame.minX - setup.center.x()) * scale + image.s() / 2.0;
    const double right = (frame.maxX - setup.center.x()) * scale + image.s() / 2.0;
    const double top = image.t() / 2.0 - (frame.maxY - setup.center.y()) * scale;
    const double bottom = image.t() / 2.0 - (frame.minY - setup.center.y()) * scale;

    double worst = 0.0;
    double sums[4] = {0, 0, 0, 0};
    int counts[4] = {0, 0, 0, 0};
    const double expected[4] = {left, right, top, bottom};
    for (int k = 0; k <= 40; ++k) {
        const double t = 0.2 + 0.6 * k / 40.0;
        const int row = static_cast<int>(top + (bottom - top) * t);
        const int column = static_cast<int>(left + (right - left) * t);
        for (int e = 0; e < 4; ++e) {
            const double found = lineCentre(image, expected[e], e < 2, e < 2 ? row : column);
            if (found < 0) {
                continue;
            }
            const double offset = found - expected[e];
            sums[e] += offset;
            ++counts[e];
            worst = std::max(worst, std::fabs(offset));
        }
    }
    std::printf("outline_offset: frame %.3f,%.3f - %.3f,%.3f at %dx%d, %.1f px per unit\n", frame.minX, frame.minY,
                frame.maxX, frame.maxY, config.width, config.height, scale);
    const char* names[4] = {"west", "east", "north", "south"};
    for (int e = 0; e < 4; ++e) {
        if (counts[e]) {
            std::printf("  %-5s edge: mean offset %+7.2f px (%d samples)\n", names[e], sums[e] / counts[e], counts[e]);
        } else {
            std::printf("  %-5s edge: no outline found\n", names[e]);
        }
    }
    std::printf("  largest offset %.2f px\n", worst);
    return 0;
}
