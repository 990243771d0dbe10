#include "app/RenderBatch.h"

#include "app/HtmlReport.h"
#include "app/RenderReport.h"
#include "app/StopSignal.h"
#include "core/Logger.h"
#include "core/NumberText.h"
#include "core/RunProtocol.h"
#include "core/Seconds.h"
#include "output/ImageWriter.h"
#include "output/WriteRequest.h"
#include "render/OcclusionAvoidance.h"
#include "render/RangeLine.h"
#include "render/VerticalCheck.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

// With world_file, where a vertical picture placed by `setup` lies: what the
// writers make its world file (and .prj) of.
std::optional<PicturePlace> worldFilesFor(const RenderConfig& config, const std::string& crs, const CameraSetup& setup)
{
    if (!config.world_file) {
        return std::nullopt;
    }
    const PictureFootprint footprint{setup.center.x(),  setup.center.y(), setup.orthoWidth,
                                     setup.orthoHeight, config.width,     config.height};
    return PicturePlace{footprint, crs};
}

// An image whose world files failed fails, with their remark, though its
// picture is there.
void noteWorldFiles(ImageResult& result, const ImagePipeline::WriteHandle& write)
{
    if (write.valid() && !write.get().remark.empty()) {
        result.success = false;
        result.note = result.note.empty() ? write.get().remark : result.note + "; " + write.get().remark;
    }
}

using Clock = std::chrono::steady_clock;

// The remark of a picture taken with tiles still loading.
constexpr const char* kTilesIncomplete = "瓦片未加载完成";
// The remark, and the log's words, for the images of a frame whose points
// cannot be moved into the model's system (the reason follows).
constexpr const char* kFrameUnplaced = "图斑坐标无法转换到模型坐标系: ";
constexpr const char* kUnplacedReason = "the frame cannot be placed in the model's system: ";

}  // namespace

RenderBatch::RenderBatch(const RenderConfig& config, BatchOptions options)
    : config_(config), options_(options), camera_(config), renderer_(config), names_(config)
{
}

RenderBatch::Precheck RenderBatch::precheckFrame(const PolygonFrame& frame, std::string& reason)
{
    try {
        const CameraSetup setup = camera_.computeSetup(frame, "top");
        const VerticalCheckResult check = checkVerticalImage(renderer_, setup);
        if (!check.rendered) {
            logRenderError();
        }
        if (check.rendered && noteIncomplete(frame, "top") && !check.passed) {
            // A view still loading says nothing sure about the model.
            reason = kTilesIncomplete;
            return Precheck::Fail;
        }
        if (check.passed) {
            return Precheck::Render;
        }
        reason = check.message.empty() ? "正射图斑范围内疑似无有效模型或图像异常" : check.message;
        if (!check.rendered) {
            // A picture that could not be drawn says nothing about the model.
            return Precheck::Fail;
        }
    } catch (const std::exception& e) {
        reason = std::string("正射图质量检测失败: ") + e.what();
    }
    Logger::instance().warn(formatLine(SkipFrame{frame.name, reason}));
    return Precheck::Skip;
}

std::string RenderBatch::thumbnailFor(const PolygonFrame& frame, const std::string& angle) const
{
    return config_.html_report ? thumbnailPath(config_, frame, angle) : std::string();
}

void RenderBatch::logRenderError() const
{
    if (!renderer_.renderError().empty()) {
        Logger::instance().error(renderer_.renderError());
    }
}

bool RenderBatch::noteIncomplete(const PolygonFrame& frame, const std::string& angle)
{
    if (!renderer_.tilesIncomplete()) {
        return false;
    }
    Logger::instance().warn("Tiles still loading after tile_load_timeout " + streamNumber(config_.tile_load_timeout) +
                            " s: frame " + frame.name + " angle " + angle + ", " +
                            std::to_string(renderer_.incompleteRequests()) + " requests outstanding");
    return true;
}

