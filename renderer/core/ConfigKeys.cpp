#include "core/ConfigKeys.h"

#include "core/CameraAngle.h"
#include "core/NumberText.h"
#include "core/OutputFormats.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <utility>

namespace fs = std::filesystem;
using nlohmann::json;

namespace vistrel {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Rows are built with small setters so that each reads as one line of facts.
struct Row {
    ConfigKey key;

    Row(const char* name, ConfigField field)
    {
        key.name = name;
        key.field = field;
    }
    Row& refuseBelow(double low, std::optional<RunMessage> message = std::nullopt)
    {
        key.refuseBelow = low;
        key.belowMessage = message;
        return *this;
    }
    Row& refuseAtOrBelow(double low, RunMessage message)
    {
        key.refuseBelow = low;
        key.refuseAtLow = true;
        key.belowMessage = message;
        return *this;
    }
    Row& refuseAbove(double high, std::optional<RunMessage> message = std::nullopt)
    {
        key.refuseAbove = high;
        key.aboveMessage = message;
        return *this;
    }
    Row& clamp(double low, double high = kInf)
    {
        key.clampLow = low;
        key.clampHigh = high;
        return *this;
    }
    Row& rule(ConfigKeyRule check)
    {
        key.rule = check;
        return *this;
    }
    Row& identity(BatchIdentity kind = BatchIdentity::Value)
    {
        key.identity = kind;
        return *this;
    }
    Row& tavrin(const char* jsonText)
    {
        key.tavrinDefault = jsonText;
        return *this;
    }
    Row& notWrittenByTavrin()
    {
        key.writtenByTavrin = false;
        return *this;
    }
    operator ConfigKey() const { return key; }  // NOLINT(google-explicit-constructor)
};

// Largest accepted template, in bytes.
constexpr std::size_t kMaxTemplateBytes = 4096;

bool angleSupported(const std::string& key)
{
    for (const auto& known : configurableAngleKeys()) {
        if (known == key) {
            return true;
        }
    }
    return false;
}

bool isForbiddenSeparatorByte(unsigned char c)
{
    switch (c) {
    case '\\':
    case '/':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|': return true;
    default: return c < 0x20;
    }
}

bool pathExists(const std::string& text)
{
    // Throws filesystem_error for failures other than "not found".
    return fs::exists(fs::path(text));
}

std::string anglesRule(RenderConfig& c)
{
    if (c.angles.empty()) {
        c.angles.push_back("top");
    }
    for (const auto& angle : c.angles) {
        if (!angleSupported(angle)) {
            return refusalText(RunMessage::ConfigUnsupportedAngle, {angle});
        }
    }
    return {};
}

std::string annotateRule(RenderConfig& c)
{
    for (const auto& mark : c.annotate) {
        if (mark != "north_arrow" && mark != "scale_bar" && mark != "caption") {
            return "annotate takes north_arrow, scale_bar and caption, not " + mark + ".";
        }
    }
    return {};
}

std::string outputFormatRule(RenderConfig& c)
{
    return findOutputFormat(c.output_format) ? std::string() : refusalText(RunMessage::ConfigOutputFormat);
}

std::string osgbPathRule(RenderConfig& c)
{
    // model_path and osgb_path name the same thing; either may be given.
    if (!c.model_path.empty() && c.osgb_path.empty()) {
        c.osgb_path = c.model_path;
    } else if (!c.model_path.empty() && c.model_path != c.osgb_path) {
        return refusalText(RunMessage::ConfigModelPathsDiffer, {c.model_path, c.osgb_path});
    }
    c.model_path = c.osgb_path;
    if (c.osgb_path.empty() || c.shp_path.empty()) {
        return refusalText(RunMessage::ConfigInputsRequired);
    }
    return pathExists(c.osgb_path) ? std::string() : refusalText(RunMessage::ConfigOsgbMissing, {c.osgb_path});
}

std::string shpPathRule(RenderConfig& c)
{
    return pathExists(c.shp_path) ? std::string() : refusalText(RunMessage::ConfigShpMissing, {c.shp_path});
}

std::string outputDirRule(RenderConfig& c)
{
    if (c.output_dir.empty()) {
        c.output_dir = "output";
    }
    return {};
}

std::string fieldNamesRule(RenderConfig& c)
{
    if (c.field_names.empty() && !c.field_name.empty()) {
        c.field_names.push_back(c.field_name);
    }
    return {};
}

std::string fieldSeparatorRule(RenderConfig& c)
{
    if (c.field_separator.empty()) {
        c.field_separator = "_";
    }
    if (c.field_separator == "\\") {
        return {};
    }
    for (unsigned char ch : c.field_separator) {
        if (isForbiddenSeparatorByte(ch)) {
            return refusalText(RunMessage::ConfigSeparator);
        }
    }
    return {};
}

std::string templateRule(RenderConfig& c)
{
    return c.photo_name_template.size() > kMaxTemplateBytes
               ? refusalText(RunMessage::ConfigTemplateTooLong, {std::to_string(kMaxTemplateBytes)})
               : std::string();
}

std::string dossierTemplateRule(RenderConfig& c)
{
    return c.dossier_template.size() > kMaxTemplateBytes
               ? "dossier_template must be at most " + std::to_string(kMaxTemplateBytes) + " bytes."
               : std::string();
}

std::string shardIndexRule(RenderConfig& c)
{
    // A count below 1 is refused by its own row.
    if (c.shard_count < 1 || (c.shard_index >= 0 && c.shard_index < c.shard_count)) {
        return {};
    }
    return refusalText(RunMessage::ConfigShardIndexRange,
                       {std::to_string(c.shard_index), std::to_string(c.shard_count)});
}

std::string reprojectFramesRule(RenderConfig& c)
{
    const std::string& mode = c.reproject_frames;
    return mode == "auto" || mode == "always" || mode == "never" ? std::string()
                                                                 : "reproject_frames must be auto, always, or never.";
}

std::string retryRule(RenderConfig& c)
{
    return c.retry_failed_only && !c.resume ? refusalText(RunMessage::ConfigRetryNeedsResume) : std::string();
}

using R = RenderConfig;
constexpr auto V = BatchIdentity::Value;

// The keys of the pictures: size, views, formats, marks, dossier sheets and cameras.
std::vector<ConfigKey> pictureKeys()
{
    return {
        Row("width", &R::width)
            .refuseBelow(1, RunMessage::ConfigSizePositive)
            .refuseAbove(16384, RunMessage::ConfigSizeTooLarge)
            .identity(V),
        Row("height", &R::height)
            .refuseBelow(1, RunMessage::ConfigSizePositive)
            .refuseAbove(16384, RunMessage::ConfigSizeTooLarge)
            .identity(V),
        Row("distance", &R::distance).refuseAtOrBelow(0, RunMessage::ConfigDistancePositive).identity(V),
        Row("angles", &R::angles).rule(anglesRule).identity(V).tavrin(R"(["top","se45","sw45","north"])"),
        Row("background", &R::background).identity(V),
        Row("output_format", &R::output_format).rule(outputFormatRule).identity(V),
        Row("jpg_quality", &R::jpg_quality)
            .refuseBelow(1, RunMessage::ConfigJpgQuality)
            .refuseAbove(100, RunMessage::ConfigJpgQuality)
            .identity(V),
        Row("pdf_lossless", &R::pdf_lossless).identity(V),
        Row("annotate", &R::annotate).rule(annotateRule).identity(V),
        Row("caption_template", &R::caption_template).identity(V),
        Row("dossier", &R::dossier),
        Row("dossier_template", &R::dossier_template).rule(dossierTemplateRule).identity(BatchIdentity::ValueWhenSet),
        Row("dossier_fields", &R::dossier_fields).identity(BatchIdentity::ValueWhenSet),
        Row("dossier_book", &R::dossier_book),
        Row("output_dpi", &R::output_dpi).clamp(72, 1200).identity(V),
        Row("camera_padding", &R::camera_padding).clamp(1.0).identity(V),
        Row("oblique_padding_factor", &R::oblique_padding_factor).clamp(0.5, 1.5).identity(V),
        Row("oblique_distance_factor", &R::oblique_distance_factor).clamp(0.25, 1.5).identity(V),
        Row("oblique_view_angle", &R::oblique_view_angle).clamp(30.0, 70.0).identity(V),
        Row("avoid_occlusion", &R::avoid_occlusion).identity(V),
        Row("occlusion_sample_step", &R::occlusion_sample_step).clamp(0.1, 0.9).identity(V),
    };
}

// The keys of the run: inputs and output, names, outline, loading, resume,
// shards and coordinate systems. model_path comes before osgb_path, whose
// rule reads it.
std::vector<ConfigKey> runKeys()
{
    return {
        Row("model_path", &R::model_path).notWrittenByTavrin(),
        Row("osgb_path", &R::osgb_path).rule(osgbPathRule).identity(BatchIdentity::FileName).tavrin(R"("")"),
        Row("shp_path", &R::shp_path).rule(shpPathRule).identity(BatchIdentity::FileName).tavrin(R"("")"),
        Row("output_dir", &R::output_dir).rule(outputDirRule).tavrin(R"("")"),
        Row("field_name", &R::field_name).identity(V).tavrin(R"("ZDDM")"),
        Row("field_names", &R::field_names).rule(fieldNamesRule).identity(V).tavrin(R"(["ZDDM"])"),
        Row("field_separator", &R::field_separator).rule(fieldSeparatorRule).identity(V),
        Row("photo_name_template", &R::photo_name_template).rule(templateRule).identity(V),
        Row("preview_limit", &R::preview_limit).clamp(0),
        Row("shp_offset_x", &R::shp_offset_x).identity(V),
        Row("shp_offset_y", &R::shp_offset_y).identity(V),
        Row("gauss_zone_prefix", &R::gauss_zone_prefix).identity(V),
        Row("auto_strip_gauss_zone", &R::auto_strip_gauss_zone).identity(V),
        Row("auto_align_shp_to_scene", &R::auto_align_shp_to_scene).identity(V),
        Row("output_top_range", &R::output_top_range).identity(V),
        Row("transparent_bg", &R::transparent_bg).identity(V),
        Row("multisample", &R::multisample).clamp(0),
        Row("warmup_frames", &R::warmup_frames).refuseAbove(1000).clamp(0),
        Row("range_line_lift", &R::range_line_lift).clamp(0.0).identity(V),
        Row("range_line_sample_step", &R::range_line_sample_step).clamp(0.2).identity(V),
        Row("range_line_width", &R::range_line_width).clamp(1.0).identity(V),
        Row("range_line_color", &R::range_line_color).identity(V),
        Row("range_line_smooth_limit", &R::range_line_smooth_limit).clamp(0.0).identity(V),
        Row("num_threads", &R::num_threads).refuseAbove(64).clamp(1),
        Row("range_line_depth_test", &R::range_line_depth_test).identity(V),
        Row("warmup_until_loaded", &R::warmup_until_loaded),
        Row("tile_load_timeout", &R::tile_load_timeout).refuseBelow(1).refuseAbove(3600),
        Row("resume", &R::resume),
        Row("shard_index", &R::shard_index).rule(shardIndexRule).notWrittenByTavrin(),
        Row("shard_count", &R::shard_count).refuseBelow(1).notWrittenByTavrin(),
        Row("html_report", &R::html_report).tavrin("true"),
        Row("model_srs", &R::model_srs).identity(V),
        Row("frames_crs", &R::frames_crs).identity(V),
        Row("reproject_frames", &R::reproject_frames).rule(reprojectFramesRule).identity(V),
        Row("layer", &R::layer).identity(V),
        Row("world_file", &R::world_file).identity(V).tavrin("true"),
        Row("min_visible_share", &R::min_visible_share).clamp(0.0, 1.0),
        Row("outline_all_views", &R::outline_all_views).identity(V),
        Row("egl_device", &R::egl_device).refuseBelow(-1, RunMessage::ConfigEglDevice).notWrittenByTavrin(),
        Row("where", &R::where).identity(BatchIdentity::ValueWhenSet),
        Row("max_screen_space_error", &R::max_screen_space_error)
            .clamp(0.1, 64.0)
            .identity(BatchIdentity::ValueWhenSet),
        Row("retry_failed_only", &R::retry_failed_only).rule(retryRule),
    };
}

// Rows in their documented order, which is also the order of the checks.
std::vector<ConfigKey> buildTable()
{
    std::vector<ConfigKey> table = pictureKeys();
    const std::vector<ConfigKey> run = runKeys();
    table.insert(table.end(), run.begin(), run.end());
    return table;
}

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

[[noreturn]] void throwTypeError(const json& value, const char* expected)
{
    throw json::type_error::create(302, std::string("type must be ") + expected + ", but is " + value.type_name(),
                                   &value);
}

// A number given as text must be written in full; it is then read as the
// JSON number it spells.
double numberInText(const json& value)
{
    double number = 0.0;
    if (!fullNumberText(value.get_ref<const std::string&>(), number)) {
        throw std::invalid_argument("not a number written in full");
    }
    return number;
}

int readInt(const json& value, const char* key)
{
    if (value.is_string()) {
        return readInt(json(numberInText(value)), key);
    }
    if (value.is_boolean()) {
        return value.get<bool>() ? 1 : 0;
    }
    if (value.is_number_integer()) {
        // Signed and unsigned JSON integers keep their low 32 bits.
        const auto raw = value.is_number_unsigned() ? static_cast<std::uint64_t>(value.get<std::uint64_t>())
                                                    : static_cast<std::uint64_t>(value.get<std::int64_t>());
        return static_cast<int>(static_cast<std::uint32_t>(raw));
    }
    if (value.is_number_float()) {
        const double number = std::trunc(value.get<double>());
        // Truncation toward zero is only defined inside the int range.
        if (!(number >= static_cast<double>(std::numeric_limits<int>::min()) &&
              number <= static_cast<double>(std::numeric_limits<int>::max()))) {
            throw std::out_of_range(std::string("value of ") + key + " is out of the integer range");
        }
        return static_cast<int>(number);
    }
    throwTypeError(value, "number");
}

double readDouble(const json& value)
{
    if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        std::size_t used = 0;
        const double spelled = text.empty() ? 0.0 : std::stod(text, &used);
        // "nan" and "inf" are read as such, so that the finiteness check names them.
        return used == text.size() && !std::isfinite(spelled) ? spelled : numberInText(value);
    }
    if (!value.is_number()) {
        throwTypeError(value, "number");
    }
    return value.get<double>();
}

