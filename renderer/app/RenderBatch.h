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
#include <map>
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
    bool reuse = true;  // the pre-check's picture is the top image; a view is drawn only when it changed
    std::string worldFileCrs;  // the .prj text beside world files (world_file); empty: no .prj
    // Called before each frame of this shard is rendered, with its position
    // in the layer (to load the model parts its views show and measure it).
    std::function<void(std::size_t position, OffscreenRenderer&)> beforeFrame;
};

// One batch: every frame of this shard from every configured angle, with the
// progress protocol on the log (FRAME_PROGRESS, SKIP_FRAME, IMAGE_PROGRESS
// and the final summary), a journal line per finished image and the CSV
// report at the end.
//
// Names are built in frame and angle order for the frames that are rendered:
// "#" numbers and "_2" suffixes count rendered images only. A batch split
// into shards instead names every frame of the layer, skipped or not, so
// that every shard gives each image the path the others expect; the journal
// records which way a batch names, and a resumed run follows it. With
// `resume`, images an earlier run's journal records as written are taken
// over instead of rendered when their frame has the recorded geometry and
// their file is reached without symbolic links, is a regular file and has
// the recorded size and content hash; the journal's decisions to skip or
// render a frame (with the same geometry) are replayed, so that a resumed
// run names exactly as an uninterrupted one. A write that meets a symbolic
// link below the output folder is refused and fails the run.
//
// A picture whose tiles are still loading at tile_load_timeout is written,
// but its image fails with the remark "瓦片未加载完成".
class RenderBatch {
public:
    explicit RenderBatch(const RenderConfig& config, BatchOptions options = BatchOptions{});

    // True when no image failed and the report and journal were written. The
    // report is written whenever the loop ran. A stop signal ends the loop
    // after the image in hand (see stopped()).
    bool run(osg::Node* scene, const std::vector<PolygonFrame>& frames);
    // True when the last run ended early on a stop signal.
    bool stopped() const { return stopped_; }
    // True when the last run did not start because another live run holds
    // the shard's journal (nothing was touched).
    bool journalLocked() const { return journal_.locked(); }

    // What the vertical pre-check decides for a frame.
    enum class Precheck {
        Render,  // the vertical view shows a model
        Skip,  // no usable model in view (SKIP_FRAME logged)
        Fail,  // the view could not be rendered: the frame's images fail
    };
    // Renders and judges the frame's vertical view; `reason` says why a frame
    // is skipped or failed.
    Precheck precheckFrame(const PolygonFrame& frame, std::string& reason);

    // The model's identity, part of the batch's fingerprint (set before run()).
    void setModel(ModelIdentity model) { model_ = std::move(model); }

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
        std::string geometry;  // frameGeometry, once the frame is prepared
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
    // What an earlier run's journal decided for the frame.
    enum class Replay { None, Skipped, Rendered };
    Replay replayedDecision(FrameJob& job) const;
    // The journal entry an image can be taken over from, or null; with
    // `explain`, an INFO line says why a recorded image is rendered again.
    const JournalEntry* takenOver(const FrameJob& job, const std::string& angle, const std::string& path,
                                  bool explain = false) const;
    // Decides how the frame goes: skipped again, taken over whole, or looked
    // at by the pre-check (whose picture may serve as the top image).
    void prepareFrame(ImagePipeline& pipeline, FrameJob& job);
    // The parts of run: journal and counts, the frames of this shard, the
    // reports and the summary line.
    bool startRun(const std::vector<PolygonFrame>& frames);
    void renderFrames(osg::Node* scene, const std::vector<PolygonFrame>& frames);
    bool finishRun(const std::vector<PolygonFrame>& frames);
    // The positions of the frames this shard renders.
    std::vector<int> shardPositions(std::size_t frameCount) const;
    struct ImageWork;
    // Renders one angle of a frame and hands its writes to the pipeline;
    // settleImage counts, journals and reports it in the pipeline's order.
    void renderImage(ImagePipeline& pipeline, osg::Node* scene, const std::shared_ptr<const FrameJob>& job,
                     std::size_t angleIndex);
    void placeCamera(osg::Node* scene, const PolygonFrame& frame, ImageWork& work);
    // False when the image failed without a picture (its outline is not tried).
    bool renderMainImage(ImagePipeline& pipeline, osg::Node* scene, const FrameJob& job, const AngleNames& names,
                         ImageWork& work);
    void renderOutlineImage(ImagePipeline& pipeline, osg::Node* scene, const FrameJob& job, const AngleNames& names,
                            ImageWork& work);
    void failImage(const PolygonFrame& frame, ImageWork& work, const std::string& reason);
    void settleImage(const FrameJob& job, ImageWork& work, Precheck precheck, bool journaled);
    void record(const FrameJob& job, const std::string& angle, const ImageResult& result,
                const FileDigest* written = nullptr);
    // True, with a WARN naming the frame, the angle and the tiles still
    // outstanding, when the last render ran into tile_load_timeout.
    bool noteIncomplete(const PolygonFrame& frame, const std::string& angle);
    // Logs why the renderer's last render gave no picture.
    void logRenderError() const;
    // The contact sheet's thumbnail of an image, or empty without the sheet.
    std::string thumbnailFor(const PolygonFrame& frame, const std::string& angle) const;

    const RenderConfig& config_;
    BatchOptions options_;
    FrameCamera camera_;
    OffscreenRenderer renderer_;
    NameTemplate names_;
    ResultsTable results_;
    std::string batch_;  // batchFingerprint of the configuration
    ModelIdentity model_;
    JournalIndex earlier_;  // what earlier runs of the batch finished (with resume)
    // Why recorded images cannot be taken over (empty: they can), by frame and angle.
    mutable std::map<std::pair<int, std::string>, std::string> refusals_;
    bool refused_ = false;  // a write met a symbolic link below the output folder
    RunJournal journal_;
    bool journalFailed_ = false;
    Tally tally_;
    bool namesAllFrames_ = false;  // names planned for every frame (a sharded batch)
    bool stopped_ = false;
    double writeSeconds_ = 0.0;
    double bufferWaitSeconds_ = 0.0;
    int writersStarted_ = 0;
};

}  // namespace vistrel
