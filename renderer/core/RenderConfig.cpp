#include "core/RunProtocol.h"
#include "core/RenderConfig.h"
#include "core/NumberText.h"

#include "core/ConfigKeys.h"
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

void resolveConfigPaths(RenderConfig& config, const std::string& configPath)
{
    const fs::path configFolder = fs::absolute(fs::path(configPath)).parent_path();
    for (std::string* text : {&config.osgb_path, &config.model_path, &config.shp_path, &config.output_dir}) {
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

// The value of an environment variable as a whole number: digits, with a
// "-" at most (no sign "+", no blanks). False (and the message written) when
// it is set to anything else.
bool environmentNumber(const char* name, long& value, bool& present, std::ostream& err)
{
    const char* text = std::getenv(name);
    present = text != nullptr;
    if (!present) {
        return true;
    }
    const std::string given(text);
    const std::size_t digits = given.rfind('-', 0) == 0 ? 1 : 0;
    errno = 0;
    char* end = nullptr;
    const bool plain = given.size() > digits && given.find_first_not_of("0123456789", digits) == std::string::npos;
    value = plain ? std::strtol(given.c_str(), &end, 10) : 0;
    if (!plain || errno == ERANGE || value < -1000000000L || value > 1000000000L) {
        err << escapeControlBytes(runMessage(RunMessage::ConfigEnvironmentNotNumber, {name, given})) << '\n';
        return false;
    }
    return true;
}

struct ShardEnvironment {
    long index = 0;
    long count = 0;
    bool hasIndex = false;
    bool hasCount = false;
};

// Slurm job arrays: ids from SLURM_ARRAY_TASK_MIN in steps of SLURM_ARRAY_TASK_STEP.
bool readSlurmArray(ShardEnvironment& shard, bool countNeeded, std::ostream& err)
{
    long id = 0;
    long first = 0;
    long step = 1;
    bool hasFirst = false;
    bool hasStep = false;
    if (!environmentNumber("SLURM_ARRAY_TASK_ID", id, shard.hasIndex, err) || !shard.hasIndex) {
        return !shard.hasIndex;
    }
    if (!environmentNumber("SLURM_ARRAY_TASK_COUNT", shard.count, shard.hasCount, err) ||
        !environmentNumber("SLURM_ARRAY_TASK_MIN", first, hasFirst, err) ||
        !environmentNumber("SLURM_ARRAY_TASK_STEP", step, hasStep, err)) {
        return false;
    }
    if (!shard.hasCount && countNeeded) {
        err << runMessage(RunMessage::ConfigSlurmCount) << '\n';
        return false;
    }
    if (!hasStep) {
        step = 1;
    } else if (step < 1) {
        err << runMessage(RunMessage::ConfigOther,
                          {"SLURM_ARRAY_TASK_STEP must be at least 1, got \"" + std::to_string(step) + "\""})
            << '\n';
        return false;
    }
    shard.index = (id - first) / step;
    return true;
}

}  // namespace

bool readShardEnvironment(RenderConfig& config, bool indexGiven, bool countGiven, std::ostream& err)
{
    ShardEnvironment shard;
    // Kubernetes Indexed Jobs: the index from the job, the count from the manifest.
    if (!environmentNumber("JOB_COMPLETION_INDEX", shard.index, shard.hasIndex, err) ||
        !environmentNumber("VISTREL_SHARD_COUNT", shard.count, shard.hasCount, err)) {
        return false;
    }
    if (shard.hasIndex && !shard.hasCount && !countGiven) {
        err << runMessage(RunMessage::ConfigShardEnvironmentCount) << '\n';
        return false;
    }
    if (!shard.hasIndex) {
        ShardEnvironment slurm;
        if (!readSlurmArray(slurm, !countGiven && !shard.hasCount, err)) {
            return false;
        }
        shard.index = slurm.index;
        shard.hasIndex = slurm.hasIndex;
        if (!shard.hasCount) {
            shard.count = slurm.count;
            shard.hasCount = slurm.hasCount;
        }
    }
    if (!indexGiven && shard.hasIndex) {
        config.shard_index = static_cast<int>(shard.index);
    }
    if (!countGiven && shard.hasCount) {
        config.shard_count = static_cast<int>(shard.count);
    }
    if (!indexGiven && !shard.hasIndex && config.shard_count > 1) {
        err << runMessage(RunMessage::ConfigShardIndexMissing, {std::to_string(config.shard_count)}) << '\n';
        return false;
    }
    return true;
}

bool validateRenderConfig(RenderConfig& config, std::ostream& err)
{
    std::string refusal;
    if (!checkConfigKeys(config, refusal)) {
        err << escapeControlBytes(runMessage(RunMessage::ConfigOther, {refusal})) << '\n';
        return false;
    }
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
        err << escapeControlBytes(runMessage(RunMessage::CannotOpenConfig, {configPath})) << '\n';
        return false;
    }
    try {
        json root;
        in >> root;

        const std::string unreadable = readConfigKeys(root, config);
        if (!unreadable.empty()) {
            err << escapeControlBytes(runMessage(RunMessage::ConfigOther, {unreadable})) << '\n';
            return false;
        }

        const auto given = [&root](const char* key) {
            return root.is_object() && root.contains(key) && !root.at(key).is_null();
        };
        if (!readShardEnvironment(config, given("shard_index"), given("shard_count"), err)) {
            return false;
        }
        resolveConfigPaths(config, configPath);
        return validateRenderConfig(config, err);
    } catch (const std::exception& e) {
        err << escapeControlBytes(runMessage(RunMessage::ConfigLoadFailed, {e.what()})) << '\n';
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
    out << "SHP offset: x=" << coordinateNumber(c.shp_offset_x) << ", y=" << coordinateNumber(c.shp_offset_y)
        << ", gauss_zone_prefix=" << coordinateNumber(c.gauss_zone_prefix)
        << ", auto_strip_gauss_zone=" << flag(c.auto_strip_gauss_zone)
        << ", auto_align_shp_to_scene=" << flag(c.auto_align_shp_to_scene)
        << ", output_top_range=" << flag(c.output_top_range) << '\n';
    out << "Size: " << c.width << "x" << c.height << '\n';
    out << "Camera padding: " << c.camera_padding << '\n';
    out << "Oblique factors: padding=" << c.oblique_padding_factor << ", distance=" << c.oblique_distance_factor
        << ", view_angle=" << c.oblique_view_angle << '\n';
    out << "Avoid occlusion: " << flag(c.avoid_occlusion) << ", sample_step=" << c.occlusion_sample_step << '\n';
    out << "Warmup frames: " << c.warmup_frames << '\n';
    out << "Range line: lift=" << c.range_line_lift << ", sample_step=" << c.range_line_sample_step
        << ", width=" << c.range_line_width << ", color=" << c.range_line_color << '\n';
    out << "Format: " << c.output_format << '\n';
    out << "DPI: " << c.output_dpi << '\n';
    const auto declared = [](const std::string& text) { return text.empty() ? std::string("as declared") : text; };
    out << "Coordinate systems: model_srs=" << declared(c.model_srs) << ", frames_crs=" << declared(c.frames_crs)
        << ", reproject_frames=" << c.reproject_frames << ", world_file=" << flag(c.world_file) << '\n';
    if (!c.layer.empty()) {
        out << "Layer: " << c.layer << '\n';
    }
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