std::vector<std::string> readTextList(const json& value)
{
    if (!value.is_array()) {
        throwTypeError(value, "array");
    }
    std::vector<std::string> list;
    list.reserve(value.size());
    for (const auto& element : value) {
        list.push_back(element.get<std::string>());
    }
    return list;
}

// Visits a key's field with the member pointer's own type.
template <typename Visitor>
auto visitField(const ConfigKey& key, Visitor&& visitor)
{
    return std::visit(std::forward<Visitor>(visitor), key.field);
}

double numericValue(const RenderConfig& config, const ConfigKey& key)
{
    if (const auto* i = std::get_if<int RenderConfig::*>(&key.field)) {
        return config.**i;
    }
    if (const auto* d = std::get_if<double RenderConfig::*>(&key.field)) {
        return config.**d;
    }
    return 0.0;
}

void clampKey(RenderConfig& config, const ConfigKey& key)
{
    if (const auto* i = std::get_if<int RenderConfig::*>(&key.field)) {
        const double clamped = std::min(std::max(static_cast<double>(config.**i), key.clampLow), key.clampHigh);
        config.** i = static_cast<int>(clamped);
    } else if (const auto* d = std::get_if<double RenderConfig::*>(&key.field)) {
        config.** d = std::min(std::max(config.**d, key.clampLow), key.clampHigh);
    }
}

