#pragma once

#include "app/DossierSheets.h"
#include "app/ImageNames.h"
#include "app/ImagePipeline.h"
#include "app/ResumeLedger.h"
#include "core/ImagePlan.h"
#include "core/ImageResult.h"
#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"
#include "core/ShardPlan.h"
#include "output/NameTemplate.h"
#include "render/FrameCamera.h"
#include "render/OffscreenRenderer.h"
#include "render/PictureSource.h"

#include <osg/Node>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
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
    std::string storedCrs;  // the system a georeferenced picture file holds; empty: none
    // Called before each frame of this shard is rendered, with its position
    // in the layer (to load the model parts its views show and measure it).
    std::function<void(std::size_t position, OffscreenRenderer&)> beforeFrame;
    // Called once the frame's heights are measured on its vertical picture
    // (to load what its side views show at those heights).
    std::function<void(const PolygonFrame&, OffscreenRenderer&)> frameMeasured;
};

// One batch: every frame of this shard from every configured angle, with the
// progress protocol on the log (FRAME_PROGRESS, SKIP_FRAME, IMAGE_PROGRESS
// and the final summary), a journal line per finished image and the CSV
// report at the end.
//
// Names are built in frame and image order (frameImages) for the frames that
// are rendered: "#" numbers and "_2" suffixes count rendered images only. A
// batch split into shards instead names every frame of the layer, skipped or
// not, so that every shard gives each image the path the others expect; the
// journal records which way a batch names, and a resumed run follows it.
// With `resume`, the ledger (ResumeLedger) replays the earlier runs'
// decisions and hands over the images that are taken over instead of
// rendered. A write that meets a symbolic link below the output folder is
// refused and fails the run.
//
// A picture whose tiles are still loading at tile_load_timeout is written,
// but its image fails with the remark kRemarkTilesIncomplete.
class RenderBatch {
public:
    explicit RenderBatch(const RenderConfig& config, BatchOptions options = BatchOptions{});
    // A batch that takes its pictures from `pictures` (which must outlive
    // it) instead of its own renderer; beforeFrame still gets the unused
    // renderer(). For tests of the batch's decisions without a GPU.
    RenderBatch(const RenderConfig& config, PictureSource& pictures, BatchOptions options = BatchOptions{});

    // True when no image failed and the report and journal were written. The
    // report is written whenever the loop ran. A stop signal ends the loop
    // after the image in hand (see stopped()).
    bool run(osg::Node* scene, const std::vector<PolygonFrame>& frames);
    // True when the last run ended early on a stop signal.
    bool stopped() const { return last_.stopped; }
    // True when the last run did not start because another live run holds
    // the shard's journal (nothing was touched).
    bool journalLocked() const { return ledger_.locked(); }
    // True when the last run did not start because retry_failed_only found
    // no journal of the batch to read.
    bool retryRefused() const { return ledger_.retryRefused(); }

    // What a run of `frames` would do, decided as run() decides but without
    // looking at any frame (every frame's pre-check is taken to pass): no
    // journal is opened or written, nothing is locked or rendered.
    struct Plan {
        bool refused = false;  // retry_failed_only without a journal (the ERROR logged)
        int totalFrames = 0;  // of this shard
        int imagesPlanned = 0;  // outline images included
        int imagesTakenOver = 0;
        int framesRetried = -1;  // with retry_failed_only: the frames rendered again
        // Per frame of the layer: the images it would render (0 for frames of
        // other shards and frames settled without rendering).
        std::vector<int> toRender;
        int imagesToRender() const;
    };
    Plan plan(const std::vector<PolygonFrame>& frames);
    // Seconds taken to prepare the frame at `position` (beforeFrame) and draw
    // one picture of its first angle, in memory; -1 when none could be drawn.
    double measurePicture(osg::Node* scene, const PolygonFrame& frame, std::size_t position);

