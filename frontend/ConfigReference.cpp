#include "ConfigReference.h"

#include "DefaultSettings.h"

#include "core/ConfigKeys.h"
#include "core/OutputFormats.h"
#include "core/NumberText.h"
#include "core/RunProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cmath>
#include <deque>
#include <string>

namespace {

using vistrel::outputFormatList;
using vistrel::worldFileExtensionList;

// A text made from another table when the key table is built, kept for the
// program's life.
const char* keep(std::string text)
{
    static std::deque<std::string> texts;
    return texts.emplace_back(std::move(text)).c_str();
}

const std::vector<ConfigKeyInfo> kKeys = {
    {"width", nullptr, "", "Image width in pixels.", "宽度", "输出图片的宽度（像素）。", "1 到 16384"},
    {"height", nullptr, "", "Image height in pixels.", "高度", "输出图片的高度（像素）。", "1 到 16384"},
    {"distance", nullptr, "",
     "Base camera distance in scene units; the camera is moved further out when the frame or the model needs it.",
     nullptr, nullptr, nullptr},
    {"background", nullptr,
     "\"black\" and \"transparent\" (exact, lower case) are recognised; any other text gives white",
     "Background colour of the rendered image.", nullptr, nullptr, nullptr},
    {"output_format", nullptr,
     keep(outputFormatList(", ", " or ", true) + ", exactly in lower case; otherwise a configuration error"),
     "Image file format; pdf writes one page per image, tif a GeoTIFF (vertical pictures georeferenced).", "图片格式",
     "输出图片的文件格式；pdf 为每张图片一页的 PDF，tif 为 GeoTIFF（正射图带坐标定位，可直接在 GIS 中打开）。",
     keep(outputFormatList("、", "、"))},
    {"jpg_quality", nullptr, "checked whatever the format",
     "JPEG quality, of jpg files and of the picture on a pdf page.", nullptr, nullptr, nullptr},
    {"annotate", "empty: no marks",
     "a list of north_arrow, scale_bar and caption; other words are a configuration error",
     "Marks drawn on the pictures: a north arrow and a scale bar on vertical pictures, a caption band (from "
     "caption_template, with the date) on every picture.",
     "图片标注", "在图片上绘制标注：正射图的指北针和比例尺（按图片实际地面范围），每张图片底部的说明条（含日期）。",
     "指北针、比例尺、图片说明，可多选"},
    {"caption_template", nullptr, "text with the photo name template's placeholders",
     "The caption's text; <名称> is the frame's name where the layer has no such field.", "说明文字",
     "图片说明条的文字，可用与命名模板相同的占位符；图层没有“名称”字段时 <名称> 为图斑名称。", "文字与占位符"},
    {"dossier", nullptr, "true or false",
     "One A4 sheet per frame, <frame folder>/<name>_照片.pdf: the parcel's code and name, a table of its "
     "attributes and area, the vertical picture large with north arrow and scale bar, the other views in a grid, "
     "the model, the coordinate system and the date. Named in the CSV report (照片页) and the contact sheet.",
     "照片页",
     "为每个图斑生成一页 A4 照片页（PDF）：宗地代码与名称、属性表和面积、带指北针和比例尺的正射图及其他视角图片。",
     "开或关"},
    {"dossier_template", "empty: the frame's name", "text with the photo name template's placeholders",
     "The sheet's file name before _照片.pdf.", "照片页名称",
     "照片页文件名（_照片.pdf 之前的部分），可用命名模板的占位符；留空为图斑名称。", "文字与占位符"},
    {"dossier_fields", "empty: field_names", "a list of field names of the layer",
     "The attributes in the sheet's table.", "照片页字段", "照片页属性表中列出的字段；留空为输出字段。",
     "字段名，逗号分隔"},
    {"dossier_book", nullptr, "true or false",
     "With dossier: also <output_dir>/照片册.pdf, every sheet of the run in frame order after a contents page; a "
     "stopped run writes none.",
     "照片册", "同时生成整批的照片册（照片册.pdf）：目录页加每个图斑一节，按图斑顺序；中途停止的运行不生成。",
     "开或关"},
    {"pdf_lossless", nullptr, "true or false",
     "pdf pages hold the picture Flate-compressed without loss instead of as a JPEG at jpg_quality.", "PDF 无损",
     "PDF 页面中的图片无损压缩保存（文件更大）；关闭时按 JPEG 质量保存。", "开或关"},
    {"output_dpi", nullptr, "", "Resolution stored in the image file.", "输出图片 DPI",
     "写入图片文件的分辨率（每英寸点数），不改变像素数。", "72 到 1200"},
    {"camera_padding", nullptr, "",
     "Margin factor around the frame in the vertical view (1.05 makes the view 5 % larger than the frame).", "正射留边",
     "正射图中图斑四周的留边系数，1.05 即画面比图斑大 5%。", "1 到 3，步长 0.05"},
    {"oblique_padding_factor", nullptr, "", "Extra margin factor for the side, diagonal and oblique views.",
     "倾斜留边系数", "侧视、斜45°和倾斜视图额外的留边系数。", "0.5 到 1.5，步长 0.05"},
    {"oblique_distance_factor", nullptr, "", "Camera distance factor for the side, diagonal and oblique views.",
     "倾斜距离系数", "侧视、斜45°和倾斜视图的相机距离系数。", "0.25 到 1.5，步长 0.05"},
    {"oblique_view_angle", nullptr, "in degrees",
     "Elevation angle of the side, diagonal and oblique views, in degrees above the horizon.", "倾斜视角角度",
     "侧视、斜45°和倾斜视图的俯视角（度，自水平面算起）。", "30 到 70 度，每 5 度一档"},
    {"avoid_occlusion", nullptr, "true or false",
     "Look for a steeper view angle when buildings hide the frame in a side or diagonal view.",
     "自动检测遮挡并提高相机角度", "侧视或斜45°视图被建筑遮挡时，自动提高相机俯视角。", "开或关"},
    {"occlusion_sample_step", nullptr, "",
     "Fraction of each line of sight that is tested for hits when looking for occlusion.", "遮挡采样步长",
     "检测遮挡时视线上采样的间隔（占视线长度的比例），越小越细、越慢。", "0.1 到 0.9，步长 0.05"},
    {"angles", "(renders top)",
     "keys top, north, south, east, west, se45, sw45, ne45, nw45, oblique (case-sensitive); an empty list renders "
     "top; any other key is a configuration error",
     "The views rendered for every frame, in this order.", "拍摄角度", "每个图斑要拍摄的视图。",
     "正射、北、南、东、西及四个斜45°方向；都不勾选时只拍正射"},
    {"model_path", "empty: osgb_path",
     "must exist; a relative path is taken from the configuration file's folder; beside osgb_path it must name the "
     "same model",
     "The model, as osgb_path names it (its newer name, for any model format): an OSGB project folder, Data "
     "folder or .osgb file, or a 3D Tiles tileset.json or the folder holding one.",
     nullptr, nullptr, nullptr},
    {"osgb_path", nullptr,
     "required unless model_path is given; must exist; a relative path is taken from the configuration file's folder",
     "The model: its project folder (with metadata.xml and Data/), its Data folder, or one .osgb file; or a 3D "
     "Tiles tileset.json or the folder holding one.",
     "模型目录/文件",
     "倾斜摄影模型：OSGB 工程目录（含 metadata.xml 与 Data）、Data 目录或单个 .osgb 文件；或 3D Tiles 的 tileset.json "
     "及其所在目录。",
     "必须存在；相对路径相对于配置文件所在目录"},
    {"shp_path", nullptr, "required; must exist; a relative path is taken from the configuration file's folder",
     "The shapefile of the frames (polygons or multipolygons).", "SHP 图斑文件",
     "图斑面要素的 SHP 文件，同目录须有 .dbf 等配套文件。", "必须存在；相对路径相对于配置文件所在目录"},
    {"output_dir", nullptr,
     "a relative path is taken from the configuration file's folder; the empty text means output in the "
     "working directory; created when missing",
     "Root folder of the images, render_report.csv and render_report.html.", "输出目录",
     "图片、render_report.csv 和 render_report.html 的根目录，不存在时自动创建。", "相对路径相对于配置文件所在目录"},
    {"field_name", nullptr, "used only when field_names is empty",
     "Single attribute field that names a frame. Tavrin writes the first checked output field, or the empty "
     "text when none is checked (the frames are then numbered).",
     nullptr, nullptr, nullptr},
    {"field_names", "(becomes [field_name])",
     "fields missing from the shapefile (matched in any case), or empty for a frame, are left out; a frame with "
     "no value at all gets a generated name (frame_0001, ...)",
     "Attribute fields that name a frame, joined with field_separator; the name is the frame's folder.", "输出字段名",
     "命名图斑文件夹的属性字段，按列表顺序用分隔符连接；可勾选、上移下移或拖动排序。", "SHP 中的字段名"},
    {"field_separator", nullptr,
     "empty becomes \"_\"; a single backslash nests folders; otherwise `\\ / : * ? \" < > |` and control "
     "characters are a configuration error",
     "Text between the values of the name fields.", "字段组合分隔符",
     "多个输出字段之间的连接符；“\\”表示按字段逐级建子文件夹。",
     "不能含 \\ / : * ? \" < > | 等 Windows 路径字符（单个“\\”除外）"},
    {"photo_name_template", nullptr,
     "at most 4096 bytes; when empty, images go to the frame's folder named after the angle key",
     "Image name template: `<field>`, `<left(field,n)>`, `<right(field,n)>`, `<mid(field,start,n)>`, "
     "`<int(field)>`, `<角度>`, `<ANGLE>`; a backslash makes subfolders and `#` numbers within a folder.",
     "照片名称模板",
     "图片命名模板：<字段名>、<left(字段,数量)>、<角度> 等；反斜杠建子文件夹，# 在同一文件夹内自动编号。",
     "最长 4096 字节；留空时按字段名建文件夹、按角度命名"},
    {"preview_limit", nullptr, "0 renders every frame", "Render only the first N frames.", "测试导出图斑数",
     "“测试导出”只拍前 N 个图斑，写入输出目录下的“测试导出”文件夹；“开始批量截图”总是拍全部图斑。", "1 到 100000"},
    {"shp_offset_x", nullptr, "any finite number", "Shift added to every polygon x coordinate, in scene units.",
     "SHP 偏移 X", "加到图斑 X 坐标上的平移量（米）。", "-99999999 到 99999999，步长 0.05"},
    {"shp_offset_y", nullptr, "any finite number", "Shift added to every polygon y coordinate, in scene units.",
     "SHP 偏移 Y", "加到图斑 Y 坐标上的平移量（米）。", "-99999999 到 99999999，步长 0.05"},
    {"gauss_zone_prefix", nullptr, "any finite number; 0 means none",
     "Gauss-Krüger zone prefix subtracted from x (for example 38000000).", "手动度带前缀",
     "从 X 坐标中减去的高斯-克吕格度带前缀（如 38000000），0 表示不减。", "0 到 99999999"},
    {"auto_strip_gauss_zone", nullptr, "true or false", "Detect a zone prefix in x (such as 37000000) and remove it.",
     "自动识别并去除 37000000 等度带", "自动识别 X 坐标中的度带前缀并去除。", "开或关"},
    {"auto_align_shp_to_scene", nullptr, "true or false",
     "Check that the frames lie over the model and log the result.", "检查 SHP 与模型空间位置",
     "开始前检查图斑是否落在模型范围内，并在日志中说明。", "开或关"},
    {"output_top_range", nullptr, "true or false",
     "Also write a vertical image with the frame outline drawn on the model (top_range).", "输出正射范围线图片",
     "另外输出一张画有图斑范围线的正射图（top_range）。", "开或关"},
    {"transparent_bg", nullptr, "true or false; PNG and JPEG keep no alpha, so the background comes out black",
     "Transparent background.", nullptr, nullptr, nullptr},
    {"multisample", nullptr, "", "Read for compatibility; it does not change the image.", nullptr, nullptr, nullptr},
    {"warmup_frames", nullptr, "", "Frames drawn before the captured one, so that finer tiles can load.",
     "渲染等待帧数", "拍摄前先绘制的帧数，让更精细的瓦片加载完成。", "0 到 100"},
    {"range_line_lift", nullptr, "", "Height added to the outline above the model surface, in scene units.",
     "范围线贴模型抬升", "范围线高出模型表面的高度（米）。", "0 到 10，步长 0.05"},
    {"range_line_sample_step", nullptr, "", "Distance between the outline's height samples, in scene units.", nullptr,
     nullptr, nullptr},
    {"range_line_width", nullptr, "", "Outline width in pixels.", "范围线宽度", "范围线的线宽（像素）。",
     "1 到 30，步长 0.5"},
    {"range_line_color", nullptr,
     "red, yellow, blue, green, white, black, magenta (or purple), cyan, in any case; other names draw red",
     "Colour of the outline.", "范围线颜色", "范围线的颜色。", "红、黄、蓝、绿、白、黑、紫、青"},
    {"range_line_smooth_limit", nullptr, "0 switches smoothing off",
     "Largest height step between neighbouring outline samples.", nullptr, nullptr, nullptr},
    {"num_threads", nullptr, "", "Workers that encode and write images while the next one renders.", nullptr, nullptr,
     nullptr},
    {"range_line_depth_test", nullptr, "true or false",
     "Hide the outline where the model covers it (the draped look); by default it is always drawn on top.",
     "范围线被模型遮挡处隐藏", "范围线被模型（如屋檐、树冠）遮挡的部分不画；默认总是画在最上层。", "开或关"},
    {"warmup_until_loaded", nullptr, "true or false",
     "Take each picture as soon as its tiles have loaded; false first draws warmup_frames frames with a 25 ms pause "
     "each. Either way a picture is taken only once the tiles it shows have loaded (see tile_load_timeout).",
     "加载完成即拍摄", "可见瓦片加载完成后立即拍摄；关闭时先按“渲染等待帧数”固定等待。两种方式都等瓦片加载完成才拍摄。",
     "开或关"},
    {"max_screen_space_error", nullptr, "in pixels",
     "For 3D Tiles models: a tile is refined while its geometric error, in picture pixels, exceeds this; smaller is "
     "finer and slower.",
     nullptr, nullptr, nullptr},
    {"tile_load_timeout", nullptr, "in seconds",
     "Longest wait for a picture's tiles. A picture taken at the limit is written, but its image fails with the "
     "remark 瓦片未加载完成 and the run ends with exit code 4.",
     nullptr, nullptr, nullptr},
    {"resume", nullptr, "true or false",
     "Continue an earlier run into the same output_dir: images its journal records as written, whose files still "
     "exist, are kept and not rendered again.",
     "继续上次任务", "在同一输出目录中接着上次中断的任务继续，已完成且文件仍在的图片不再重拍。", "开或关"},
    {"shard_index", nullptr,
     "0 to shard_count - 1; when missing, taken from JOB_COMPLETION_INDEX (Kubernetes) or from "
     "(SLURM_ARRAY_TASK_ID - SLURM_ARRAY_TASK_MIN) / SLURM_ARRAY_TASK_STEP (Slurm)",
     "This process renders the frames whose 0-based index i has i mod shard_count = shard_index.", nullptr, nullptr,
     nullptr},
    {"shard_count", nullptr,
     "when missing, taken from VISTREL_SHARD_COUNT (Kubernetes) or SLURM_ARRAY_TASK_COUNT (Slurm)",
     "Number of processes that share one batch.", nullptr, nullptr, nullptr},
    {"min_visible_share", nullptr, "",
     "A picture that shows less than this share of its frame unobstructed keeps its file and its result 成功, but "
     "gets the remark 图斑大部分被遮挡 and a WARN.",
     nullptr, nullptr, nullptr},
    {"outline_all_views", nullptr, "true or false",
     "Also draw the frame's outline, draped on the model with the depth test, in every side, diagonal and oblique "
     "picture; off, those pictures carry no outline.",
     "所有视图绘制范围线", "在侧视、斜45°和倾斜图片中也画出图斑范围线（贴合模型，被遮挡处隐藏）。", "开或关"},
    {"egl_device", nullptr,
     "-1 or an EGL device index from 0; -1 takes VISTREL_EGL_DEVICE when it is set, else the first GPU that opens "
     "(else Mesa's software renderer); an index beyond the devices found is an error",
     "Which EGL device (GPU) renders, by its index in the EGL device list.", nullptr, nullptr, nullptr},
    {"html_report", nullptr, "true or false",
     "Also write render_report.html, a page of thumbnails per frame and angle (in render_report_files/).",
     "生成 HTML 报告页", "另外生成带缩略图的报告页 render_report.html，任务结束后可直接打开查看。", "开或关"},
    {"model_srs", "empty: the SRS element of metadata.xml",
     "EPSG:n, a WKT, a PROJ string of one CRS or ENU:lat,lon[,h] (latitude first, within ±90 and ±180, h within "
     "±10 km); URLs, file paths and PROJ pipelines are refused",
     "The model's coordinate system, replacing what metadata.xml declares.", nullptr, nullptr, nullptr},
    {"frames_crs", "empty: what the vector source declares (.prj, GeoPackage, GeoJSON…)",
     "EPSG:n, a WKT, a PROJ string of one CRS or ENU:lat,lon[,h]; URLs, file paths and PROJ pipelines are refused",
     "The frames' coordinate system, replacing what the vector source declares.", nullptr, nullptr, nullptr},
    {"reproject_frames", nullptr, "auto, always or never; other text is a configuration error",
     "auto: frames in another, known coordinate system that do not lie over the model are transformed into the "
     "model's; always: transform whenever both systems are known; never: keep the coordinates as read.",
     nullptr, nullptr, nullptr},
    {"layer", "empty: the first layer holding polygons", "a layer name of the vector source",
     "The layer of the vector source that holds the frames.", nullptr, nullptr, nullptr},
    {"world_file", nullptr, "true or false",
     keep("Write a world file (" + worldFileExtensionList("/") +
          ") and, for EPSG or WKT models, a .prj beside every top and top_range picture."),
     "输出坐标定位文件",
     keep("在每张正射图旁写出世界文件（" + worldFileExtensionList("/") + "）和 .prj，可直接在 GIS 中叠加。"), "开或关"},
    {"where", "empty: every frame of the layer",
     "an OGR SQL attribute filter, e.g. ZDDM LIKE '441302%'; an expression the layer cannot take is a "
     "configuration error (exit code 1)",
     "Selects the frames to render by their attributes. Another filter makes another batch: a resume takes over "
     "only images of the same filter.",
     "图斑筛选条件",
     "按属性选出要拍摄的图斑（OGR SQL 条件，如 ZDDM LIKE '441302%'），留空为全部图斑；条件有误时任务不会开始。",
     "OGR SQL 属性条件，留空为全部"},
    {"retry_failed_only", nullptr, "true or false; true needs resume true and a journal of the batch in output_dir",
     "Render again only the frames whose images the journal records as failed or skipped; written images are taken "
     "over and frames the journal does not know are left out (未完成).",
     "只重做失败和跳过的图斑", "接着上次任务，只重新拍摄有失败或跳过图片的图斑；勾选时同时开启“继续上次任务”。",
     "开或关"},
};

QString defaultText(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Bool: return value.toBool() ? QStringLiteral("开") : QStringLiteral("关");
    case QJsonValue::Double: return QString::number(value.toDouble());
    case QJsonValue::String: return value.toString().isEmpty() ? QStringLiteral("（空）") : value.toString();
    case QJsonValue::Array: {
        QStringList items;
        for (const QJsonValue& item : value.toArray())
            items.append(item.toString());
        return items.join(QStringLiteral(", "));
    }
    default: return QString();
    }
}