std::string boundMessage(const ConfigKey& key, std::optional<RunMessage> given, const char* side, double bound)
{
    return given ? refusalText(*given, {streamNumber(bound)})
                 : std::string(key.name) + " must be " + side + " " + streamNumber(bound) + ".";
}

}  // namespace

KeyRange acceptedRange(const ConfigKey& key)
{
    // A refused low end is itself accepted unless the row refuses it too.
    const double low = key.refuseAtLow ? std::nextafter(key.refuseBelow, kInf) : key.refuseBelow;
    return {std::max(low, key.clampLow), std::min(key.refuseAbove, key.clampHigh)};
}

std::string refusalText(RunMessage id, const std::vector<std::string>& values)
{
    constexpr std::string_view prefix = "Config error: ";
    const std::string text = runMessage(id, values);
    return text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : text;
}

ConfigKeyType ConfigKey::type() const
{
    switch (field.index()) {
    case 0: return ConfigKeyType::Integer;
    case 1: return ConfigKeyType::Number;
    case 2: return ConfigKeyType::Boolean;
    case 3: return ConfigKeyType::Text;
    default: return ConfigKeyType::TextList;
    }
}

bool ConfigKey::hasRefusal() const
{
    return refuseBelow > -kInf || refuseAbove < kInf;
}

