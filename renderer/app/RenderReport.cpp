#include "app/RenderReport.h"

#include "core/RunProtocol.h"
#include "core/CameraAngle.h"
#include "core/ImagePlan.h"
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

std::string headerLine(const RenderConfig& config)
{
    std::string line = "序号,图斑编号,文件夹名称,输出文件夹,最小X,最小Y,最大X,最大Y,最低高程,最高高程,中心高程";
    for (const PlannedImage& image : frameImages(config)) {
        // The outline image has no camera or remark of its own.
        static const char* const kTitles[] = {"图片", "结果", "耗时秒", "遮挡评分", "相机角度", "备注"};
        for (std::size_t t = 0; t < (image.outline ? 3u : 6u); ++t) {
            line += "," + angleLabel(image.key) + kTitles[t];
        }
    }
    // The measures come after every earlier column: readers that count columns keep working.
    for (const std::string& angle : config.angles) {
        line += "," + angleLabel(angle) + "可见比例";
    }
    line += ",正射模型覆盖比例";
    // The dossier sheet's column comes after all others.
    return config.dossier ? line + ",照片页" : line;
}

// The image's result, or null when the run never came to it (it was stopped).
const ImageResult* resultFor(const ResultsTable& results, std::size_t frame, const std::string& key)
{
    if (frame >= results.size()) {
        return nullptr;
    }
    const auto found = results[frame].find(key);
    return found == results[frame].end() ? nullptr : &found->second;
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
    for (const double value : {frame.minX, frame.minY, frame.maxX, frame.maxY}) {
        line += "," + textNumberCell(value);
    }
    for (const double value : {frame.minZ, frame.maxZ, frame.centerZ}) {
        line += "," + (frame.hasModelHeights ? textNumberCell(value) : std::string());
    }
    static const ImageResult notDone;
    for (const PlannedImage& image : frameImages(config)) {
        const ImageResult* found = resultFor(results, position, image.key);
        const ImageResult& result = found ? *found : notDone;
        line += "," + fileNameCell(found) + "," + outcomeWord(outcomeOf(found)) + "," + fixedNumber(result.seconds, 3);
        if (!image.outline) {
            line += "," + fixedNumber(result.occlusionScore, 3) + "," + fixedNumber(result.viewAngle, 3) + "," +
                    csvTextField(result.note);
        }
    }
    for (const std::string& angle : config.angles) {
        const ImageResult* found = resultFor(results, position, angle);
        line += "," + (found ? shareCell(found->visibleShare) : std::string());
    }
    line += "," + shareCell(frame.modelShare);
    if (config.dossier) {
        line += "," + fileNameCell(resultFor(results, position, kDossierKey));
    }
    return line;
}

}  // namespace

ImageCounts countImages(const RenderConfig& config, const ResultsTable& results)
{
    ImageCounts counts;
    const std::vector<PlannedImage> images = frameImages(config);
    for (std::size_t position = 0; position < results.size(); ++position) {
        for (const PlannedImage& image : images) {
            switch (outcomeOf(resultFor(results, position, image.key))) {
            case ImageOutcome::NotDone: ++counts.notDone; break;
            case ImageOutcome::Skipped: ++counts.skipped; break;
            case ImageOutcome::Written: ++counts.written; break;
            case ImageOutcome::Failed: ++counts.failed; break;
            }
            const ImageResult* result = resultFor(results, position, image.key);
            const std::string note = result ? result->note : std::string();
            counts.hidden += note.find(kRemarkMostlyHidden) != std::string::npos ? 1 : 0;
            counts.partlyOutside += note.find(kRemarkPartlyOutside) != std::string::npos ? 1 : 0;
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

std::string shareCell(double share)
{
    return share < 0.0 ? std::string() : fixedNumber(share, 3);
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
