#include "app/DossierSheets.h"

#include "core/CameraAngle.h"
#include "core/FrameArea.h"
#include "core/ImagePlan.h"
#include "core/Logger.h"
#include "core/NumberText.h"
#include "core/Seconds.h"
#include "app/ImagePipeline.h"
#include "output/WriteResult.h"
#include "output/PictureMarks.h"

#include <osgDB/ReadFile>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

bool annotates(const RenderConfig& config, const char* mark)
{
    return std::find(config.annotate.begin(), config.annotate.end(), mark) != config.annotate.end();
}

std::string lowerExtension(const std::string& path)
{
    std::string extension = fs::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// The parcel's name: a name field of the layer that is not its code.
std::string parcelName(const PolygonFrame& frame)
{
    for (const char* field : {"名称", "NAME", "MC", "name"}) {
        const auto found = frame.attributes.find(field);
        if (found != frame.attributes.end() && !found->second.empty() && found->second != frame.name) {
            return found->second;
        }
    }
    return {};
}

// The sheet's views in print order: the large one first, then the others
// as the run makes them.
std::vector<std::string> sheetKeys(const RenderConfig& config)
{
    const std::string large = largeSheetKey(config);
    std::vector<std::string> keys;
    if (!large.empty()) {
        keys.push_back(large);
    }
    for (const PlannedImage& image : frameImages(config)) {
        if (std::find(keys.begin(), keys.end(), image.key) == keys.end()) {
            keys.push_back(image.key);
        }
    }
    return keys;
}

// Why a view has no picture on the sheet.
std::string missingReason(const ImageResult* result, const std::map<std::string, std::string>& unread,
                          const std::string& key)
{
    const auto found = unread.find(key);
    if (found != unread.end()) {
        return found->second;
    }
    const ImageOutcome outcome = outcomeOf(result);
    if (outcome == ImageOutcome::Written) {
        return "图片未保留";
    }
    if (outcome == ImageOutcome::NotDone) {
        return outcomeWord(outcome);
    }
    return result->note.empty() ? kRemarkNotWritten : result->note;
}

}  // namespace

void SheetPictures::keep(const std::string& key, const osg::Image& picture, double groundWidth)
{
    const bool large = key == largeSheetKey(config_);
    osg::ref_ptr<osg::Image> copy = sheetCopy(picture, large);
    if (copy && large) {
        addMarks(key, *copy, groundWidth);
    }
    pictures_[key] = copy;
    files_.erase(key);
}

void SheetPictures::keepFile(const std::string& key, const std::string& path, double groundWidth)
{
    files_[key] = File{path, groundWidth};
    pictures_.erase(key);
}

void SheetPictures::readFiles(std::map<std::string, std::string>& unread)
{
    const std::map<std::string, File> files = std::move(files_);
    files_.clear();
    for (const auto& [key, file] : files) {
        const std::string extension = lowerExtension(file.path);
        if (extension == ".pdf") {
            unread[key] = "PDF 格式的图片无法读回";
            continue;
        }
        const osg::ref_ptr<osg::Image> picture = osgDB::readImageFile(file.path);
        if (!picture || !picture->data()) {
            unread[key] = "图片文件无法读取";
            continue;
        }
        keep(key, *picture, file.groundWidth);
        if (!pictures_[key]) {
            unread[key] = "图片文件的像素格式无法使用";
        }
    }
}

void SheetPictures::addMarks(const std::string& key, osg::Image& copy, double groundWidth) const
{
    MarkRequest request;
    request.northArrow = !annotates(config_, "north_arrow");
    request.scaleBar = !annotates(config_, "scale_bar");
    request.metresPerPixel = groundWidth > 0 ? groundWidth / copy.s() : 0.0;
    if ((!request.northArrow && !request.scaleBar) || request.metresPerPixel <= 0) {
        return;
    }
    std::string reason;
    if (!drawMarks(copy, request, reason)) {
        // The sheet then shows the picture without them.
        Logger::instance().warn("No north arrow or scale bar on the sheet's " + key + " picture: " + reason);
    }
}

std::string largeSheetKey(const RenderConfig& config)
{
    if (std::find(config.angles.begin(), config.angles.end(), "top") == config.angles.end()) {
        return {};
    }
    return config.output_top_range ? kOutlineImageKey : "top";
}

std::string sheetPath(const RenderConfig& config, const NameTemplate& names, const PolygonFrame& frame)
{
    const std::string name =
        config.dossier_template.empty() ? frame.name : expandPlaceholders(config.dossier_template, frame.attributes);
    return (fs::path(names.buildFrameFolder(frame)) / (sanitizePathComponent(name) + kSheetFileSuffix)).string();
}