bool ConfigKey::hasClamp() const
{
    return clampLow > -kInf || clampHigh < kInf;
}

const std::vector<ConfigKey>& configKeyTable()
{
    static const std::vector<ConfigKey> table = buildTable();
    return table;
}

const ConfigKey* findConfigKey(std::string_view name)
{
    for (const ConfigKey& key : configKeyTable()) {
        if (name == key.name) {
            return &key;
        }
    }
    return nullptr;
}

const char* configKeyTypeName(ConfigKeyType type)
{
    switch (type) {
    case ConfigKeyType::Integer: return "integer";
    case ConfigKeyType::Number: return "number";
    case ConfigKeyType::Boolean: return "boolean";
    case ConfigKeyType::Text: return "text";
    case ConfigKeyType::TextList: return "list of texts";
    }
    return "";
}

json configKeyValue(const RenderConfig& config, const ConfigKey& key)
{
    return visitField(key, [&config](auto member) { return json(config.*member); });
}

json vistrelDefault(const ConfigKey& key)
{
    static const RenderConfig defaults;
    return configKeyValue(defaults, key);
}

json tavrinDefault(const ConfigKey& key)
{
    return *key.tavrinDefault ? json::parse(key.tavrinDefault) : vistrelDefault(key);
}

namespace {

const char* expectedValue(ConfigKeyType type)
{
    switch (type) {
    case ConfigKeyType::Integer: return "a whole number";
    case ConfigKeyType::Number: return "a number";
    case ConfigKeyType::Boolean: return "true or false";
    case ConfigKeyType::Text: return "a text";
    case ConfigKeyType::TextList: return "a list of texts";
    }
    return "";
}

// The value as JSON, cut short: a refusal quotes what was given, not all of it.
std::string shownValue(const json& value)
{
    std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
    if (text.size() > 60) {
        text = text.substr(0, 60) + "...";
    }
    return text;
}

}  // namespace