std::vector<RenderBatch::AngleNames> RenderBatch::planNames(const PolygonFrame& frame)
{
    const auto plan = [&](PlannedName& out, const std::string& key) {
        try {
            out.path = names_.buildPhotoPath(frame, key);
        } catch (const std::exception& e) {
            out.error = e.what();
        }
    };
    std::vector<AngleNames> planned(config_.angles.size());
    for (std::size_t a = 0; a < config_.angles.size(); ++a) {
        plan(planned[a].image, config_.angles[a]);
        if (config_.output_top_range && config_.angles[a] == "top") {
            plan(planned[a].outline, "top_range");
        }
    }
    return planned;
}

const JournalEntry* RenderBatch::takenOver(const FrameJob& job, const std::string& angle, const std::string& path,
                                           bool explain) const
{
    if (!config_.resume || path.empty()) {
        return nullptr;
    }
    const auto found = earlier_.find({job.position, angle});
    if (found == earlier_.end()) {
        return nullptr;
    }
    const JournalEntry& entry = found->second;
    if (!entry.result.success || entry.frameName != job.frame.uniqueName || entry.result.path != path) {
        return nullptr;
    }
    const auto key = std::make_pair(job.position, angle);
    auto verdict = refusals_.find(key);
    if (verdict == refusals_.end()) {
        const std::string refusal = entry.geometry != job.geometry
                                        ? "the frame's geometry differs from the journal's run"
                                        : takeOverRefusal(entry, config_.output_dir);
        verdict = refusals_.emplace(key, refusal).first;
    }
    if (!verdict->second.empty() && explain) {
        Logger::instance().info("Rendering " + path + " again: " + verdict->second);
    }
    return verdict->second.empty() ? &entry : nullptr;
}

RenderBatch::Replay RenderBatch::replayedDecision(FrameJob& job) const
{
    if (!config_.resume) {
        return Replay::None;
    }
    // A written image says the frame was rendered; failed images alone say
    // nothing sure (the pre-check itself may have failed): it is looked at again.
    Replay replay = Replay::None;
    for (const std::string& angle : config_.angles) {
        const auto found = earlier_.find({job.position, angle});
        // A frame whose geometry changed is looked at afresh.
        if (found == earlier_.end() || found->second.frameName != job.frame.uniqueName ||
            found->second.geometry != job.geometry) {
            continue;
        }
        if (found->second.result.skipped) {
            job.reason = found->second.result.note;
            return Replay::Skipped;
        }
        replay = found->second.result.success ? Replay::Rendered : replay;
    }
    return replay;
}

void RenderBatch::prepareFrame(ImagePipeline& pipeline, FrameJob& job)
{
    job.geometry = frameGeometry(job.frame);
    if (!job.frame.unusable.empty()) {
        // A frame that cannot be placed over the model fails without a look.
        job.precheck = Precheck::Fail;
        job.reason = std::string(kFrameUnplaced) + job.frame.unusable;
        // One line for the frame, not one per angle: the cause is the frame's.
        std::string angles;
        for (const std::string& angle : config_.angles) {
            angles += (angles.empty() ? "" : ",") + angle;
        }
        Logger::instance().error(runMessage(
            RunMessage::FailedFrame, {job.frame.name, angles, std::string(kUnplacedReason) + job.frame.unusable}));
        if (!namesAllFrames_) {
            job.names = planNames(job.frame);
        }
        return;
    }
    // An earlier run decided already: its decision stands, so that the
    // names that follow are the ones it gave.
    const Replay replay = replayedDecision(job);
    if (replay == Replay::Skipped) {
        job.precheck = Precheck::Skip;
        job.skipTakenOver = true;
        Logger::instance().warn(formatLine(SkipFrame{job.frame.name, job.reason}));
        return;
    }
    if (replay == Replay::Rendered) {
        job.precheck = Precheck::Render;
    } else {
        job.precheck = precheckFrame(job.frame, job.reason);
    }
    if (job.precheck == Precheck::Skip) {
        return;
    }
    if (!namesAllFrames_) {
        job.names = planNames(job.frame);
    }
    const bool topWanted = std::find(config_.angles.begin(), config_.angles.end(), "top") != config_.angles.end();
    if (replay == Replay::None && job.precheck == Precheck::Render && options_.reuse && topWanted &&
        !renderer_.tilesIncomplete()) {
        try {
            job.precheckSetup = camera_.computeSetup(job.frame, "top");
            job.precheckPicture = pipeline.snapshot(*renderer_.captureImage());
        } catch (const std::exception&) {
            job.precheckPicture.reset();  // the top image is then rendered again
        }
    }
}

