#include "app/RenderBatch.h"

#include "app/RenderReport.h"
#include "app/StopSignal.h"
#include "core/Logger.h"
#include "core/NumberText.h"
#include "render/OcclusionAvoidance.h"
#include "render/RangeLine.h"
#include "render/VerticalCheck.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>

namespace vistrel {

namespace {

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count() / 1e9;
}

bool sameSetup(const CameraSetup& a, const CameraSetup& b)
{
    return a.eye == b.eye && a.center == b.center && a.up == b.up && a.orthoWidth == b.orthoWidth &&
           a.orthoHeight == b.orthoHeight;
}

}  // namespace

std::string imageProgressLine(int done, int totalImages, int frame, int totalFrames, double elapsed, double eta,
                              const std::string& angle, bool success)
{
    return "IMAGE_PROGRESS image=" + std::to_string(done) + " total_images=" + std::to_string(totalImages) +
           " frame=" + std::to_string(frame) + " total_frames=" + std::to_string(totalFrames) +
           " elapsed=" + fixedNumber(elapsed, 2) + " eta=" + fixedNumber(eta, 2) + " angle=" + angle +
           " success=" + (success ? "1" : "0");
}

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
    Logger::instance().warn("SKIP_FRAME name=" + frame.name + " reason=" + reason);
    return Precheck::Skip;
}

void RenderBatch::noteWarmupCap(const PolygonFrame& frame, const std::string& angle)
{
    if (renderer_.warmupCapReached()) {
        Logger::instance().warn("Warm-up cap of " + std::to_string(std::max(config_.warmup_frames, 64)) +
                                " draws reached with tiles still loading for " + frame.name + " angle " + angle);
    }
}

void RenderBatch::renderImage(ImagePipeline& pipeline, osg::Node* scene, const FrameJob& job, const std::string& angle)
{
    const PolygonFrame& frame = job.frame;
    const auto imageStart = Clock::now();
    const bool withRangeLine = config_.output_top_range && angle == "top";
    auto result = std::make_shared<ImageResult>();
    std::shared_ptr<ImageResult> range = withRangeLine ? std::make_shared<ImageResult>() : nullptr;
    ImagePipeline::WriteHandle mainWrite;
    ImagePipeline::WriteHandle rangeWrite;
    auto rangeStart = imageStart;

    if (job.precheck == Precheck::Skip || job.precheck == Precheck::Fail) {
        result->skipped = job.precheck == Precheck::Skip;
        result->note = job.reason;
        if (range) {
            range->skipped = result->skipped;
            range->note = job.reason;
        }
    } else {
        try {
            OcclusionChoice choice;
            const CameraSetup setup = chooseCamera(config_, scene, frame, angle, choice);
            result->occlusionScore = choice.score;
            result->viewAngle = choice.viewAngle;
            result->path = names_.buildPhotoPath(frame, angle);
            ImagePipeline::Picture picture;
            if (angle == "top" && job.precheckPicture && sameSetup(setup, job.precheckSetup)) {
                picture = job.precheckPicture;  // the pre-check drew exactly this, with nothing left to load
            } else if (renderer_.renderModel(setup)) {
                noteWarmupCap(frame, angle);
                picture = pipeline.forWriting(*renderer_.captureImage());
            }
            if (picture) {
                mainWrite = pipeline.write(std::move(picture), result->path);
            }
            if (range) {
                rangeStart = Clock::now();
                range->path = names_.buildPhotoPath(frame, "top_range");
                range->occlusionScore = result->occlusionScore;
                range->viewAngle = result->viewAngle;
                if (renderRangeLineFrame(renderer_, setup, frame)) {
                    noteWarmupCap(frame, "top_range");
                    rangeWrite = pipeline.write(pipeline.forWriting(*renderer_.captureImage()), range->path);
                }
            }
        } catch (const std::exception& e) {
            result->note = e.what();
            Logger::instance().error("Failed frame " + frame.name + " angle " + angle + ": " + e.what());
            if (range && !rangeWrite.valid() && range->path.empty()) {
                range = nullptr;  // the outline image was never started
            }
        }
    }

    const int position = job.position;
    pipeline.then([this, result, range, mainWrite, rangeWrite, imageStart, rangeStart, position, angle,
                   precheck = job.precheck] {
        Tally& t = tally_;
        if (precheck == Precheck::Skip) {
            ++t.skipped;
        } else {
            result->success = mainWrite.valid() && mainWrite.get().written;
            ++(result->success ? t.succeeded : t.failed);
            if (range) {
                range->success = rangeWrite.valid() && rangeWrite.get().written;
                t.failed += range->success ? 0 : 1;
                range->seconds = secondsBetween(rangeStart, rangeWrite.valid() ? rangeWrite.get().finished
                                                                               : Clock::now());
            }
        }
        const auto now = Clock::now();
        result->seconds = secondsBetween(imageStart, now);
        FrameResults& frameResults = results_[static_cast<std::size_t>(position)];
        if (range) {
            frameResults["top_range"] = *range;
        }
        frameResults[angle] = *result;

        ++t.done;
        const double elapsed = secondsBetween(t.start, now);
        const double average = t.done > 0 ? elapsed / t.done : 0.0;
        const double eta = std::max(0, t.totalImages - t.done) * average;
        Logger::instance().emit(Logger::Info, imageProgressLine(t.done, t.totalImages, position + 1, t.totalFrames,
                                                                elapsed, eta, angle, result->success));
    });
}

