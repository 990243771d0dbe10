#include "app/RenderBatch.h"

#include "app/RenderReport.h"
#include "app/SaveImage.h"
#include "app/StopSignal.h"
#include "core/Logger.h"
#include "core/NumberText.h"
#include "render/OcclusionAvoidance.h"
#include "render/RangeLine.h"
#include "render/VerticalCheck.h"

#include <algorithm>
#include <chrono>
#include <exception>

namespace vistrel {

namespace {

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count() / 1e9;
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

RenderBatch::RenderBatch(const RenderConfig& config)
    : config_(config), camera_(config), renderer_(config), names_(config)
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

    results_.assign(frames.size(), FrameResults{});
    const int totalFrames = static_cast<int>(frames.size());
    const int totalImages = totalFrames * static_cast<int>(config_.angles.size());
    int done = 0;
    int succeeded = 0;
    int skippedImages = 0;
    int failedImages = 0;
    const auto start = Clock::now();

    stopped_ = false;
    for (int f = 0; f < totalFrames && !stopped_; ++f) {
        if (stopRequested()) {
            stopped_ = true;
            break;
        }
        const PolygonFrame& frame = frames[static_cast<std::size_t>(f)];
        FrameResults& frameResults = results_[static_cast<std::size_t>(f)];
        log.info("FRAME_PROGRESS frame=" + std::to_string(f + 1) + " total_frames=" + std::to_string(totalFrames) +
                 " name=" + frame.name);
        std::string reason;
        const Precheck precheck = precheckFrame(frame, reason);
        const bool skip = precheck == Precheck::Skip;

        for (const std::string& angle : config_.angles) {
            if (stopRequested()) {
                stopped_ = true;
                break;
            }
            ImageResult result;
            const auto imageStart = Clock::now();
            const bool withRangeLine = config_.output_top_range && angle == "top";
            if (skip) {
                result.skipped = true;
                result.note = reason;
                if (withRangeLine) {
                    ImageResult rangeResult;
                    rangeResult.skipped = true;
                    rangeResult.note = reason;
                    frameResults["top_range"] = rangeResult;
                }
                ++skippedImages;
            } else if (precheck == Precheck::Fail) {
                result.note = reason;
                ++failedImages;
                if (withRangeLine) {
                    ImageResult rangeResult;
                    rangeResult.note = reason;
                    frameResults["top_range"] = rangeResult;
                    ++failedImages;
                }
            } else {
                try {
                    OcclusionChoice choice;
                    const CameraSetup setup = chooseCamera(config_, scene, frame, angle, choice);
                    result.occlusionScore = choice.score;
                    result.viewAngle = choice.viewAngle;
                    result.path = names_.buildPhotoPath(frame, angle);
                    if (renderer_.renderModel(setup) &&
                        saveImage(renderer_.captureImage(), config_, result.path)) {
                        ++succeeded;
                        result.success = true;
                    } else {
                        ++failedImages;
                    }
                    if (withRangeLine) {
                        ImageResult rangeResult;
                        const auto rangeStart = Clock::now();
                        rangeResult.path = names_.buildPhotoPath(frame, "top_range");
                        rangeResult.success = renderRangeLineFrame(renderer_, setup, frame) &&
                                              saveImage(renderer_.captureImage(), config_, rangeResult.path);
                        if (!rangeResult.success) {
                            ++failedImages;
                        }
                        rangeResult.occlusionScore = result.occlusionScore;
                        rangeResult.viewAngle = result.viewAngle;
                        rangeResult.seconds = secondsBetween(rangeStart, Clock::now());
                        frameResults["top_range"] = rangeResult;
                    }
                } catch (const std::exception& e) {
                    ++failedImages;
                    result.note = e.what();
                    log.error("Failed frame " + frame.name + " angle " + angle + ": " + e.what());
                }
            }
            const auto now = Clock::now();
            result.seconds = secondsBetween(imageStart, now);
            const bool success = result.success;
            frameResults[angle] = std::move(result);

            ++done;
            const double elapsed = secondsBetween(start, now);
            const double average = done > 0 ? elapsed / done : 0.0;
            const int remaining = std::max(0, totalImages - done);
            const double eta = remaining * average;
            log.info(imageProgressLine(done, totalImages, f + 1, totalFrames, elapsed, eta, angle, success));
        }
    }

    if (stopped_) {
        log.warn("Stopped by signal");
    }
    const bool reported = writeRenderReport(config_, names_, frames, results_);
    log.info("Render finished. Success " + std::to_string(succeeded) + "/" + std::to_string(totalImages) +
             ", skipped " + std::to_string(skippedImages) + ", failed " + std::to_string(failedImages));
    return failedImages == 0 && reported;
}

}  // namespace vistrel