    // What the vertical pre-check decides for a frame.
    enum class Precheck {
        Render,  // the vertical view shows a model
        Skip,  // no usable model in view (SKIP_FRAME logged)
        Fail,  // the view could not be rendered: the frame's images fail
        LeftOut,  // not looked at: retry_failed_only leaves it as it is
    };
    // Renders and judges the frame's vertical view; `reason` says why a frame
    // is skipped or failed. `drawn` gets the placement of a view it drew.
    Precheck precheckFrame(const PolygonFrame& frame, std::string& reason, std::optional<CameraSetup>* drawn = nullptr);

    // The model's identity, part of the batch's fingerprint (set before run()).
    void setModel(ModelIdentity model) { model_ = std::move(model); }
    // The model's coordinate system as the dossier sheets name it.
    void setSystemName(std::string name) { systemName_ = std::move(name); }

    const RenderConfig& config() const { return config_; }
    // Seconds spent writing files (summed over the workers) and seconds the
    // batch waited for a free picture buffer, in the last run.
    double writeSeconds() const { return last_.writeSeconds; }
    double bufferWaitSeconds() const { return last_.bufferWaitSeconds; }
    // Writer threads the last run's pipeline started.
    int writersStarted() const { return last_.writersStarted; }
    OffscreenRenderer& renderer() { return renderer_; }
    // The results of the last run, one map per frame of the layer (empty for
    // frames of other shards).
    const ResultsTable& results() const { return last_.results; }

private:
    struct FrameJob;
    struct AngleWork;
    struct ImageSlot;
    using Clock = std::chrono::steady_clock;
    // What one run decides and counts; startRun begins a fresh one.
    struct RunRecord {
        ShardPlan shard;
        std::vector<PlannedImage> images;  // the images of every frame (frameImages)
        bool namesAllFrames = false;  // names planned for every frame of the layer
        ResultsTable results;  // one map per frame of the layer
        // Per frame of the layer: its heights and model share as measured,
        // once it was prepared (the frame as read until then).
        std::vector<std::optional<PolygonFrame>> measured;
        int totalFrames = 0;  // of this shard
        int totalImages = 0;  // one per configured angle of each frame
        int imagesDone = 0;
        Clock::time_point start;
        bool refused = false;  // a write met a symbolic link below the output folder
        bool stopped = false;
        double writeSeconds = 0.0;  // what the pipeline measured
        double bufferWaitSeconds = 0.0;
        int writersStarted = 0;
        int sheetsFailed = 0;  // dossier sheets that could not be written
    };

    // The run, top to bottom: the renderer, the journal and the counts, every
    // frame of this shard, then the reports and the summary line.
    bool startRenderer(osg::Node* scene);
    bool startRun(const std::vector<PolygonFrame>& frames);
    void renderFrames(osg::Node* scene, const std::vector<PolygonFrame>& frames);
    void renderFrame(ImagePipeline& pipeline, osg::Node* scene, const std::shared_ptr<FrameJob>& job);
    bool finishRun(const std::vector<PolygonFrame>& frames);

    // Decides how the frame goes: failed without a look (it cannot be
    // placed), skipped or rendered as an earlier run decided, or looked at by
    // the pre-check (whose picture may serve as the top image).
    void prepareFrame(ImagePipeline& pipeline, FrameJob& job);
    // What is decided before a frame is looked at; false when that settles
    // it (left out, unplaced or skipped by an earlier run), nothing logged.
    bool decideFrame(FrameJob& job, ResumeLedger::Replay& replay);
    void nameFrame(FrameJob& job);
    void logUnplacedFrame(const FrameJob& job) const;
    int logRetriedFrames(const std::vector<PolygonFrame>& frames) const;
    // Measures the pre-check's picture: the frame's heights (which the side
    // views' cameras use), its model share and what the picture shows of it.
    void measureFrame(FrameJob& job, MeasureParts parts);
    void keepPrecheckPicture(ImagePipeline& pipeline, FrameJob& job);