bool RenderBatch::run(osg::Node* scene, const std::vector<PolygonFrame>& frames)
{
    Logger& log = Logger::instance();
    if (!scene) {
        log.error("Renderer received null scene.");
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
    const bool topWanted = std::find(config_.angles.begin(), config_.angles.end(), "top") != config_.angles.end();

    results_.assign(frames.size(), FrameResults{});
    tally_ = Tally{};
    tally_.totalFrames = static_cast<int>(frames.size());
    tally_.totalImages = tally_.totalFrames * static_cast<int>(config_.angles.size());
    tally_.start = Clock::now();
    stopped_ = false;
    {
        ImagePipeline pipeline(config_, options_.pipelined ? config_.num_threads : 0);
        for (int f = 0; f < tally_.totalFrames && !stopped_; ++f) {
            if (stopRequested()) {
                stopped_ = true;
                break;
            }
            FrameJob job{frames[static_cast<std::size_t>(f)], f};
            log.info("FRAME_PROGRESS frame=" + std::to_string(f + 1) + " total_frames=" +
                     std::to_string(tally_.totalFrames) + " name=" + job.frame.name);
            job.precheck = precheckFrame(job.frame, job.reason);
            if (job.precheck == Precheck::Render) {
                noteWarmupCap(job.frame, "top");
                if (options_.reuse && topWanted && renderer_.pagerIdle()) {
                    job.precheckSetup = camera_.computeSetup(job.frame, "top");
                    job.precheckPicture = pipeline.snapshot(*renderer_.captureImage());
                }
            }
            for (const std::string& angle : config_.angles) {
                if (stopRequested()) {
                    stopped_ = true;
                    break;
                }
                renderImage(pipeline, scene, job, angle);
            }
        }
        pipeline.drain();
        writeSeconds_ = pipeline.writeSeconds();
        bufferWaitSeconds_ = pipeline.bufferWaitSeconds();
    }

    if (stopped_) {
        log.warn("Stopped by signal");
    }
    const bool reported = writeRenderReport(config_, names_, frames, results_);
    log.info("Render finished. Success " + std::to_string(tally_.succeeded) + "/" + std::to_string(tally_.totalImages) +
             ", skipped " + std::to_string(tally_.skipped) + ", failed " + std::to_string(tally_.failed));
    return tally_.failed == 0 && reported;
}

}  // namespace vistrel
