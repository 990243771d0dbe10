#pragma once

#include "core/ImageResult.h"
#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"
#include "output/NameTemplate.h"
#include "render/FrameCamera.h"
#include "render/OffscreenRenderer.h"

#include <osg/Node>

#include <string>
#include <vector>

namespace vistrel {

// One batch: every frame from every configured angle, with the progress
// protocol on the log (FRAME_PROGRESS, SKIP_FRAME, IMAGE_PROGRESS and the
// final summary) and the CSV report at the end.
class RenderBatch {
public:
    explicit RenderBatch(const RenderConfig& config);

    // True when no image failed and the report was written. The report is
    // written whenever the loop ran. A stop signal ends the loop after the
    // image in hand (see stopped()).
    bool run(osg::Node* scene, const std::vector<PolygonFrame>& frames);
    // True when the last run ended early on a stop signal.
    bool stopped() const { return stopped_; }

    // What the vertical pre-check decides for a frame.
    enum class Precheck {
        Render,  // the vertical view shows a model
        Skip,    // no usable model in view (SKIP_FRAME logged)
        Fail,    // the view could not be rendered: the frame's images fail
    };
    // Renders and judges the frame's vertical view; `reason` says why a frame
    // is skipped or failed.
    Precheck precheckFrame(const PolygonFrame& frame, std::string& reason);

    const RenderConfig& config() const { return config_; }
    const NameTemplate& names() const { return names_; }
    OffscreenRenderer& renderer() { return renderer_; }
    // The results of the last run, one map per frame.
    const ResultsTable& results() const { return results_; }

private:
    const RenderConfig& config_;
    FrameCamera camera_;
    OffscreenRenderer renderer_;
    NameTemplate names_;
    ResultsTable results_;
    bool stopped_ = false;
};

// The IMAGE_PROGRESS line after an image.
std::string imageProgressLine(int done, int totalImages, int frame, int totalFrames, double elapsed, double eta,
                              const std::string& angle, bool success);

}  // namespace vistrel