SheetContent sheetContent(const RenderConfig& config, const PolygonFrame& frame, const FrameResults& results,
                          const SheetPictures& pictures, const std::map<std::string, std::string>& unread,
                          const SheetSetting& setting)
{
    SheetContent content;
    content.code = frame.name;
    content.name = parcelName(frame);
    for (const std::string& field : config.dossier_fields.empty() ? config.field_names : config.dossier_fields) {
        const auto found = frame.attributes.find(field);
        content.rows.emplace_back(field, found == frame.attributes.end() ? std::string() : found->second);
    }
    content.rows.emplace_back("面积（平方米）", fixedNumber(frameAreaSize(frame), 2));
    content.vertical = !largeSheetKey(config).empty();
    content.aspect = static_cast<double>(config.height) / std::max(1, config.width);
    content.quality = config.jpg_quality;
    content.footer = "模型：" + setting.model + "    坐标系：" + setting.system + "    日期：" + setting.date;
    std::string missing;
    for (const std::string& key : sheetKeys(config)) {
        const auto result = results.find(key);
        const ImageResult* found = result == results.end() ? nullptr : &result->second;
        SheetPicture picture{angleLabel(key), nullptr, found ? found->note : std::string()};
        const auto kept = pictures.pictures().find(key);
        if (kept != pictures.pictures().end() && kept->second) {
            picture.image = kept->second;
        } else {
            picture.remark = missingReason(found, unread, key);
            missing += (missing.empty() ? "" : "；") + picture.label + "（" + picture.remark + "）";
        }
        content.pictures.push_back(std::move(picture));
    }
    if (!missing.empty()) {
        content.note = "缺少视图：" + missing;
    }
    return content;
}

ImageResult makeSheet(const RenderConfig& config, const PolygonFrame& frame, const FrameResults& results,
                      SheetPictures& pictures, const std::string& path, const SheetSetting& setting, FileDigest& digest,
                      bool& refused)
{
    const auto start = std::chrono::steady_clock::now();
    std::map<std::string, std::string> unread;
    pictures.readFiles(unread);
    const SheetContent content = sheetContent(config, frame, results, pictures, unread, setting);
    WriteResult write;
    write.path = path;
    if (makeWriteFolder(fs::path(path).parent_path(), config.output_dir, write)) {
        write.status =
            writeDossierSheet(content, path, digest, write.reason) ? WriteStatus::Written : WriteStatus::Failed;
    }
    refused = write.status == WriteStatus::RefusedLink;
    ImageResult sheet;
    sheet.path = path;
    sheet.success = reportImageWrite(write);
    sheet.note = sheet.success ? content.note : "照片页未写出: " + write.reason;
    sheet.seconds = secondsBetween(start, std::chrono::steady_clock::now());
    return sheet;
}

// The sheet of the frame at `position` for the book, without its pictures;
// `pictures` gets the files to read.
SheetContent bookSection(const RenderConfig& config, const PolygonFrame& frame, const FrameResults& results,
                         double groundWidth, SheetPictures& pictures, const SheetSetting& setting)
{
    for (const auto& [key, result] : results) {
        if (key != kDossierKey && result.success && !result.path.empty()) {
            const bool vertical = key == "top" || key == kOutlineImageKey;
            pictures.keepFile(key, result.path, vertical ? groundWidth : 0.0);
        }
    }
    return sheetContent(config, frame, results, pictures, {}, setting);
}

bool writeBook(const RenderConfig& config, const std::vector<PolygonFrame>& frames, const ResultsTable& results,
               const std::vector<std::size_t>& positions, const std::function<double(const PolygonFrame&)>& groundWidth,
               const SheetSetting& setting)
{
    std::vector<std::size_t> shown;
    std::vector<SheetContent> sections;
    for (const std::size_t p : positions) {
        const auto sheet = results[p].find(kDossierKey);
        if (sheet != results[p].end() && sheet->second.success) {
            SheetPictures none(config);
            shown.push_back(p);
            sections.push_back(bookSection(config, frames[p], results[p], 0.0, none, setting));
        }
    }
    const auto fill = [&](std::size_t i, SheetContent& section) {
        const std::size_t p = shown[i];
        SheetPictures pictures(config);
        bookSection(config, frames[p], results[p], groundWidth(frames[p]), pictures, setting);
        std::map<std::string, std::string> unread;
        pictures.readFiles(unread);
        section = sheetContent(config, frames[p], results[p], pictures, unread, setting);
    };
    const std::string path = bookPath(config);
    WriteResult write;
    write.path = path;
    if (makeWriteFolder(fs::path(path).parent_path(), config.output_dir, write)) {
        write.status =
            writeDossierBook(sections, fill, path, write.reason) ? WriteStatus::Written : WriteStatus::Failed;
    }
    return reportImageWrite(write);
}

std::string bookPath(const RenderConfig& config)
{
    const std::string name = config.shard_count <= 1
                                 ? std::string(kBookFileStem) + ".pdf"
                                 : std::string(kBookFileStem) + ".shard-" + std::to_string(config.shard_index) +
                                       "-of-" + std::to_string(config.shard_count) + ".pdf";
    return (fs::path(config.output_dir) / name).string();
}

}  // namespace vistrel
