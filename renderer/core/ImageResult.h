#pragma once

#include <map>
#include <string>
#include <vector>

namespace vistrel {

// The outcome of one image of the batch.
struct ImageResult {
    bool success = false;  // the image file was written
    bool skipped = false;  // the frame was skipped by the pre-check
    std::string path;  // full path of the image (also set when writing failed)
    double seconds = 0.0;  // wall time spent on this image
    double occlusionScore = 0.0;
    double viewAngle = 0.0;
    std::string note;  // skip reason or error message
    // Share of the frame's surface the picture shows unobstructed; -1 when not measured.
    double visibleShare = -1.0;
};

// Adds `remark` to the result's note ("; " between remarks).
void addRemark(ImageResult& result, const std::string& remark);

// Per frame: angle key -> result (also "top_range" for the outline image).
using FrameResults = std::map<std::string, ImageResult>;
// One entry per frame, in frame order.
using ResultsTable = std::vector<FrameResults>;

// How an image ended, as the reports and the run's counts tell it.
enum class ImageOutcome { NotDone, Skipped, Written, Failed };
// The outcome of `result`; NotDone for none (the run was stopped before it).
ImageOutcome outcomeOf(const ImageResult* result);
// The reports' word for it: 未完成, 跳过, 成功 or 失败.
const char* outcomeWord(ImageOutcome outcome);

// The remarks (ImageResult::note) the batch gives images of its own accord.
// A picture taken with tiles still loading at tile_load_timeout: written, but failed.
inline constexpr const char* kRemarkTilesIncomplete = "瓦片未加载完成";
// The images of a frame whose points cannot be moved into the model's
// system; the reason follows.
inline constexpr const char* kRemarkFrameUnplaced = "图斑坐标无法转换到模型坐标系: ";
// A frame whose vertical view shows no model (the pre-check's measures may follow).
inline constexpr const char* kRemarkNoModel = "正射图斑范围内疑似无有效模型或图像异常";
// The pre-check could not look at the frame; the reason follows.
inline constexpr const char* kRemarkPrecheckFailed = "正射图质量检测失败: ";
// A picture that shows less than min_visible_share of its frame (written, and a success).
inline constexpr const char* kRemarkMostlyHidden = "图斑大部分被遮挡";
// A vertical picture of a frame with less than kFullModelShare of its area over the model.
inline constexpr const char* kRemarkPartlyOutside = "图斑部分在模型范围外";
inline constexpr double kFullModelShare = 0.95;
// What the contact sheet says of a failed image without a remark.
inline constexpr const char* kRemarkNotWritten = "图片未写出";

}  // namespace vistrel
