#include "app/RenderBatch.h"

#include "app/HtmlReport.h"
#include "app/RenderReport.h"
#include "app/StopSignal.h"
#include "core/Logger.h"
#include "core/NumberText.h"
#include "core/RunProtocol.h"
#include "output/ImageWriter.h"
#include "output/WorldFile.h"
#include "render/OcclusionAvoidance.h"
#include "render/RangeLine.h"
#include "render/VerticalCheck.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

// With world_file, the world file (and .prj) of a vertical picture.
void writeWorldFilesFor(const RenderConfig& config, const std::string& crs, const std::string& name,
                        const CameraSetup& setup)
{
    if (config.world_file) {
        const PictureFootprint footprint{setup.center.x(),  setup.center.y(), setup.orthoWidth,
                                         setup.orthoHeight, config.width,     config.height};
        writeWorldFiles(resolveOutputPath(name, config.output_format), footprint, crs);
    }
}

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count() / 1e9;
}

// The remark of a picture taken with tiles still loading.
constexpr const char* kTilesIncomplete = "瓦片未加载完成";

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

void RenderBatch::renderImage(ImagePipeline& pipeline, osg::Node* scene, const std::shared_ptr<const FrameJob>& jobPtr,
                              std::size_t angleIndex)
{
    const FrameJob& job = *jobPtr;
    const PolygonFrame& frame = job.frame;
    const std::string& angle = config_.angles[angleIndex];
    static const AngleNames kUnnamed;  // a skipped frame's images have no names
    const AngleNames& names = angleIndex < job.names.size() ? job.names[angleIndex] : kUnnamed;
    Logger& log = Logger::instance();
    const auto imageStart = Clock::now();
    const bool withRangeLine = config_.output_top_range && angle == "top";
    auto result = std::make_shared<ImageResult>();
    std::shared_ptr<ImageResult> range = withRangeLine ? std::make_shared<ImageResult>() : nullptr;
    ImagePipeline::WriteHandle mainWrite;
    ImagePipeline::WriteHandle rangeWrite;
    auto rangeStart = imageStart;
    const JournalEntry* mainEarlier = nullptr;
    const JournalEntry* rangeEarlier = nullptr;
    bool mainIncomplete = false;
    bool rangeIncomplete = false;

    if (job.precheck == Precheck::Skip || job.precheck == Precheck::Fail) {
        result->skipped = job.precheck == Precheck::Skip;
        result->note = job.reason;
        if (range) {
            range->skipped = result->skipped;
            range->note = job.reason;
        }
    } else {
        try {
            if (!names.image.error.empty()) {
                throw std::runtime_error(names.image.error);
            }
            CameraSetup setup;
            OcclusionChoice choice;
            bool placed = false;
            const auto place = [&] {
                if (!placed) {
                    setup = chooseCamera(config_, scene, frame, angle, choice);
                    placed = true;
                }
            };
            mainEarlier = takenOver(job, angle, names.image.path, true);
            if (mainEarlier) {
                *result = mainEarlier->result;
                log.info("Resumed " + result->path);
            } else {
                place();
                result->occlusionScore = choice.score;
                result->viewAngle = choice.viewAngle;
                result->path = names.image.path;
                ImagePipeline::Picture picture;
                if (angle == "top" && job.precheckPicture && sameSetup(setup, job.precheckSetup)) {
                    picture = job.precheckPicture;  // the pre-check drew exactly this, with nothing left to load
                } else if (renderer_.renderModel(setup)) {
                    mainIncomplete = noteIncomplete(frame, angle);
                    picture = pipeline.forWriting(*renderer_.captureImage());
                }
                if (mainIncomplete) {
                    result->note = kTilesIncomplete;  // written all the same, but it fails
                }
                if (picture) {
                    mainWrite = pipeline.write(std::move(picture), result->path, thumbnailFor(frame, angle));
                    if (angle == "top") {
                        writeWorldFilesFor(config_, options_.worldFileCrs, result->path, setup);
                    }
                }
            }
            if (range && !names.outline.error.empty()) {
                // The outline image has no name: it fails on its own.
                range->note = names.outline.error;
                log.error(runMessage(RunMessage::FailedFrame, {frame.name, angle, names.outline.error}));
            } else if (range) {
                rangeEarlier = takenOver(job, "top_range", names.outline.path, true);
                if (rangeEarlier) {
                    *range = rangeEarlier->result;
                    log.info("Resumed " + range->path);
                } else {
                    place();
                    rangeStart = Clock::now();
                    range->path = names.outline.path;
                    range->occlusionScore = result->occlusionScore;
                    range->viewAngle = result->viewAngle;
                    if (renderRangeLineFrame(renderer_, setup, frame)) {
                        rangeIncomplete = noteIncomplete(frame, "top_range");
                        if (rangeIncomplete) {
                            range->note = kTilesIncomplete;
                        }
                        rangeWrite = pipeline.write(pipeline.forWriting(*renderer_.captureImage()), range->path,
                                                    thumbnailFor(frame, "top_range"));
                        writeWorldFilesFor(config_, options_.worldFileCrs, range->path, setup);
                    }
                }
            }
        } catch (const std::exception& e) {
            result->note = e.what();
            log.error(runMessage(RunMessage::FailedFrame, {frame.name, angle, e.what()}));
            if (range && !rangeWrite.valid() && !rangeEarlier && range->path.empty() && range->note.empty()) {
                range->note = e.what();  // the outline image fails with its image
            }
        }
    }

    pipeline.then([this, jobPtr, result, range, mainWrite, rangeWrite, imageStart, rangeStart, angle,
                   mainTaken = mainEarlier != nullptr, rangeTaken = rangeEarlier != nullptr, precheck = job.precheck,
                   journaled = !job.skipTakenOver, mainIncomplete, rangeIncomplete] {
        const FrameJob& job = *jobPtr;
        Tally& t = tally_;
        const auto now = Clock::now();
        if (precheck == Precheck::Skip) {
            ++t.skipped;
        } else {
            if (!mainTaken) {
                result->success = mainWrite.valid() && mainWrite.get().written && !mainIncomplete;
                refused_ = refused_ || (mainWrite.valid() && mainWrite.get().refused);
            }
            ++(result->success ? t.succeeded : t.failed);
            if (range && !rangeTaken) {
                range->success = rangeWrite.valid() && rangeWrite.get().written && !rangeIncomplete;
                range->seconds = secondsBetween(rangeStart, rangeWrite.valid() ? rangeWrite.get().finished : now);
            }
            t.failed += range && !range->success ? 1 : 0;
        }
        if (!mainTaken) {
            result->seconds = secondsBetween(imageStart, now);
        }
        FrameResults& frameResults = results_[static_cast<std::size_t>(job.position)];
        if (range) {
            frameResults["top_range"] = *range;
            refused_ = refused_ || (rangeWrite.valid() && rangeWrite.get().refused);
        }
        frameResults[angle] = *result;
        // The journal learns of an image only once its file is in place.
        if (journaled && !mainTaken) {
            record(job, angle, *result, mainWrite.valid() ? &mainWrite.get().digest : nullptr);
        }
        if (journaled && range && !rangeTaken) {
            record(job, "top_range", *range, rangeWrite.valid() ? &rangeWrite.get().digest : nullptr);
        }

        ++t.done;
        const double elapsed = secondsBetween(t.start, now);
        const double average = t.done > 0 ? elapsed / t.done : 0.0;
        const double eta = std::max(0, t.totalImages - t.done) * average;
        Logger::instance().emit(Logger::Info,
                                formatLine(ImageProgress{t.done, t.totalImages, t.frameNumber(job.position),
                                                         t.totalFrames, elapsed, eta, angle, result->success}));
    });
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
    if (!renderer_.initialize(scene)) {
        return false;
    }
    renderer_.setReuseSettledPlacement(options_.reuse);

    const int shard = config_.shard_index;
    const int shards = std::max(1, config_.shard_count);
    batch_ = batchFingerprint(config_, model_);
    earlier_ = config_.resume ? readJournals(config_.output_dir, batch_) : JournalIndex{};
    refusals_.clear();
    refused_ = false;
    std::string journalError;
    if (!journal_.open(config_.output_dir, shard, shards, config_.resume, journalError)) {
        log.error(journal_.refused() ? runMessage(RunMessage::SymlinkRefused, {journalError})
                                     : runMessage(RunMessage::JournalFailed, {journalError}));
        return false;
    }
    if (shards > 1 || config_.resume) {
        log.info(formatLine(RunState{shard, shards, config_.resume}));
    }
    namesAllFrames_ = shards > 1 || std::any_of(earlier_.begin(), earlier_.end(),
                                                [](const auto& entry) { return entry.second.namesAllFrames; });

    std::vector<int> mine;
    for (int p = 0; p < static_cast<int>(frames.size()); ++p) {
        if (p % shards == shard) {
            mine.push_back(p);
        }
    }
    results_.assign(frames.size(), FrameResults{});
    tally_ = Tally{};
    tally_.totalFrames = static_cast<int>(mine.size());
    tally_.totalImages = tally_.totalFrames * static_cast<int>(config_.angles.size());
    tally_.shards = shards;
    tally_.start = Clock::now();
    stopped_ = false;
    journalFailed_ = false;
    {
        ImagePipeline pipeline(config_, options_.pipelined ? config_.num_threads : 0);
        for (int p = 0; p < static_cast<int>(frames.size()); ++p) {
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
            log.info(formatLine(FrameProgress{tally_.frameNumber(p), tally_.totalFrames, job->frame.name}));
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
            if (stopped_) {
                break;
            }
        }
        pipeline.drain();
        writeSeconds_ = pipeline.writeSeconds();
        bufferWaitSeconds_ = pipeline.bufferWaitSeconds();
        writersStarted_ = pipeline.writersStarted();
    }

    if (stopped_) {
        log.warn("Stopped by signal");
    }
    // The report covers this shard's frames.
    std::vector<PolygonFrame> reportFrames;
    ResultsTable reportResults;
    for (const int p : mine) {
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