void RenderBatch::record(const FrameJob& job, const std::string& angle, const ImageResult& result,
                         const FileDigest* written)
{
    JournalEntry entry;
    entry.batch = batch_;
    entry.frame = job.position;
    entry.frameName = job.frame.uniqueName;
    entry.angle = angle;
    entry.result = result;
    entry.geometry = job.geometry;
    entry.namesAllFrames = namesAllFrames_;
    if (result.success && written) {
        entry.size = static_cast<std::int64_t>(written->size);
        entry.hash = formatContentHash(written->hash);
    }
    const PolygonFrame& f = job.frame;
    const double bounds[4] = {f.minX, f.minY, f.maxX, f.maxY};
    const double heights[3] = {f.minZ, f.maxZ, f.centerZ};
    std::copy(bounds, bounds + 4, entry.bounds);
    std::copy(heights, heights + 3, entry.heights);
    std::string error;
    if (!journal_.append(entry, error) && !journalFailed_) {
        journalFailed_ = true;
        Logger::instance().emit(Logger::Error, "Cannot write the run journal: " + error);
    }
}

// One angle of a frame on its way through the pipeline: its results, the
// writes in flight and the placement the main and the outline image share.
struct RenderBatch::ImageWork {
    std::string angle;
    std::shared_ptr<ImageResult> result = std::make_shared<ImageResult>();
    std::shared_ptr<ImageResult> range;  // the outline image, when there is one
    ImagePipeline::WriteHandle mainWrite;
    ImagePipeline::WriteHandle rangeWrite;
    Clock::time_point imageStart = Clock::now();
    Clock::time_point rangeStart = imageStart;
    bool mainTaken = false;  // taken over from an earlier run's journal
    bool rangeTaken = false;
    bool mainIncomplete = false;  // its tiles were still loading at tile_load_timeout
    bool rangeIncomplete = false;
    CameraSetup setup;
    OcclusionChoice choice;
    bool placed = false;
};

void RenderBatch::placeCamera(osg::Node* scene, const PolygonFrame& frame, ImageWork& work)
{
    if (!work.placed) {
        work.setup = chooseCamera(config_, scene, frame, work.angle, work.choice);
        work.placed = true;
    }
}

bool RenderBatch::renderMainImage(ImagePipeline& pipeline, osg::Node* scene, const FrameJob& job,
                                  const AngleNames& names, ImageWork& work)
{
    const std::string& angle = work.angle;
    ImageResult& result = *work.result;
    if (!names.image.error.empty()) {
        failImage(job.frame, work, names.image.error);
        return false;
    }
    if (const JournalEntry* earlier = takenOver(job, angle, names.image.path, true)) {
        result = earlier->result;
        work.mainTaken = true;
        Logger::instance().info("Resumed " + result.path);
        if (angle == "top" && config_.world_file) {
            // A run killed between the picture and its world file left none.
            placeCamera(scene, job.frame, work);
            work.mainWrite =
                pipeline.putBackWorldFiles(result.path, *worldFilesFor(config_, options_.worldFileCrs, work.setup));
        }
        return true;
    }
    placeCamera(scene, job.frame, work);
    result.occlusionScore = work.choice.score;
    result.viewAngle = work.choice.viewAngle;
    result.path = names.image.path;
    ImagePipeline::Picture picture;
    if (angle == "top" && job.precheckPicture && sameSetup(work.setup, job.precheckSetup)) {
        picture = job.precheckPicture;  // the pre-check drew exactly this, with nothing left to load
    } else if (renderer_.renderModel(work.setup)) {
        work.mainIncomplete = noteIncomplete(job.frame, angle);
        picture = pipeline.forWriting(*renderer_.captureImage());
    } else {
        logRenderError();
    }
    if (work.mainIncomplete) {
        result.note = kTilesIncomplete;  // written all the same, but it fails
    }
    if (picture) {
        const auto world = angle == "top" ? worldFilesFor(config_, options_.worldFileCrs, work.setup) : std::nullopt;
        work.mainWrite = pipeline.write(std::move(picture), result.path, thumbnailFor(job.frame, angle), world);
    }
    return true;
}

