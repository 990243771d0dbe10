#include "app/RenderReport.h"

#include "core/RunProtocol.h"
#include "core/CameraAngle.h"
#include "core/Logger.h"
#include "core/NumberText.h"
#include "output/StagedFile.h"

#include <cstdio>
#include <exception>
#include <filesystem>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

constexpr const char* kByteOrderMark = "\xEF\xBB\xBF";
constexpr const char* kRangeLineAngle = "top_range";

bool hasRangeLineColumns(const RenderConfig& config, const std::string& angle)
{
    return config.output_top_range && angle == "top";
}

std::string headerLine(const RenderConfig& config)
{
    std::string line = "序号,图斑编号,文件夹名称,输出文件夹,最小X,最小Y,最大X,最大Y,最低高程,最高高程,中心高程";
    for (const std::string& angle : config.angles) {
        const std::string label = angleLabel(angle);
        for (const char* title : {"图片", "结果", "耗时秒", "遮挡评分", "相机角度", "备注"}) {
            line += "," + label + title;
        }
        if (hasRangeLineColumns(config, angle)) {
            line += ",范围线正射图片,范围线正射结果,范围线正射耗时秒";
        }
    }
    return line;
}

// The image's result, or null when the run never came to it (it was stopped).
const ImageResult* resultFor(const ResultsTable& results, std::size_t frame, const std::string& angle)
{
    if (frame >= results.size()) {
        return nullptr;
    }
    const auto found = results[frame].find(angle);
    return found == results[frame].end() ? nullptr : &found->second;
}

std::string outcomeWord(const ImageResult* result)
{
    if (!result) {
        return "未完成";
    }
    if (result->skipped) {
        return "跳过";
    }
    return result->success ? "成功" : "失败";
}

std::string fileNameCell(const ImageResult* result)
{
    return !result || result->path.empty() ? std::string() : csvTextField(fs::path(result->path).filename().string());
}

// The frame's folder; a name that cannot form a path leaves the cell empty
// rather than losing the whole report.
std::string folderCell(const NameTemplate& names, const PolygonFrame& frame)
{
    try {
        return csvTextField(names.buildFrameFolder(frame));
    } catch (const std::exception&) {
        return std::string();
    }
}

std::string dataLine(const RenderConfig& config, const NameTemplate& names, const PolygonFrame& frame,
                     std::size_t position, const ResultsTable& results)
{
    std::string line = std::to_string(frame.index) + "," + csvTextField(frame.name) + "," +
                       csvTextField(frame.uniqueName) + "," + folderCell(names, frame);
    for (const double value : {frame.minX, frame.minY, frame.maxX, frame.maxY, frame.minZ, frame.maxZ, frame.centerZ}) {
        line += "," + textNumberCell(value);
    }
    static const ImageResult notDone;
    for (const std::string& angle : config.angles) {
        const ImageResult* found = resultFor(results, position, angle);
        const ImageResult& result = found ? *found : notDone;
        line += "," + fileNameCell(found) + "," + outcomeWord(found) + "," + fixedNumber(result.seconds, 3) + "," +
                fixedNumber(result.occlusionScore, 3) + "," + fixedNumber(result.viewAngle, 3) + "," +
                csvTextField(result.note);
        if (hasRangeLineColumns(config, angle)) {
            const ImageResult* range = resultFor(results, position, kRangeLineAngle);
            line += "," + fileNameCell(range) + "," + outcomeWord(range) + "," +
                    fixedNumber(range ? range->seconds : 0.0, 3);
        }
    }
    return line;
}

}  // namespace

ImageCounts countImages(const RenderConfig& config, const ResultsTable& results)
{
    ImageCounts counts;
    const auto count = [&counts](const ImageResult* result) {
        int& slot = !result           ? counts.notDone
                    : result->skipped ? counts.skipped
                    : result->success ? counts.written
                                      : counts.failed;
        ++slot;
    };
    for (std::size_t position = 0; position < results.size(); ++position) {
        for (const std::string& angle : config.angles) {
            count(resultFor(results, position, angle));
            if (hasRangeLineColumns(config, angle)) {
                count(resultFor(results, position, kRangeLineAngle));
            }
        }
    }
    return counts;
}

std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') {
            quoted += '"';
        }
        quoted += c;
    }
    return quoted + "\"";
}

std::string csvTextField(const std::string& text)
{
    if (!text.empty() && std::string("=+-@").find(text.front()) != std::string::npos) {
        return csvField("\t" + text);
    }
    return csvField(text);
}

std::string textNumberCell(double value)
{
    return csvField("\t" + fixedNumber(value, 3));
}

std::string reportFileName(int shardIndex, int shardCount, const std::string& extension)
{
    if (shardCount <= 1) {
        return "render_report." + extension;
    }
    return "render_report.shard-" + std::to_string(shardIndex) + "-of-" + std::to_string(shardCount) + "." + extension;
}

bool writeRenderReport(const RenderConfig& config, const NameTemplate& names, const std::vector<PolygonFrame>& frames,
                       const ResultsTable& results, const std::string& fileName)
{
    const std::string path = (fs::path(config.output_dir) / fileName).string();

    std::string text = kByteOrderMark + headerLine(config) + "\n";
    for (std::size_t i = 0; i < frames.size(); ++i) {
        text += dataLine(config, names, frames[i], i, results) + "\n";
    }

    StagedFile file(path);
    const bool written =
        file.open() && std::fwrite(text.data(), 1, text.size(), file.stream()) == text.size() && file.commit();
    if (!written) {
        Logger::instance().error(
            runMessage(RunMessage::CsvReportFailed,
                       {path + ": " + (file.error().empty() ? std::string("write error") : file.error())}));
        return false;
    }
    Logger::instance().info(std::string(kWroteCsvReportPrefix) + path);
    return true;
}

}  // namespace vistrel
