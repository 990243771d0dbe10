#pragma once

#include "app/ImagePipeline.h"
#include "app/RunJournal.h"
#include "core/ImageResult.h"
#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"
#include "output/NameTemplate.h"
#include "render/FrameCamera.h"
#include "render/OffscreenRenderer.h"

#include <osg/Node>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vistrel {

// How a batch works; the defaults are the fast way. Both off is the strictly
// one-by-one way (kept for comparisons): each picture rendered with its full
// warm-up and written before the next is drawn.
struct BatchOptions {
    bool pipelined = true;  // num_threads workers write while the next picture renders
    bool reuse = true;      // the pre-check's picture is the top image; a settled view is drawn once
    // Called before each frame of this shard is rendered, with its position
    // in the layer (to load the model parts its views show and measure it).
    std::function<void(std::size_t position, OffscreenRenderer&)> beforeFrame;
};

// One batch: every frame of this shard from every configured angle, with the
// progress protocol on the log (FRAME_PROGRESS, SKIP_FRAME, IMAGE_PROGRESS
// and the final summary), a journal line per finished image and the CSV
// report at the end.
//
// Names are built for every frame of the layer in frame and angle order,
// whatever the shard and whether a frame is skipped, so that every shard
// and a run on one machine give each image the same path. With `resume`,
// images an earlier run's journal records as written (and whose file is
// still there with the recorded size) are taken over instead of rendered,
// and frames it records as skipped are skipped again.
class RenderBatch {
public:
    explicit RenderBatch(const RenderConfig& config, BatchOptions options = BatchOptions{});

    // True when no image failed and the report and journal were written. The
    // report is written whenever the loop ran. A stop signal ends the loop
    // after the image in hand (see stopped()).
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
    // Writer threads the last run's pipeline started.
    int writersStarted() const { return writersStarted_; }
    const NameTemplate& names() const { return names_; }
    OffscreenRenderer& renderer() { return renderer_; }
    // The results of the last run, one map per frame of the layer (empty for
    // frames of other shards).
    const ResultsTable& results() const { return results_; }

private:
    // The path of one image, or why it has none.
    struct PlannedName {
        std::string path;
        std::string error;
    };
    // The names of one configured angle of a frame: its image and, for
    // "top" with output_top_range, the outline image.
    struct AngleNames {
        PlannedName image;
        PlannedName outline;
    };
    // One frame on its way through the batch.
    struct FrameJob {
        const PolygonFrame& frame;
        int position;  // 0-based position in the layer
        std::vector<AngleNames> names;  // one per configured angle
        Precheck precheck = Precheck::Render;
        std::string reason;
        bool skipTakenOver = false;  // the skip comes from an earlier run's journal
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
        int shards = 1;
        std::chrono::steady_clock::time_point start;
        // The 1-based number of the frame at `position` within this shard.
        int frameNumber(int position) const { return position / shards + 1; }
    };

    std::vector<AngleNames> planNames(const PolygonFrame& frame);
    // The journal entry an image can be taken over from, or null.
    const JournalEntry* takenOver(const FrameJob& job, const std::string& angle, const std::string& path) const;
    // Decides how the frame goes: skipped again, taken over whole, or looked
    // at by the pre-check (whose picture may serve as the top image).
    void prepareFrame(ImagePipeline& pipeline, FrameJob& job);
    void renderImage(ImagePipeline& pipeline, osg::Node* scene, const std::shared_ptr<const FrameJob>& job,
                     std::size_t angleIndex);
    void record(const FrameJob& job, const std::string& angle, const ImageResult& result);
    void noteWarmupCap(const PolygonFrame& frame, const std::string& angle);
    // The contact sheet's thumbnail of an image, or empty without the sheet.
    std::string thumbnailFor(const PolygonFrame& frame, const std::string& angle) const;

    const RenderConfig& config_;
    BatchOptions options_;
    FrameCamera camera_;
    OffscreenRenderer renderer_;
    NameTemplate names_;
    ResultsTable results_;
    std::string batch_;     // batchFingerprint of the configuration
    JournalIndex earlier_;  // what earlier runs of the batch finished (with resume)
    RunJournal journal_;
    bool journalFailed_ = false;
    Tally tally_;
    bool stopped_ = false;
    double writeSeconds_ = 0.0;
    double bufferWaitSeconds_ = 0.0;
    int writersStarted_ = 0;
};



}  // namespace vistrel