void RenderBatch::renderOutlineImage(ImagePipeline& pipeline, osg::Node* scene, const FrameJob& job,
                                     const AngleNames& names, ImageWork& work)
{
    ImageResult& range = *work.range;
    if (!names.outline.error.empty()) {
        // The outline image has no name: it fails on its own.
        range.note = names.outline.error;
        Logger::instance().error(
            runMessage(RunMessage::FailedFrame, {job.frame.name, work.angle, names.outline.error}));
        return;
    }
    if (const JournalEntry* earlier = takenOver(job, "top_range", names.outline.path, true)) {
        range = earlier->result;
        work.rangeTaken = true;
        Logger::instance().info("Resumed " + range.path);
        if (config_.world_file) {
            placeCamera(scene, job.frame, work);
            work.rangeWrite =
                pipeline.putBackWorldFiles(range.path, *worldFilesFor(config_, options_.worldFileCrs, work.setup));
        }
        return;
    }
    placeCamera(scene, job.frame, work);
    work.rangeStart = Clock::now();
    range.path = names.outline.path;
    range.occlusionScore = work.result->occlusionScore;
    range.viewAngle = work.result->viewAngle;
    if (renderRangeLineFrame(renderer_, work.setup, job.frame)) {
        work.rangeIncomplete = noteIncomplete(job.frame, "top_range");
        if (work.rangeIncomplete) {
            range.note = kTilesIncomplete;
        }
        work.rangeWrite = pipeline.write(pipeline.forWriting(*renderer_.captureImage()), range.path,
                                         thumbnailFor(job.frame, "top_range"),
                                         worldFilesFor(config_, options_.worldFileCrs, work.setup));
    } else {
        logRenderError();
    }
}

void RenderBatch::failImage(const PolygonFrame& frame, ImageWork& work, const std::string& reason)
{
    work.result->note = reason;
    Logger::instance().error(runMessage(RunMessage::FailedFrame, {frame.name, work.angle, reason}));
    ImageResult* range = work.range.get();
    if (range && !work.rangeWrite.valid() && !work.rangeTaken && range->path.empty() && range->note.empty()) {
        range->note = reason;  // the outline image fails with its image
    }
}

void RenderBatch::renderImage(ImagePipeline& pipeline, osg::Node* scene, const std::shared_ptr<const FrameJob>& jobPtr,
                              std::size_t angleIndex)
{
    const FrameJob& job = *jobPtr;
    auto work = std::make_shared<ImageWork>();
    work->angle = config_.angles[angleIndex];
    if (config_.output_top_range && work->angle == "top") {
        work->range = std::make_shared<ImageResult>();
    }
    if (job.precheck == Precheck::Skip || job.precheck == Precheck::Fail) {
        for (ImageResult* image : {work->result.get(), work->range.get()}) {
            if (image) {
                image->skipped = job.precheck == Precheck::Skip;
                image->note = job.reason;
            }
        }
    } else {
        static const AngleNames kUnnamed;  // a skipped frame's images have no names
        const AngleNames& names = angleIndex < job.names.size() ? job.names[angleIndex] : kUnnamed;
        try {
            if (renderMainImage(pipeline, scene, job, names, *work) && work->range) {
                renderOutlineImage(pipeline, scene, job, names, *work);
            }
        } catch (const std::exception& e) {
            failImage(job.frame, *work, e.what());  // the camera or the renderer could not go on
        }
    }
    pipeline.then([this, jobPtr, work, precheck = job.precheck, journaled = !job.skipTakenOver] {
        settleImage(*jobPtr, *work, precheck, journaled);
    });
}

