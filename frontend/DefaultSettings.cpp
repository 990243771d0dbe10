#include "DefaultSettings.h"

#include <QJsonArray>

QJsonObject defaultSettings()
{
    return QJsonObject{
        {QStringLiteral("width"), 3840},
        {QStringLiteral("height"), 2160},
        {QStringLiteral("distance"), 300.0},
        {QStringLiteral("background"), QStringLiteral("white")},
        {QStringLiteral("output_format"), QStringLiteral("png")},
        {QStringLiteral("jpg_quality"), 95},
        {QStringLiteral("output_dpi"), 300},
        {QStringLiteral("camera_padding"), 1.05},
        {QStringLiteral("oblique_padding_factor"), 1.02},
        {QStringLiteral("oblique_distance_factor"), 0.8},
        {QStringLiteral("oblique_view_angle"), 50},
        {QStringLiteral("avoid_occlusion"), true},
        {QStringLiteral("occlusion_sample_step"), 0.35},
        {QStringLiteral("angles"),
         QJsonArray{QStringLiteral("top"), QStringLiteral("se45"), QStringLiteral("sw45"),
                    QStringLiteral("north")}},
        {QStringLiteral("osgb_path"), QString()},
        {QStringLiteral("shp_path"), QString()},
        {QStringLiteral("output_dir"), QString()},
        {QStringLiteral("field_name"), QStringLiteral("ZDDM")},
        {QStringLiteral("field_names"), QJsonArray{QStringLiteral("ZDDM")}},
        {QStringLiteral("field_separator"), QStringLiteral("_")},
        {QStringLiteral("photo_name_template"), QString()},
        {QStringLiteral("preview_limit"), 0},
        {QStringLiteral("auto_strip_gauss_zone"), true},
        {QStringLiteral("auto_align_shp_to_scene"), true},
        {QStringLiteral("output_top_range"), false},
        {QStringLiteral("gauss_zone_prefix"), 0.0},
        {QStringLiteral("shp_offset_x"), 0.0},
        {QStringLiteral("shp_offset_y"), 0.0},
        {QStringLiteral("transparent_bg"), false},
        {QStringLiteral("multisample"), 4},
        {QStringLiteral("warmup_frames"), 8},
        {QStringLiteral("range_line_lift"), 0.08},
        {QStringLiteral("range_line_sample_step"), 1.0},
        {QStringLiteral("range_line_width"), 5.0},
        {QStringLiteral("range_line_color"), QStringLiteral("red")},
        {QStringLiteral("range_line_smooth_limit"), 0.6},
        {QStringLiteral("num_threads"), 4},
    };
}