QString jsonText(const QJsonValue& value)
{
    // A one-element array keeps the value's own JSON notation.
    const QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(text.mid(1, text.size() - 2)).replace(QStringLiteral(","), QStringLiteral(", "));
}

QJsonValue vistrelDefaultValue(const vistrel::ConfigKey& key)
{
    const std::string text = "[" + vistrel::vistrelDefault(key).dump() + "]";
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).array().at(0);
}

// Pipes would end a markdown table cell.
QString cell(const QString& text)
{
    QString escaped = text;
    return escaped.replace(QLatin1Char('|'), QStringLiteral("\\|"));
}

}  // namespace

const std::vector<ConfigKeyInfo>& configKeys()
{
    return kKeys;
}

const ConfigKeyInfo* configKey(const QString& key)
{
    for (const ConfigKeyInfo& info : kKeys) {
        if (key == QLatin1String(info.key))
            return &info;
    }
    return nullptr;
}

QString configLabel(const char* key)
{
    const ConfigKeyInfo* info = configKey(QLatin1String(key));
    return info && info->label ? QString::fromUtf8(info->label) : QString();
}

QString configTooltip(const char* key)
{
    const ConfigKeyInfo* info = configKey(QLatin1String(key));
    if (!info || !info->meaningZh)
        return QString();
    QStringList lines{QString::fromUtf8(info->meaningZh), QStringLiteral("范围：") + QString::fromUtf8(info->rangeZh)};
    const QJsonValue initial = defaultSettings().value(QLatin1String(key));
    if (!initial.isUndefined())
        lines.append(QStringLiteral("默认：") + defaultText(initial));
    lines.append(QStringLiteral("配置键：") + QLatin1String(key));
    return lines.join(QLatin1Char('\n'));
}