void RenderBatch::settleImage(const FrameJob& job, ImageWork& work, Precheck precheck, bool journaled)
{
    Tally& t = tally_;
    ImageResult& result = *work.result;
    ImageResult* range = work.range.get();
    const auto now = Clock::now();
    if (precheck == Precheck::Skip) {
        ++t.skipped;
    } else {
        if (!work.mainTaken) {
            result.success = work.mainWrite.valid() && work.mainWrite.get().written && !work.mainIncomplete;
            refused_ = refused_ || (work.mainWrite.valid() && work.mainWrite.get().refused);
        }
        noteWorldFiles(result, work.mainWrite);
        ++(result.success ? t.succeeded : t.failed);
        if (range && !work.rangeTaken) {
            range->success = work.rangeWrite.valid() && work.rangeWrite.get().written && !work.rangeIncomplete;
            range->seconds =
                secondsBetween(work.rangeStart, work.rangeWrite.valid() ? work.rangeWrite.get().finished : now);
        }
        if (range) {
            noteWorldFiles(*range, work.rangeWrite);
        }
        t.failed += range && !range->success ? 1 : 0;
    }
    if (!work.mainTaken) {
        result.seconds = secondsBetween(work.imageStart, now);
    }
    FrameResults& frameResults = results_[static_cast<std::size_t>(job.position)];
    if (range) {
        frameResults["top_range"] = *range;
        refused_ = refused_ || (work.rangeWrite.valid() && work.rangeWrite.get().refused);
    }
    frameResults[work.angle] = result;
    // The journal learns of an image only once its file is in place.
    if (journaled && !work.mainTaken) {
        record(job, work.angle, result, work.mainWrite.valid() ? &work.mainWrite.get().digest : nullptr);
    }
    if (journaled && range && !work.rangeTaken) {
        record(job, "top_range", *range, work.rangeWrite.valid() ? &work.rangeWrite.get().digest : nullptr);
    }

    ++t.done;
    const double elapsed = secondsBetween(t.start, now);
    const double average = t.done > 0 ? elapsed / t.done : 0.0;
    const double eta = std::max(0, t.totalImages - t.done) * average;
    Logger::instance().emit(Logger::Info,
                            formatLine(ImageProgress{t.done, t.totalImages, t.frameNumber(job.position), t.totalFrames,
                                                     elapsed, eta, work.angle, result.success}));
}

bool RenderBatch::run(osg::Node* scene, const std::vector<PolygonFrame>& frames)
{
    Logger& log = Logger::instance();
    if (!scene) {
        log.error(runMessage(RunMessage::NullScene));
        return false;
    }
    if (frames.empty()) {
        log.warn("No SHP frames to render.");
        return true;
    }
    std::vector<std::string> errors;
    if (!renderer_.initialize(scene, errors)) {
        for (const std::string& error : errors) {
            log.error(error);
        }
        return false;
    }
    renderer_.setReuseSettledPlacement(options_.reuse);
    if (!startRun(frames)) {
        return false;
    }
    renderFrames(scene, frames);
    return finishRun(frames);
}

bool RenderBatch::startRun(const std::vector<PolygonFrame>& frames)
{
    Logger& log = Logger::instance();
    const int shard = config_.shard_index;
    const int shards = std::max(1, config_.shard_count);
    batch_ = batchFingerprint(config_, model_);
    refusals_.clear();
    refused_ = false;
    std::string journalError;
    if (!journal_.open(config_.output_dir, shard, shards, config_.resume, batchLine(config_, model_), journalError)) {
        log.error(journal_.locked()
                      ? runMessage(RunMessage::JournalLocked, {journal_.lockHolder(), config_.output_dir, journalError})
                  : journal_.refused() ? runMessage(RunMessage::SymlinkRefused, {journalError})
                                       : runMessage(RunMessage::JournalFailed, {journalError}));
        return false;
    }
    if (!journal_.lockProblem().empty()) {
        log.warn("Cannot lock the run journal, so another run on this folder would go unnoticed: " +
                 journal_.lockProblem());
    }
    earlier_ = config_.resume ? readJournals(config_.output_dir, batch_) : JournalIndex{};
    const std::string nothing =
        config_.resume ? nothingTakenOver(config_.output_dir, earlier_, config_, model_) : std::string();
    if (!nothing.empty()) {
        log.warn("Resume takes nothing over: " + nothing);
    }
    if (shards > 1 || config_.resume) {
        log.info(formatLine(RunState{shard, shards, config_.resume}));
    }
    namesAllFrames_ = shards > 1 || std::any_of(earlier_.begin(), earlier_.end(),
                                                [](const auto& entry) { return entry.second.namesAllFrames; });
    results_.assign(frames.size(), FrameResults{});
    tally_ = Tally{};
    tally_.totalFrames = static_cast<int>(shardPositions(frames.size()).size());
    tally_.totalImages = tally_.totalFrames * static_cast<int>(config_.angles.size());
    tally_.shards = shards;
    tally_.start = Clock::now();
    stopped_ = false;
    journalFailed_ = false;
    return true;
}

