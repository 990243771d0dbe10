#include "core/RenderConfig.h"

#include "core/NumberText.h"
#include "core/SafeText.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <utility>

namespace fs = std::filesystem;
using nlohmann::json;

namespace vistrel {

const std::vector<std::string>& supportedAngleKeys()
{
    static const std::vector<std::string> keys = {
        "top", "se45", "sw45", "ne45", "nw45", "north", "south", "east", "west", "oblique"};
    return keys;
}

namespace {

const json* findValue(const json& root, const char* key)
{
    if (!root.is_object()) {
        return nullptr;
    }
    auto it = root.find(key);
    if (it == root.end() || it->is_null()) {
        return nullptr;
    }
    return &*it;
}

[[noreturn]] void throwNumberTypeError(const json& value)
{
    throw json::type_error::create(302, std::string("type must be number, but is ") + value.type_name(), &value);
}

template <typename T>
T clampValue(T value, T low, T high)
{
    return value < low ? low : (value > high ? high : value);
}

bool isForbiddenSeparatorByte(unsigned char c)
{
    switch (c) {
    case '\\': case '/': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
        return true;
    default:
        return c < 0x20;
    }
}

bool angleSupported(const std::string& key)
{
    for (const auto& known : supportedAngleKeys()) {
        if (known == key) {
            return true;
        }
    }
    return false;
}

// Largest accepted image side, pre-render frames and template length.
constexpr int kMaxImageSide = 16384;
constexpr int kMaxWarmupFrames = 1000;
constexpr std::size_t kMaxTemplateBytes = 4096;
constexpr int kMaxThreads = 64;

// The first numeric key whose value is NaN or infinite; null when all are finite.
const char* firstNonFiniteKey(const RenderConfig& c)
{
    const std::pair<const char*, double> numbers[] = {
        {"distance", c.distance},
        {"camera_padding", c.camera_padding},
        {"oblique_padding_factor", c.oblique_padding_factor},
        {"oblique_distance_factor", c.oblique_distance_factor},
        {"oblique_view_angle", c.oblique_view_angle},
        {"occlusion_sample_step", c.occlusion_sample_step},
        {"shp_offset_x", c.shp_offset_x},
        {"shp_offset_y", c.shp_offset_y},
        {"gauss_zone_prefix", c.gauss_zone_prefix},
        {"range_line_lift", c.range_line_lift},
        {"range_line_sample_step", c.range_line_sample_step},
        {"range_line_width", c.range_line_width},
        {"range_line_smooth_limit", c.range_line_smooth_limit},
    };
    for (const auto& [key, value] : numbers) {
        if (!std::isfinite(value)) {
            return key;
        }
    }
    return nullptr;
}

bool pathExists(const std::string& text)
{
    // Throws filesystem_error for failures other than "not found".
    return fs::exists(fs::path(text));
}

}  // namespace

void readIntKey(const json& root, const char* key, int& field)
{
    const json* value = findValue(root, key);
    if (!value) {
        return;
    }
    if (value->is_string()) {
        field = textToInt(value->get_ref<const std::string&>());
    } else if (value->is_boolean()) {
        field = value->get<bool>() ? 1 : 0;
    } else if (value->is_number_integer()) {
        // Signed and unsigned JSON integers keep their low 32 bits.
        const auto raw = value->is_number_unsigned()
            ? static_cast<std::uint64_t>(value->get<std::uint64_t>())
            : static_cast<std::uint64_t>(value->get<std::int64_t>());
        field = static_cast<int>(static_cast<std::uint32_t>(raw));
    } else if (value->is_number_float()) {
        const double number = std::trunc(value->get<double>());
        // Truncation toward zero is only defined inside the int range.
        if (!(number >= static_cast<double>(std::numeric_limits<int>::min()) &&
              number <= static_cast<double>(std::numeric_limits<int>::max()))) {
            throw std::out_of_range(std::string("value of ") + key + " is out of the integer range");
        }
        field = static_cast<int>(number);
    } else {
        throwNumberTypeError(*value);
    }
}

void readDoubleKey(const json& root, const char* key, double& field)
{
    const json* value = findValue(root, key);
    if (!value) {
        return;
    }
    if (value->is_string()) {
        field = textToDouble(value->get_ref<const std::string&>());
    } else if (value->is_number()) {
        field = value->get<double>();
    } else {
        throwNumberTypeError(*value);
    }
}

void readBoolKey(const json& root, const char* key, bool& field)
{
    const json* value = findValue(root, key);
    if (value) {
        field = value->get<bool>();
    }
}

void readStringKey(const json& root, const char* key, std::string& field)
{
    const json* value = findValue(root, key);
    if (value) {
        field = value->get<std::string>();
    }
}

void readStringListKey(const json& root, const char* key, std::vector<std::string>& field)
{
    const json* value = findValue(root, key);
    if (!value) {
        return;
    }
    if (!value->is_array()) {
        throw json::type_error::create(302, std::string("type must be array, but is ") + value->type_name(), value);
    }
    std::vector<std::string> list;
    list.reserve(value->size());
    for (const auto& element : *value) {
        list.push_back(element.get<std::string>());
    }
    field = std::move(list);
}

void resolveConfigPaths(RenderConfig& config, const std::string& configPath)
{
    const fs::path configFolder = fs::absolute(fs::path(configPath)).parent_path();
    for (std::string* text : {&config.osgb_path, &config.shp_path, &config.output_dir}) {
        if (text->empty()) {
            continue;
        }
        const fs::path path(*text);
        if (path.is_absolute()) {
            // Written as given, but without "//", "." or a trailing "/", so
            // that every path built on it has one spelling.
            std::string normal = path.lexically_normal().string();
            while (normal.size() > 1 && normal.back() == '/') {
                normal.pop_back();
            }
            *text = normal;
            continue;
        }
        *text = fs::weakly_canonical(configFolder / path).string();
    }
}

namespace {

// The value of an environment variable as a whole number; false (and the
// message written) when it is set to anything else.
bool environmentNumber(const char* name, long& value, bool& present, std::ostream& err)
{
    const char* text = std::getenv(name);
    present = text != nullptr;
    if (!present) {
        return true;
    }
    const std::string given(text);
    char* end = nullptr;
    errno = 0;
    value = std::strtol(given.c_str(), &end, 10);
    if (given.empty() || *end != '\0' || errno == ERANGE || value < -1000000000L || value > 1000000000L) {
        err << escapeControlBytes("Config error: " + std::string(name) + " is not a whole number: \"" + given + "\"") << '\n';
        return false;
    }
    return true;
}

}  // namespace

bool readShardEnvironment(RenderConfig& config, std::ostream& err)
{
    long index = 0;
    long count = 0;
    long first = 0;
    long step = 1;
    bool hasIndex = false;
    bool hasCount = false;
    bool hasFirst = false;
    bool hasStep = false;
    // Kubernetes Indexed Jobs: the index from the job, the count from the manifest.
    if (!environmentNumber("JOB_COMPLETION_INDEX", index, hasIndex, err)) {
        return false;
    }
    if (hasIndex) {
        if (!environmentNumber("VISTREL_SHARD_COUNT", count, hasCount, err)) {
            return false;
        }
        if (!hasCount) {
            err << "Config error: JOB_COMPLETION_INDEX is set but VISTREL_SHARD_COUNT is not; set it to the job's "
                   "completions.\n";
            return false;
        }
        config.shard_index = static_cast<int>(index);
        config.shard_count = static_cast<int>(count);
        return true;
    }
    // Slurm job arrays: ids from SLURM_ARRAY_TASK_MIN in steps of SLURM_ARRAY_TASK_STEP.
    if (!environmentNumber("SLURM_ARRAY_TASK_ID", index, hasIndex, err)) {
        return false;
    }
    if (!hasIndex) {
        return true;
    }
    if (!environmentNumber("SLURM_ARRAY_TASK_COUNT", count, hasCount, err) ||
        !environmentNumber("SLURM_ARRAY_TASK_MIN", first, hasFirst, err) ||
        !environmentNumber("SLURM_ARRAY_TASK_STEP", step, hasStep, err)) {
        return false;
    }
    if (!hasCount) {
        err << "Config error: SLURM_ARRAY_TASK_ID is set but SLURM_ARRAY_TASK_COUNT is not.\n";
        return false;
    }
    if (!hasStep || step < 1) {
        step = 1;
    }
    config.shard_index = static_cast<int>((index - first) / step);
    config.shard_count = static_cast<int>(count);
    return true;
}

bool validateRenderConfig(RenderConfig& config, std::ostream& err)
{
    auto fail = [&err](const std::string& message) {
        err << escapeControlBytes(message) << '\n';
        return false;
    };

    // NaN slips through every comparison below and infinity through most.
    if (const char* key = firstNonFiniteKey(config)) {
        return fail(std::string("Config error: ") + key + " must be a finite number.");
    }
    if (config.width < 1 || config.height < 1) {
        return fail("Config error: width and height must be positive.");
    }
    if (config.width > kMaxImageSide || config.height > kMaxImageSide) {
        return fail("Config error: width and height must be at most " + std::to_string(kMaxImageSide) + ".");
    }
    if (!(config.distance > 0.0)) {
        return fail("Config error: distance must be positive.");
    }
    if (config.angles.empty()) {
        config.angles.push_back("top");
    }
    for (const auto& angle : config.angles) {
        if (!angleSupported(angle)) {
            return fail("Config error: unsupported angle " + angle);
        }
    }
    const std::string& format = config.output_format;
    if (format != "png" && format != "jpg" && format != "jpeg" && format != "pdf") {
        return fail("Config error: output_format must be png, jpg, or pdf.");
    }
    if (config.jpg_quality < 1 || config.jpg_quality > 100) {
        return fail("Config error: jpg_quality must be 1-100.");
    }

    config.output_dpi = clampValue(config.output_dpi, 72, 1200);
    config.camera_padding = std::max(config.camera_padding, 1.0);
    config.oblique_padding_factor = clampValue(config.oblique_padding_factor, 0.5, 1.5);
    config.oblique_distance_factor = clampValue(config.oblique_distance_factor, 0.25, 1.5);
    config.oblique_view_angle = clampValue(config.oblique_view_angle, 30.0, 70.0);
    config.occlusion_sample_step = clampValue(config.occlusion_sample_step, 0.1, 0.9);

    if (config.osgb_path.empty() || config.shp_path.empty()) {
        return fail("Config error: osgb_path and shp_path are required.");
    }
    if (!pathExists(config.osgb_path)) {
        return fail("Config error: osgb_path does not exist: " + config.osgb_path);
    }
    if (!pathExists(config.shp_path)) {
        return fail("Config error: shp_path does not exist: " + config.shp_path);
    }
    if (config.output_dir.empty()) {
        config.output_dir = "output";
    }
    if (config.field_names.empty() && !config.field_name.empty()) {
        config.field_names.push_back(config.field_name);
    }
    if (config.field_separator.empty()) {
        config.field_separator = "_";
    }
    if (config.field_separator != "\\") {
        for (unsigned char c : config.field_separator) {
            if (isForbiddenSeparatorByte(c)) {
                return fail("Config error: field_separator contains invalid Windows path characters.");
            }
        }
    }

    if (config.warmup_frames > kMaxWarmupFrames) {
        return fail("Config error: warmup_frames must be at most " + std::to_string(kMaxWarmupFrames) + ".");
    }
    if (config.photo_name_template.size() > kMaxTemplateBytes) {
        return fail("Config error: photo_name_template must be at most " + std::to_string(kMaxTemplateBytes) +
                    " bytes.");
    }
    if (config.num_threads > kMaxThreads) {
        return fail("Config error: num_threads must be at most " + std::to_string(kMaxThreads) + ".");
    }
    if (config.shard_count < 1) {
        return fail("Config error: shard_count must be at least 1.");
    }
    if (config.shard_index < 0 || config.shard_index >= config.shard_count) {
        return fail("Config error: shard_index must be from 0 to shard_count - 1 (shard_index " +
                    std::to_string(config.shard_index) + ", shard_count " + std::to_string(config.shard_count) + ").");
    }

    config.preview_limit = std::max(config.preview_limit, 0);
    config.num_threads = std::max(config.num_threads, 1);
    config.multisample = std::max(config.multisample, 0);
    config.warmup_frames = std::max(config.warmup_frames, 0);
    config.range_line_lift = std::max(config.range_line_lift, 0.0);
    config.range_line_sample_step = std::max(config.range_line_sample_step, 0.2);
    config.range_line_width = std::max(config.range_line_width, 1.0);
    config.range_line_smooth_limit = std::max(config.range_line_smooth_limit, 0.0);
    return true;
}

bool loadRenderConfig(RenderConfig& config, const std::string& configPath, std::ostream& err)
{
    // A folder opens as a stream on some systems but never reads as one.
    std::error_code ec;
    const bool isFolder = fs::is_directory(fs::path(configPath), ec);
    std::ifstream in;
    if (!isFolder) {
        in.open(fs::path(configPath), std::ios::in | std::ios::binary);
    }
    if (!in.is_open()) {
        err << "Cannot open config: " << escapeControlBytes(configPath) << '\n';
        return false;
    }
    try {
        json root;
        in >> root;

        readIntKey(root, "width", config.width);
        readIntKey(root, "height", config.height);
        readDoubleKey(root, "distance", config.distance);
        readStringKey(root, "background", config.background);
        readStringKey(root, "output_format", config.output_format);
        readIntKey(root, "jpg_quality", config.jpg_quality);
        readIntKey(root, "output_dpi", config.output_dpi);
        readDoubleKey(root, "camera_padding", config.camera_padding);
        readDoubleKey(root, "oblique_padding_factor", config.oblique_padding_factor);
        readDoubleKey(root, "oblique_distance_factor", config.oblique_distance_factor);
        readDoubleKey(root, "oblique_view_angle", config.oblique_view_angle);
        readBoolKey(root, "avoid_occlusion", config.avoid_occlusion);
        readDoubleKey(root, "occlusion_sample_step", config.occlusion_sample_step);
        readStringListKey(root, "angles", config.angles);
        readStringKey(root, "osgb_path", config.osgb_path);
        readStringKey(root, "shp_path", config.shp_path);
        readStringKey(root, "output_dir", config.output_dir);
        readStringKey(root, "field_name", config.field_name);
        readStringListKey(root, "field_names", config.field_names);
        readStringKey(root, "field_separator", config.field_separator);
        readStringKey(root, "photo_name_template", config.photo_name_template);
        readIntKey(root, "preview_limit", config.preview_limit);
        readDoubleKey(root, "shp_offset_x", config.shp_offset_x);
        readDoubleKey(root, "shp_offset_y", config.shp_offset_y);
        readDoubleKey(root, "gauss_zone_prefix", config.gauss_zone_prefix);
        readBoolKey(root, "auto_strip_gauss_zone", config.auto_strip_gauss_zone);
        readBoolKey(root, "auto_align_shp_to_scene", config.auto_align_shp_to_scene);
        readBoolKey(root, "output_top_range", config.output_top_range);
        readBoolKey(root, "transparent_bg", config.transparent_bg);
        readIntKey(root, "multisample", config.multisample);
        readIntKey(root, "warmup_frames", config.warmup_frames);
        readDoubleKey(root, "range_line_lift", config.range_line_lift);
        readDoubleKey(root, "range_line_sample_step", config.range_line_sample_step);
        readDoubleKey(root, "range_line_width", config.range_line_width);
        readStringKey(root, "range_line_color", config.range_line_color);
        readDoubleKey(root, "range_line_smooth_limit", config.range_line_smooth_limit);
        readIntKey(root, "num_threads", config.num_threads);
        readBoolKey(root, "range_line_depth_test", config.range_line_depth_test);
        readBoolKey(root, "warmup_until_loaded", config.warmup_until_loaded);
        readBoolKey(root, "resume", config.resume);
        readIntKey(root, "shard_index", config.shard_index);
        readIntKey(root, "shard_count", config.shard_count);
        readBoolKey(root, "html_report", config.html_report);

        const auto given = [&root](const char* key) {
            return root.is_object() && root.contains(key) && !root.at(key).is_null();
        };
        if (!given("shard_index") && !given("shard_count") && !readShardEnvironment(config, err)) {
            return false;
        }
        resolveConfigPaths(config, configPath);
        return validateRenderConfig(config, err);
    } catch (const std::exception& e) {
        err << "Config load failed: " << escapeControlBytes(e.what()) << '\n';
        return false;
    }
}

bool loadRenderConfig(RenderConfig& config, const std::string& configPath)
{
    return loadRenderConfig(config, configPath, std::cerr);
}

void printConfigSummary(const RenderConfig& c, std::ostream& out)
{
    const auto flag = [](bool value) { return value ? "true" : "false"; };
    out << "OSGB path: " << c.osgb_path << '\n';
    out << "SHP path: " << c.shp_path << '\n';
    out << "Output: " << c.output_dir << '\n';
    out << "SHP offset: x=" << c.shp_offset_x << ", y=" << c.shp_offset_y
        << ", gauss_zone_prefix=" << c.gauss_zone_prefix
        << ", auto_strip_gauss_zone=" << flag(c.auto_strip_gauss_zone)
        << ", auto_align_shp_to_scene=" << flag(c.auto_align_shp_to_scene)
        << ", output_top_range=" << flag(c.output_top_range) << '\n';
    out << "Size: " << c.width << "x" << c.height << '\n';
    out << "Camera padding: " << c.camera_padding << '\n';
    out << "Oblique factors: padding=" << c.oblique_padding_factor
        << ", distance=" << c.oblique_distance_factor
        << ", view_angle=" << c.oblique_view_angle << '\n';
    out << "Avoid occlusion: " << flag(c.avoid_occlusion) << ", sample_step=" << c.occlusion_sample_step << '\n';
    out << "Warmup frames: " << c.warmup_frames << '\n';
    out << "Range line: lift=" << c.range_line_lift << ", sample_step=" << c.range_line_sample_step
        << ", width=" << c.range_line_width << ", color=" << c.range_line_color << '\n';
    out << "Format: " << c.output_format << '\n';
    out << "DPI: " << c.output_dpi << '\n';
    if (c.preview_limit > 0) {
        out << "Preview limit: " << c.preview_limit << '\n';
    }
    out.flush();
}

void printConfigSummary(const RenderConfig& config)
{
    printConfigSummary(config, std::cout);
}

}  // namespace vistrel
