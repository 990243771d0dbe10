#include "app/RenderBatch.h"

#include "app/HtmlReport.h"
#include "app/RenderReport.h"
#include "app/StopSignal.h"
#include "core/Logger.h"
#include "core/NumberText.h"
#include "core/RunProtocol.h"
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

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count() / 1e9;
}

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

void RenderBatch::noteWarmupCap(const PolygonFrame& frame, const std::string& angle)
{
    if (renderer_.warmupCapReached()) {
        Logger::instance().warn("Warm-up cap of " + std::to_string(std::max(config_.warmup_frames, 64)) +
                                " draws reached with tiles still loading for " + frame.name + " angle " + angle);
    }
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

const JournalEntry* RenderBatch::takenOver(const FrameJob& job, const std::string& angle, const std::string& path) const
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
    std::error_code ec;
    const bool present = fs::is_regular_file(path, ec) && static_cast<std::int64_t>(fs::file_size(path, ec)) == entry.size;
    return present && !ec ? &entry : nullptr;
}

void RenderBatch::prepareFrame(ImagePipeline& pipeline, FrameJob& job)
{
    if (config_.resume && !config_.angles.empty()) {
        // An earlier run skipped the frame: it is skipped again, for its reason.
        bool skippedBefore = true;
        for (const std::string& angle : config_.angles) {
            const auto found = earlier_.find({job.position, angle});
            if (found == earlier_.end() || !found->second.result.skipped ||
                found->second.frameName != job.frame.uniqueName) {
                skippedBefore = false;
                break;
            }
            job.reason = found->second.result.note;
        }
        if (skippedBefore) {
            job.precheck = Precheck::Skip;
            job.skipTakenOver = true;
            Logger::instance().warn(formatLine(SkipFrame{job.frame.name, job.reason}));
            return;
        }
        // Every image is there already: the frame need not be looked at again.
        bool allThere = true;
        for (std::size_t a = 0; a < config_.angles.size() && allThere; ++a) {
            const AngleNames& names = job.names[a];
            const bool outlinePlanned = !names.outline.path.empty() || !names.outline.error.empty();
            allThere = takenOver(job, config_.angles[a], names.image.path) &&
                       (!outlinePlanned || takenOver(job, "top_range", names.outline.path));
        }
        if (allThere) {
            job.precheck = Precheck::Render;
            return;
        }
    }
    job.precheck = precheckFrame(job.frame, job.reason);
    if (job.precheck == Precheck::Render) {
        noteWarmupCap(job.frame, "top");
        const bool topWanted = std::find(config_.angles.begin(), config_.angles.end(), "top") != config_.angles.end();
        if (options_.reuse && topWanted && renderer_.pagerIdle()) {
            try {
                job.precheckSetup = camera_.computeSetup(job.frame, "top");
                job.precheckPicture = pipeline.snapshot(*renderer_.captureImage());
            } catch (const std::exception&) {
                job.precheckPicture.reset();  // the top image is then rendered again
            }
        }
    }
}

void RenderBatch::record(const FrameJob& job, const std::string& angle, const ImageResult& result)
{
    JournalEntry entry;
    entry.batch = batch_;
    entry.frame = job.position;
    entry.frameName = job.frame.uniqueName;
    entry.angle = angle;
    entry.result = result;
    if (result.success) {
        std::error_code ec;
        const auto size = fs::file_size(result.path, ec);
        entry.size = ec ? -1 : static_cast<std::int64_t>(size);
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
    const AngleNames& names = job.names[angleIndex];
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
            mainEarlier = takenOver(job, angle, names.image.path);
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
                    noteWarmupCap(frame, angle);
                    picture = pipeline.forWriting(*renderer_.captureImage());
                }
                if (picture) {
                    mainWrite = pipeline.write(std::move(picture), result->path, thumbnailFor(frame, angle));
                }
            }
            if (range && !names.outline.error.empty()) {
                // The outline image has no name: it fails on its own.
                range->note = names.outline.error;
                log.error(runMessage(RunMessage::FailedFrame, {frame.name, angle, names.outline.error}));
            } else if (range) {
                rangeEarlier = takenOver(job, "top_range", names.outline.path);
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
                        noteWarmupCap(frame, "top_range");
                        rangeWrite = pipeline.write(pipeline.forWriting(*renderer_.captureImage()), range->path,
                                                    thumbnailFor(frame, "top_range"));
                    }
                }
            }
        } catch (const std::exception& e) {
            result->note = e.what();
            log.error(runMessage(RunMessage::FailedFrame, {frame.name, angle, e.what()}));
            if (range && !rangeWrite.valid() && !rangeEarlier && range->path.empty() && range->note.empty()) {
                range = nullptr;  // the outline image was never started
            }
        }
    }

    pipeline.then([this, jobPtr, result, range, mainWrite, rangeWrite, imageStart, rangeStart, angle,
                   mainTaken = mainEarlier != nullptr, rangeTaken = rangeEarlier != nullptr,
                   precheck = job.precheck, journaled = !job.skipTakenOver] {
        const FrameJob& job = *jobPtr;
        Tally& t = tally_;
        const auto now = Clock::now();
        if (precheck == Precheck::Skip) {
            ++t.skipped;
        } else {
            if (!mainTaken) {
                result->success = mainWrite.valid() && mainWrite.get().written;
            }
            ++(result->success ? t.succeeded : t.failed);
            if (range && !rangeTaken) {
                range->success = rangeWrite.valid() && rangeWrite.get().written;
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
        }
        frameResults[angle] = *result;
        // The journal learns of an image only once its file is in place.
        if (journaled && !mainTaken) {
            record(job, angle, *result);
        }
        if (journaled && range && !rangeTaken) {
            record(job, "top_range", *range);
        }

        ++t.done;
        const double elapsed = secondsBetween(t.start, now);
        const double average = t.done > 0 ? elapsed / t.done : 0.0;
        const double eta = std::max(0, t.totalImages - t.done) * average;
        Logger::instance().emit(Logger::Info, formatLine(ImageProgress{t.done, t.totalImages, t.frameNumber(job.position),
                                                                       t.totalFrames, elapsed, eta, angle,
                                                                       result->success}));
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
    batch_ = batchFingerprint(config_);
    earlier_ = config_.resume ? readJournals(config_.output_dir, batch_) : JournalIndex{};
    std::string journalError;
    if (!journal_.open(config_.output_dir, shard, shards, config_.resume, journalError)) {
        log.error(runMessage(RunMessage::JournalFailed, {journalError}));
        return false;
    }
    if (shards > 1 || config_.resume) {
        log.info(formatLine(RunState{shard, shards, config_.resume}));
    }

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
            // Every frame is named, in order, so that all shards agree on the names.
            auto job = std::make_shared<FrameJob>(FrameJob{frames[static_cast<std::size_t>(p)], p,
                                                           planNames(frames[static_cast<std::size_t>(p)])});
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
        reported = writeHtmlReport(config_, reportFrames, reportResults, reportFileName(shard, shards, "html")) &&
                   reported;
    }
    log.info(formatLine(RunFinished{tally_.succeeded, tally_.totalImages, tally_.skipped, tally_.failed, shard, shards}));
    return tally_.failed == 0 && reported && !journalFailed_;
}

}  // namespace vistrel
