#pragma once

#include "app/ImagePipeline.h"
#include "core/ImageResult.h"
#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"
#include "output/NameTemplate.h"
#include "render/FrameCamera.h"
#include "render/OffscreenRenderer.h"

#include <osg/Node>

#include <chrono>
#include <string>
#include <vector>

namespace vistrel {

// How a batch works; the defaults are the fast way. Both off is the strictly
// one-by-one way (kept for comparisons): each picture rendered with its full
// warm-up and written before the next is drawn.
struct BatchOptions {
    bool pipelined = true;  // num_threads workers write while the next picture renders
    bool reuse = true;      // the pre-check's picture is the top image; a settled view is drawn once
};

// One batch: every frame from every configured angle, with the progress
// protocol on the log (FRAME_PROGRESS, SKIP_FRAME, IMAGE_PROGRESS and the
// final summary) and the CSV report at the end.
class RenderBatch {
public:
    explicit RenderBatch(const RenderConfig& config, BatchOptions options = BatchOptions{});

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
    // Seconds spent writing files (summed over the workers) and seconds the
    // batch waited for a free picture buffer, in the last run.
    double writeSeconds() const { return writeSeconds_; }
    double bufferWaitSeconds() const { return bufferWaitSeconds_; }
    const NameTemplate& names() const { return names_; }
    OffscreenRenderer& renderer() { return renderer_; }
    // The results of the last run, one map per frame.
    const ResultsTable& results() const { return results_; }

private:
    // One frame on its way through the batch.
    struct FrameJob {
        const PolygonFrame& frame;
        int position;  // 0-based
        Precheck precheck = Precheck::Render;
        std::string reason;
        CameraSetup precheckSetup;
        ImagePipeline::Picture precheckPicture;  // kept when it can serve as the top image
    };
    // Counts of the run; only the pipeline's ordered steps change them.
    struct Tally {
        int totalFrames = 0;
        int totalImages = 0;
        int done = 0;
        int succeeded = 0;
        int skipped = 0;
        int failed = 0;
        std::chrono::steady_clock::time_point start;
    };

    void renderImage(ImagePipeline& pipeline, osg::Node* scene, const FrameJob& job, const std::string& angle);
    void noteWarmupCap(const PolygonFrame& frame, const std::string& angle);

    const RenderConfig& config_;
    BatchOptions options_;
    FrameCamera camera_;
    OffscreenRenderer renderer_;
    NameTemplate names_;
    ResultsTable results_;
    Tally tally_;
    bool stopped_ = false;
    double writeSeconds_ = 0.0;
    double bufferWaitSeconds_ = 0.0;
};

// The IMAGE_PROGRESS line after an image.
std::string imageProgressLine(int done, int totalImages, int frame, int totalFrames, double elapsed, double eta,
                              const std::string& angle, bool success);

}  // namespace vistrel
