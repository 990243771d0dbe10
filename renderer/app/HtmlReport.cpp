#include "app/HtmlReport.h"

#include "app/RenderReport.h"
#include "app/ImagePipeline.h"
#include "core/RunProtocol.h"
#include "core/CameraAngle.h"
#include "core/ImagePlan.h"
#include "core/Logger.h"
#include "core/NumberText.h"
#include "core/OutputFormats.h"
#include "output/StagedFile.h"
#include "output/Thumbnail.h"
#include "core/PathBelow.h"

#include <osgDB/ReadFile>

#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

constexpr const char* kThumbnailFolder = "render_report_files";

// Plain styles inside the page, so that it needs nothing from elsewhere.
// Thumbnails are at most 320 px wide and shrink with their columns, so that
// a table of many angles fits the window (1366 px screens) instead of
// running off to the right.
constexpr const char* kStyle = R"(body{font-family:sans-serif;margin:16px;color:#222}
table{border-collapse:collapse}th,td{border:1px solid #ccc;padding:6px;vertical-align:top;font-size:13px}
th{background:#f0f0f0;position:sticky;top:0}td.frame{white-space:nowrap}
img{width:100%;max-width:320px;min-width:64px;height:auto;display:block;border:0}
.ok{color:#176317}.skip{color:#8a6d00}.fail{color:#b00020}.none{color:#777}
.reason{display:block;padding:24px 8px;background:#f7f7f7;max-width:304px;word-break:break-all}
.meta{font-size:12px;color:#555}td.meta{white-space:nowrap})";

struct Column {
    std::string key;  // the result's key in the frame's map
    std::string title;  // the angle's Chinese label
};

std::vector<Column> columnsOf(const RenderConfig& config)
{
    std::vector<Column> columns;
    for (const PlannedImage& image : frameImages(config)) {
        columns.push_back({image.key, angleLabel(image.key)});
    }
    return columns;
}

// A thumbnail for a written image that has none yet (or an outdated one),
// made from its file.
bool ensureThumbnail(const std::string& image, const std::string& thumbnail, const std::string& outputDir)
{
    std::error_code ec;
    std::error_code imageError;
    // A thumbnail older than its image belongs to an earlier picture.
    if (fs::is_regular_file(thumbnail, ec) &&
        fs::last_write_time(thumbnail, ec) >= fs::last_write_time(image, imageError) && !ec && !imageError) {
        return true;
    }
    const OutputFormat* format = outputFormatOfName(image);
    if (format && !format->picture) {
        return false;
    }
    const osg::ref_ptr<osg::Image> picture = osgDB::readImageFile(image);
    return picture.valid() && reportThumbnailWrite(writeThumbnailBelow(*picture, thumbnail, outputDir));
}

std::string imageCell(const RenderConfig& config, const PolygonFrame& frame, const Column& column,
                      const ImageResult* result)
{
    const ImageOutcome outcome = outcomeOf(result);
    if (outcome == ImageOutcome::NotDone) {
        return std::string("<td class=\"image\"><span class=\"reason none\">") + outcomeWord(outcome) + "</span></td>";
    }
    std::string cell = "<td class=\"image\">";
    std::string css;
    if (outcome == ImageOutcome::Skipped) {
        css = "skip";
        cell += "<span class=\"reason skip\">" + htmlText(result->note) + "</span>";
    } else if (outcome == ImageOutcome::Failed) {
        css = "fail";
        cell += "<span class=\"reason fail\">" + htmlText(result->note.empty() ? kRemarkNotWritten : result->note) +
                "</span>";
    } else {
        css = "ok";
        const std::string href = relativeUrl(result->path, config.output_dir);
        const std::string thumbnail = thumbnailPath(config, frame, column.key);
        cell += "<a href=\"" + href + "\">";
        if (ensureThumbnail(result->path, thumbnail, config.output_dir)) {
            cell += "<img src=\"" + relativeUrl(thumbnail, config.output_dir) + "\" alt=\"" +
                    htmlText(frame.name + " " + column.title) + "\" loading=\"lazy\">";
        } else {
            cell += htmlText(fs::path(result->path).filename().string());
        }
        cell += "</a>";
    }
    cell += "<div class=\"meta\"><span class=\"" + css + "\">" + outcomeWord(outcome) + "</span>";
    if (!result->skipped) {
        cell += " · 遮挡评分 " + fixedNumber(result->occlusionScore, 3) + " · 相机角度 " +
                fixedNumber(result->viewAngle, 3);
        if (result->visibleShare >= 0.0) {
            cell += " · 可见比例 " + fixedNumber(result->visibleShare, 3);
        }
    }
    if (result->success && !result->note.empty()) {
        cell += "<br>" + htmlText(result->note);
    }
    return cell + "</div></td>";
}

// The link to the frame's dossier sheet, where one was made.
std::string sheetLink(const RenderConfig& config, const FrameResults* results)
{
    const auto sheet = results ? results->find(kDossierKey) : FrameResults::const_iterator();
    if (!results || sheet == results->end() || !sheet->second.success) {
        return {};
    }
    return "<div class=\"meta\"><a class=\"sheet\" href=\"" + relativeUrl(sheet->second.path, config.output_dir) +
           "\">照片页</a></div>";
}

std::string frameRow(const RenderConfig& config, const std::vector<Column>& columns, const PolygonFrame& frame,
                     const FrameResults* results)
{
    std::string row = "<tr><td>" + std::to_string(frame.index) + "</td><td class=\"frame\">" + htmlText(frame.name) +
                      "<div class=\"meta\">" + htmlText(frame.uniqueName) + "</div>" + sheetLink(config, results) +
                      "</td>";
    row += "<td class=\"meta\">X " + fixedNumber(frame.minX, 3) + " – " + fixedNumber(frame.maxX, 3) + "<br>Y " +
           fixedNumber(frame.minY, 3) + " – " + fixedNumber(frame.maxY, 3) + "</td>";
    // Heights not measured on the model are left out, as in the CSV report.
    const auto height = [&frame](double z) { return frame.hasModelHeights ? fixedNumber(z, 3) : std::string(); };
    row += "<td class=\"meta\">最低 " + height(frame.minZ) + "<br>最高 " + height(frame.maxZ) + "<br>中心 " +
           height(frame.centerZ);
    if (frame.modelShare >= 0.0) {
        row += "<br>模型覆盖 " + fixedNumber(frame.modelShare, 3);
    }
    row += "</td>";
    for (const Column& column : columns) {
        const ImageResult* result = nullptr;
        if (results) {
            const auto found = results->find(column.key);
            result = found == results->end() ? nullptr : &found->second;
        }
        row += imageCell(config, frame, column, result);
    }
    return row + "</tr>\n";
}

}  // namespace

std::string thumbnailPath(const RenderConfig& config, const PolygonFrame& frame, const std::string& angle)
{
    char index[16];
    std::snprintf(index, sizeof index, "%06d", static_cast<int>(frame.index));
    return (fs::path(config.output_dir) / kThumbnailFolder / (std::string(index) + "_" + angle + ".jpg")).string();
}

std::string htmlText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string relativeUrl(const std::string& path, const std::string& base)
{
    const std::string relative = fs::path(path).lexically_relative(base).generic_string();
    static const char digits[] = "0123456789ABCDEF";
    std::string url;
    for (const char c : relative.empty() ? path : relative) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            url += c;
        } else {
            url += '%';
            url += digits[byte >> 4];
            url += digits[byte & 0xF];
        }
    }
    return url;
}

bool writeHtmlReport(const RenderConfig& config, const std::vector<PolygonFrame>& frames, const ResultsTable& results,
                     const std::string& fileName)
{
    // The thumbnails' folder is checked before any thumbnail in it is looked at.
    std::string link;
    try {
        link = makeFolderBelow(fs::path(config.output_dir) / kThumbnailFolder, config.output_dir);
    } catch (const std::exception&) {
        // A folder that cannot be made leaves the images without previews.
    }
    if (!link.empty()) {
        Logger::instance().error(runMessage(RunMessage::SymlinkRefused, {link}));
        return false;
    }
    const std::vector<Column> columns = columnsOf(config);
    const ImageCounts counts = countImages(config, results);
    std::string page = "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width\"><title>渲染报告</title><style>" +
                       std::string(kStyle) + "</style></head><body>\n<h1>渲染报告</h1>\n<p>图斑 " +
                       std::to_string(frames.size()) + " 个；图片 共 " + std::to_string(counts.planned()) +
                       " 张，成功 " + std::to_string(counts.written) + " 张，跳过 " + std::to_string(counts.skipped) +
                       " 张，失败 " + std::to_string(counts.failed) + " 张" +
                       (counts.notDone > 0 ? "，未完成 " + std::to_string(counts.notDone) + " 张" : std::string()) +
                       "。点击缩略图打开原图。</p>\n";
    page += "<table><thead><tr><th>序号</th><th>图斑编号</th><th>范围</th><th>高程</th>";
    for (const Column& column : columns) {
        page += "<th>" + htmlText(column.title) + "</th>";
    }
    page += "</tr></thead><tbody>\n";
    for (std::size_t i = 0; i < frames.size(); ++i) {
        page += frameRow(config, columns, frames[i], i < results.size() ? &results[i] : nullptr);
    }
    page += "</tbody></table>\n</body></html>\n";

    const std::string path = (fs::path(config.output_dir) / fileName).string();
    StagedFile file(path);
    if (file.open() && std::fwrite(page.data(), 1, page.size(), file.stream()) == page.size() && file.commit()) {
        Logger::instance().info(std::string(kWroteHtmlReportPrefix) + path);
        return true;
    }
    Logger::instance().error(
        runMessage(RunMessage::HtmlReportFailed,
                   {path + ": " + (file.error().empty() ? std::string("write error") : file.error())}));
    return false;
}

}  // namespace vistrel