namespace {

QString boundText(double value)
{
    return QString::fromStdString(vistrel::streamNumber(value));
}

// What the key table's row does with numbers out of its bounds, in words:
// "clamped to 72 to 1200", "at most 1000, otherwise a configuration error".
QString boundsText(const vistrel::ConfigKey& row)
{
    QStringList parts;
    const bool clampLow = std::isfinite(row.clampLow);
    const bool clampHigh = std::isfinite(row.clampHigh);
    if (clampLow && clampHigh)
        parts << QStringLiteral("clamped to %1 to %2").arg(boundText(row.clampLow), boundText(row.clampHigh));
    else if (clampLow || clampHigh)
        parts << QStringLiteral("clamped to at %1 %2")
                     .arg(clampLow ? QStringLiteral("least") : QStringLiteral("most"),
                          boundText(clampLow ? row.clampLow : row.clampHigh));
    const bool low = std::isfinite(row.refuseBelow);
    const bool high = std::isfinite(row.refuseAbove);
    QString refused;
    if (low && high)
        refused = QStringLiteral("%1 to %2").arg(boundText(row.refuseBelow), boundText(row.refuseAbove));
    else if (low)
        refused = (row.refuseAtLow ? QStringLiteral("greater than ") : QStringLiteral("at least ")) +
                  boundText(row.refuseBelow);
    else if (high)
        refused = QStringLiteral("at most ") + boundText(row.refuseAbove);
    if (!refused.isEmpty())
        parts << refused + QStringLiteral(", otherwise a configuration error");
    return parts.join(QStringLiteral("; "));
}

// The range cell: the table's bounds, then the reference's own words.
QString rangeCell(const vistrel::ConfigKey& row, const char* note)
{
    QStringList parts{boundsText(row)};
    parts << QString::fromUtf8(note);
    parts.removeAll(QString());
    return parts.join(QStringLiteral("; "));
}

// The documentation's table row of one key.
QString keyRow(const vistrel::ConfigKey& row)
{
    static const QJsonObject tavrin = defaultSettings();
    const QString key = QString::fromLatin1(row.name);
    static const ConfigKeyInfo noTexts{"", nullptr, "", "", nullptr, nullptr, nullptr};
    const ConfigKeyInfo* found = configKey(key);
    const ConfigKeyInfo& info = found ? *found : noTexts;
    QString vistrelDefault = jsonText(vistrelDefaultValue(row));
    if (info.defaultNote)
        vistrelDefault += QLatin1Char(' ') + QString::fromUtf8(info.defaultNote);
    QString written;
    if (!row.writtenByTavrin)
        written = QStringLiteral("not written (cluster use)");
    else if (info.label)
        written =
            QStringLiteral("“%1”, starts at `%2`").arg(QString::fromUtf8(info.label), jsonText(tavrin.value(key)));
    else
        written = QStringLiteral("no row; writes `%1`").arg(jsonText(tavrin.value(key)));
    return QStringLiteral("| `%1` | %2 | `%3` | %4 | %5 | %6 |")
        .arg(key, QString::fromLatin1(vistrel::configKeyTypeName(row.type())), cell(vistrelDefault),
             cell(rangeCell(row, info.rangeEn)), cell(QString::fromUtf8(info.meaningEn)), cell(written));
}

}  // namespace