    // Renders one angle of a frame and hands its writes to the pipeline;
    // settleAngle counts, journals and reports it in the pipeline's order.
    void renderAngle(ImagePipeline& pipeline, osg::Node* scene, const std::shared_ptr<const FrameJob>& job,
                     std::size_t angleIndex);
    void placeCamera(osg::Node* scene, const FrameJob& job, AngleWork& work);
    // Takes over or renders one image of the angle; false when it failed
    // without a picture (the angle's other images are not tried).
    bool renderImage(ImagePipeline& pipeline, osg::Node* scene, const FrameJob& job, AngleWork& work, ImageSlot& slot);
    bool takeOverImage(ImagePipeline& pipeline, osg::Node* scene, const FrameJob& job, AngleWork& work,
                       ImageSlot& slot);
    // The image's picture (the pre-check's, or drawn now), or null when none
    // came (logged).
    ImagePipeline::Picture drawPicture(ImagePipeline& pipeline, const FrameJob& job, AngleWork& work, ImageSlot& slot);
    // The visible share of the picture just drawn for the angle's image.
    void measureImage(const PolygonFrame& frame, const AngleWork& work, ImageSlot& slot);
    // The remarks of what the picture shows: mostly hidden (with a WARN),
    // partly outside the model (vertical view).
    void noteMeasures(const PolygonFrame& frame, const AngleWork& work, ImageSlot& slot) const;
    // The renderer's last picture as the pipeline takes it, finished for the
    // image it becomes: the one way pictures enter the pipeline. With `keep`
    // it is copied into a buffer of the pipeline's in any case.
    // A frame's sheet (dossier) keeps a copy of it.
    ImagePipeline::Picture capturePicture(ImagePipeline& pipeline, const FrameJob& job, const std::string& key,
                                          const CameraSetup& setup, bool keep);
    // With dossier, once the frame's images are settled: its sheet, taken
    // over from an earlier run when none of its pictures was rendered anew,
    // else made (settleSheet, in the pipeline's order); journaled and in the
    // results under kDossierKey.
    void prepareSheet(ImagePipeline& pipeline, const std::shared_ptr<FrameJob>& job);
    void settleSheet(const FrameJob& job);
    // With dossier_book, at the end of a run that was not stopped: the book
    // of the sheets of `frames` (this shard's, as the reports give them).
    void writeSheetBook(const std::vector<PolygonFrame>& frames, const ResultsTable& results);
    SheetSetting sheetSetting() const;
    // Hands the picture's files to the pipeline: the image, its thumbnail
    // and (a vertical view with world_file) its world files; for an image
    // taken over, its world files only.
    ImagePipeline::WriteHandle writePicture(ImagePipeline& pipeline, const FrameJob& job, const AngleWork& work,
                                            const ImageSlot& slot, ImagePipeline::Picture picture);
    ImagePipeline::WriteHandle putBackWorldFiles(ImagePipeline& pipeline, const AngleWork& work, const ImageSlot& slot);
    // Fails the image with `reason` (logged); the angle's outline image fails
    // with the angle's image unless it went its own way.
    void failImage(const PolygonFrame& frame, AngleWork& work, ImageSlot& slot, const std::string& reason);
    // Once the angle's files are in place: its images' outcomes and times,
    // the results, the journal lines and the progress line.
    void settleAngle(const FrameJob& job, AngleWork& work, Precheck precheck, bool journaled);
    void settleImage(ImageSlot& slot, const AngleWork& work, bool looked, Clock::time_point now);
    void logProgress(const FrameJob& job, const AngleWork& work, Clock::time_point now);
    // True, with a WARN naming the frame, the image and the tiles still
    // outstanding, when the last render ran into tile_load_timeout.
    bool noteIncomplete(const PolygonFrame& frame, const std::string& key);
    // Logs why the last render gave no picture.
    void logRenderError() const;
    // The contact sheet's thumbnail of an image, or empty without the sheet.
    std::string thumbnailFor(const PolygonFrame& frame, const std::string& key) const;

    const RenderConfig& config_;
    BatchOptions options_;
    FrameCamera camera_;
    OffscreenRenderer renderer_;
    PictureSource& pictures_;  // renderer_, or the one the batch was given
    ModelIdentity model_;
    std::string systemName_;
    NameTemplate nameTemplate_;
    ResumeLedger ledger_;
    RunRecord last_;
};

}  // namespace vistrel