std::string readConfigKeys(const json& root, RenderConfig& config)
{
    for (const ConfigKey& key : configKeyTable()) {
        const json* value = findValue(root, key.name);
        if (!value) {
            continue;
        }
        try {
            std::visit(
                [&](auto member) {
                    using Field = std::decay_t<decltype(config.*member)>;
                    if constexpr (std::is_same_v<Field, int>) {
                        config.*member = readInt(*value, key.name);
                    } else if constexpr (std::is_same_v<Field, double>) {
                        config.*member = readDouble(*value);
                    } else if constexpr (std::is_same_v<Field, std::vector<std::string>>) {
                        config.*member = readTextList(*value);
                    } else {
                        config.*member = value->get<Field>();
                    }
                },
                key.field);
        } catch (const std::exception&) {
            return std::string(key.name) + " must be " + expectedValue(key.type()) + ", got " + shownValue(*value);
        }
    }
    return {};
}

namespace {

std::string firstRefusal(RenderConfig& config)
{
    // NaN slips through every comparison and infinity through most.
    for (const ConfigKey& key : configKeyTable()) {
        if (key.type() == ConfigKeyType::Number && !std::isfinite(numericValue(config, key))) {
            return std::string(key.name) + " must be a finite number.";
        }
    }
    for (const ConfigKey& key : configKeyTable()) {
        if (key.hasRefusal()) {
            const double value = numericValue(config, key);
            if (value < key.refuseBelow || (key.refuseAtLow && value == key.refuseBelow)) {
                return boundMessage(key, key.belowMessage, "at least", key.refuseBelow);
            }
            if (value > key.refuseAbove) {
                return boundMessage(key, key.aboveMessage, "at most", key.refuseAbove);
            }
        }
        if (key.rule) {
            std::string message = key.rule(config);
            if (!message.empty()) {
                return message;
            }
        }
        if (key.hasClamp()) {
            clampKey(config, key);
        }
    }
    return {};
}

}  // namespace

bool checkConfigKeys(RenderConfig& config, std::string& refusal)
{
    refusal = firstRefusal(config);
    return refusal.empty();
}

json batchIdentity(const RenderConfig& config)
{
    json identity = json::array();
    for (const ConfigKey& key : configKeyTable()) {
        if (key.identity == BatchIdentity::Value) {
            identity.push_back(configKeyValue(config, key));
        }
    }
    for (const ConfigKey& key : configKeyTable()) {
        if (key.identity == BatchIdentity::FileName) {
            identity.push_back(fs::path(configKeyValue(config, key).get<std::string>()).filename().string());
        }
    }
    for (const ConfigKey& key : configKeyTable()) {
        if (key.identity == BatchIdentity::ValueWhenSet && configKeyValue(config, key) != vistrelDefault(key)) {
            identity.push_back({key.name, configKeyValue(config, key)});
        }
    }
    return identity;
}

}  // namespace vistrel
