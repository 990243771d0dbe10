#pragma once

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <vector>

namespace vistrel {

// Every setting of a run, one field per key of render.json, in the file's
// documented key order.
struct RenderConfig {
    int width = 3840;
    int height = 2160;
    double distance = 300.0;
    std::string background = "white";
    std::string output_format = "png";
    int jpg_quality = 95;
    bool pdf_lossless = false;  // pdf pages hold the picture Flate-compressed instead of as JPEG
    std::vector<std::string> annotate;  // marks drawn on pictures: north_arrow, scale_bar, caption
    std::string caption_template = "<名称> <角度>";  // the caption's text (the name template's placeholders)
    bool dossier = false;  // one A4 sheet (PDF) per frame with its pictures and attributes
    std::string dossier_template;  // the sheet's name (the name template's placeholders); empty: the frame's name
    std::vector<std::string> dossier_fields;  // the sheet's attribute table; empty: field_names
    bool dossier_book = false;  // with dossier: also one PDF of every sheet of the run
    int output_dpi = 300;
    double camera_padding = 1.05;
    double oblique_padding_factor = 1.02;
    double oblique_distance_factor = 0.8;
    double oblique_view_angle = 50.0;
    bool avoid_occlusion = true;
    double occlusion_sample_step = 0.35;
    std::vector<std::string> angles;
    std::string osgb_path;  // the model; model_path is the same key under its newer name
    std::string model_path;
    std::string shp_path;
    std::string output_dir = "output";
    std::string field_name = "NAME";
    std::vector<std::string> field_names;
    std::string field_separator = "_";
    std::string photo_name_template;
    int preview_limit = 0;
    double shp_offset_x = 0.0;
    double shp_offset_y = 0.0;
    double gauss_zone_prefix = 0.0;
    bool auto_strip_gauss_zone = true;
    bool auto_align_shp_to_scene = true;
    bool output_top_range = false;
    bool transparent_bg = false;
    int multisample = 4;
    int warmup_frames = 8;
    double range_line_lift = 0.08;
    double range_line_sample_step = 1.0;
    double range_line_width = 5.0;
    std::string range_line_color = "red";
    double range_line_smooth_limit = 0.6;
    int num_threads = 4;
    // Keys beyond the original set; at their defaults a run behaves as before.
    bool range_line_depth_test = false;  // outline hidden where the model covers it
    bool warmup_until_loaded = true;  // no fixed warm-up: draw until the database pager is idle
    double max_screen_space_error = 1.0;  // pixels: a tiled level is refined while its error exceeds this
    double tile_load_timeout = 120.0;  // seconds a picture waits for its tiles before it fails
    bool resume = false;  // skip images the run journal records as done
    int shard_index = 0;  // this process renders frames i with i % shard_count == shard_index
    int shard_count = 1;
    bool html_report = false;  // also write render_report.html with thumbnails
    std::string model_srs;  // replaces the model's SRS of metadata.xml when set
    std::string frames_crs;  // replaces the CRS the vector source declares when set
    std::string reproject_frames = "auto";  // auto, always or never
    std::string layer;  // vector layer; empty = the first layer holding polygons
    bool world_file = false;  // world file (+ .prj) beside every top and top_range picture
    int egl_device = -1;  // EGL device by index; -1: VISTREL_EGL_DEVICE, else automatic
    std::string where;  // OGR SQL attribute filter on the layer; empty = every frame
    bool retry_failed_only = false;  // with resume: render only the frames with failed or skipped images
    double min_visible_share = 0.3;  // a picture showing less of its frame gets a remark and a WARN
    bool outline_all_views = false;  // the outline, depth-tested, in every side, diagonal and oblique picture
};

// Reads, resolves and validates `configPath` into `config`, which must hold
// the defaults. On failure the reason has been written to `err` (standard
// error by default) and false is returned.
bool loadRenderConfig(RenderConfig& config, const std::string& configPath);
bool loadRenderConfig(RenderConfig& config, const std::string& configPath, std::ostream& err);

// Makes osgb_path, shp_path and output_dir absolute against the folder of
// `configPath` (weakly canonical); absolute ones are only normalised. Throws std::filesystem::filesystem_error.
void resolveConfigPaths(RenderConfig& config, const std::string& configPath);

// The shard of a cluster job, for whichever of shard_index and shard_count
// the configuration does not give (`indexGiven`, `countGiven`): the index
// from JOB_COMPLETION_INDEX (Kubernetes Indexed Jobs) or SLURM_ARRAY_TASK_ID
// with SLURM_ARRAY_TASK_MIN and SLURM_ARRAY_TASK_STEP (Slurm job arrays),
// made 0-based; the count from VISTREL_SHARD_COUNT or SLURM_ARRAY_TASK_COUNT.
// False, with the message written to `err`, for a value that is not plain
// digits, a step below 1, a missing count, or a count above 1 with no index
// from either place. The range is checked by validateRenderConfig.
bool readShardEnvironment(RenderConfig& config, bool indexGiven, bool countGiven, std::ostream& err);

// Checks and normalises the record in place; the first failing check writes
// its message to `err` and returns false.
bool validateRenderConfig(RenderConfig& config, std::ostream& err);

// The summary of effective settings, written to `out` (standard output).
void printConfigSummary(const RenderConfig& config, std::ostream& out);
void printConfigSummary(const RenderConfig& config);

}  // namespace vistrel