QString configurationMarkdown()
{
    QStringList out;
    out << QStringLiteral("# Configuration reference") << QString()
        << QStringLiteral("Vistrel reads one JSON object (`render.json`; Tavrin writes `config/render_qt_run.json`). "
                          "Every key is optional: a key that is missing or `null` keeps its default, and keys "
                          "Vistrel does not know are ignored (Tavrin keeps its own, such as "
                          "`tavrin_preview_limit`, in `config/render_gui.json`).")
        << QString()
        << QStringLiteral("- Numbers may also be given as JSON text written out in full (`\"1920\"`, `\"2.5\"`, "
                          "spaces around it allowed). Text that only begins with a number or uses another "
                          "notation (`\"1920px\"`, `\"300m\"`, `\"9O\"`, `\"2e3\"`) is a configuration error "
                          "naming the key (exit 1). An integer key given a fractional number takes its whole "
                          "part; `true` counts as 1.")
        << QStringLiteral("- Every number must be finite: `nan`, `inf` and `-inf` are configuration errors.")
        << QStringLiteral("- A value of the wrong type, or a failed check, ends Vistrel with exit code 1 and "
                          "the reason on standard error. Values outside a clamp are corrected silently.")
        << QStringLiteral("- Relative paths are resolved against the folder of the configuration file.") << QString()
        << QStringLiteral("The Tavrin column names the form row that edits the key and the value the form "
                          "starts with; keys without a row are written with that value. Every form row shows "
                          "the same facts in its tooltip.")
        << QString() << QStringLiteral("| Key | Type | Default | Range, checks and clamps | Meaning | Tavrin |")
        << QStringLiteral("|---|---|---|---|---|---|");

    for (const vistrel::ConfigKey& row : vistrel::configKeyTable())
        out << keyRow(row);

    out << QString() << QStringLiteral("## Shards on a cluster") << QString()
        << QStringLiteral("`shard_index` and `shard_count` let several processes share one batch. When the "
                          "file does not set them, Vistrel takes them from the job engine: a Kubernetes "
                          "Indexed Job gives `JOB_COMPLETION_INDEX` (the manifest sets `VISTREL_SHARD_COUNT`), "
                          "a Slurm job array gives `SLURM_ARRAY_TASK_ID`, `SLURM_ARRAY_TASK_COUNT`, "
                          "`SLURM_ARRAY_TASK_MIN` and `SLURM_ARRAY_TASK_STEP`. Values that are not whole "
                          "numbers, a missing count or an index outside 0 to count - 1 are configuration "
                          "errors (exit 1). Each shard writes its own journal and "
                          "`render_report.shard-<k>-of-<n>.csv`; a last unsharded run with `resume` true "
                          "writes the complete `render_report.csv`. Tavrin never writes these two keys.")
        << QString() << QStringLiteral("## Exit codes") << QString() << QStringLiteral("| Code | Meaning |")
        << QStringLiteral("|---|---|");
    for (const vistrel::ExitCodeText& code : vistrel::exitCodeTexts())
        out << QStringLiteral("| %1 | %2 |").arg(code.code).arg(cell(QString::fromUtf8(code.english)));
    out << QString()
        << QStringLiteral("This file is generated from `frontend/ConfigReference.cpp`, which also gives Tavrin "
                          "its tooltips: `build/bin/tavrin_config_doc > docs/configuration.md`.")
        << QString();
    return out.join(QLatin1Char('\n'));
}