std::vector<int> RenderBatch::shardPositions(std::size_t frameCount) const
{
    const int shards = std::max(1, config_.shard_count);
    std::vector<int> mine;
    for (int p = 0; p < static_cast<int>(frameCount); ++p) {
        if (p % shards == config_.shard_index) {
            mine.push_back(p);
        }
    }
    return mine;
}

void RenderBatch::renderFrames(osg::Node* scene, const std::vector<PolygonFrame>& frames)
{
    const int shard = config_.shard_index;
    const int shards = std::max(1, config_.shard_count);
    ImagePipeline pipeline(config_, options_.pipelined ? config_.num_threads : 0);
    for (int p = 0; p < static_cast<int>(frames.size()) && !stopped_; ++p) {
        if (stopRequested()) {
            stopped_ = true;
            break;
        }
        const PolygonFrame& frame = frames[static_cast<std::size_t>(p)];
        // In a sharded batch every frame is named, in order, so that all shards agree.
        auto job = std::make_shared<FrameJob>(
            FrameJob{frame, p, namesAllFrames_ ? planNames(frame) : std::vector<AngleNames>(), std::string(),
                     Precheck::Render, std::string(), false, CameraSetup(), nullptr});
        if (p % shards != shard) {
            continue;
        }
        Logger::instance().info(formatLine(FrameProgress{tally_.frameNumber(p), tally_.totalFrames, job->frame.name}));
        if (options_.beforeFrame) {
            options_.beforeFrame(static_cast<std::size_t>(p), renderer_);
        }
        prepareFrame(pipeline, *job);
        for (std::size_t a = 0; a < config_.angles.size(); ++a) {
            if (stopRequested()) {
                stopped_ = true;
                break;
            }
            renderImage(pipeline, scene, job, a);
        }
        job->precheckPicture.reset();  // the buffer is free for the next frame
    }
    pipeline.drain();
    writeSeconds_ = pipeline.writeSeconds();
    bufferWaitSeconds_ = pipeline.bufferWaitSeconds();
    writersStarted_ = pipeline.writersStarted();
}

bool RenderBatch::finishRun(const std::vector<PolygonFrame>& frames)
{
    Logger& log = Logger::instance();
    const int shard = config_.shard_index;
    const int shards = std::max(1, config_.shard_count);
    if (stopped_) {
        log.warn("Stopped by signal");
    }
    // The report covers this shard's frames.
    std::vector<PolygonFrame> reportFrames;
    ResultsTable reportResults;
    for (const int p : shardPositions(frames.size())) {
        reportFrames.push_back(frames[static_cast<std::size_t>(p)]);
        reportResults.push_back(results_[static_cast<std::size_t>(p)]);
    }
    bool reported = writeRenderReport(config_, names_, reportFrames, reportResults, reportFileName(shard, shards));
    if (config_.html_report) {
        reported =
            writeHtmlReport(config_, reportFrames, reportResults, reportFileName(shard, shards, "html")) && reported;
    }
    // A stop that arrives while the reports are written ends the run as stopped,
    // once they are complete.
    if (!stopped_ && stopRequested()) {
        stopped_ = true;
        log.warn("Stopped by signal");
    }
    // The summary counts what the report shows, outline images included.
    const ImageCounts counts = countImages(config_, reportResults);
    log.info(formatLine(
        RunFinished{counts.written, counts.planned(), counts.skipped, counts.failed, shard, shards, counts.notDone}));
    return counts.failed == 0 && reported && !journalFailed_ && !refused_;
}

}  // namespace vistrel
