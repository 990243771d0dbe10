#pragma once

// The one table of configuration keys. Every key Vistrel reads has one row:
// its name, the RenderConfig field it fills (and so its type and Vistrel's
// default), the values that are refused or clamped, whether it belongs to the
// identity of a batch, and what Tavrin writes for it. Reading, validation,
// the batch fingerprint, Tavrin's defaults and fallbacks and the key
// reference in docs/configuration.md are all driven by this table.

#include "core/RenderConfig.h"
#include "core/RunProtocol.h"

#include <nlohmann/json.hpp>

#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vistrel {

// A configuration refusal's text as the key table returns it: the run
// protocol's message `id` without the "Config error: " the run puts before it.
std::string refusalText(RunMessage id, const std::vector<std::string>& values = {});

enum class ConfigKeyType { Integer, Number, Boolean, Text, TextList };

using ConfigField = std::variant<int RenderConfig::*, double RenderConfig::*, bool RenderConfig::*,
                                 std::string RenderConfig::*, std::vector<std::string> RenderConfig::*>;

// How a key enters the fingerprint that tells one batch from another.
enum class BatchIdentity {
    None,  // does not change the pictures or their names
    Value,  // the value itself
    FileName,  // only the file name of the path, so that a moved project resumes
    ValueWhenSet,  // the value, once it is not the default (batches from before the key stay whole)
};

// A rule of its own for a key, run in table order after the key's bounds:
// it may normalise the record, and gives the message of a refusal (the text
// after "Config error: "), or an empty text.
using ConfigKeyRule = std::string (*)(RenderConfig& config);

struct ConfigKey {
    const char* name = "";
    ConfigField field;

    // Refused values: below `refuseBelow` (or not above it, when
    // `refuseAtLow`) or above `refuseAbove` is a configuration error.
    double refuseBelow = -std::numeric_limits<double>::infinity();
    bool refuseAtLow = false;
    double refuseAbove = std::numeric_limits<double>::infinity();
    // The run protocol's messages of a refusal (the bound fills a "{}");
    // none gives "<key> must be at least N." or "<key> must be at most N.".
    std::optional<RunMessage> belowMessage;
    std::optional<RunMessage> aboveMessage;

    // Clamped values: corrected silently into [clampLow, clampHigh].
    double clampLow = -std::numeric_limits<double>::infinity();
    double clampHigh = std::numeric_limits<double>::infinity();

    ConfigKeyRule rule = nullptr;
    BatchIdentity identity = BatchIdentity::None;

    // Tavrin writes the key into every run file, starting from
    // `tavrinDefault` (JSON text; empty: Vistrel's default).
    bool writtenByTavrin = true;
    const char* tavrinDefault = "";

    ConfigKeyType type() const;
    bool hasRefusal() const;
    bool hasClamp() const;
};

// All keys, in the order Vistrel reads them.
const std::vector<ConfigKey>& configKeyTable();

// The row of a key; nullptr for a key Vistrel does not read.
const ConfigKey* findConfigKey(std::string_view name);

// The values a key takes as they are (neither refused nor clamped): the
// bounds its row states, infinite where it states none.
struct KeyRange {
    double low = -std::numeric_limits<double>::infinity();
    double high = std::numeric_limits<double>::infinity();
};
KeyRange acceptedRange(const ConfigKey& key);

// "integer", "number", "boolean", "text", "list of texts".
const char* configKeyTypeName(ConfigKeyType type);

// The key's value in `config`, as JSON.
nlohmann::json configKeyValue(const RenderConfig& config, const ConfigKey& key);

// Vistrel's default (the value of a default-constructed RenderConfig).
nlohmann::json vistrelDefault(const ConfigKey& key);

// What Tavrin's form starts with and writes when it has no other value.
nlohmann::json tavrinDefault(const ConfigKey& key);

// Reads every key of the table that `root` holds (not null) into `config`.
// Gives empty, or for the first value that cannot be read the refusal that
// names the key, what it takes and what it got (the text after
// "Config error: ").
std::string readConfigKeys(const nlohmann::json& root, RenderConfig& config);

// Checks and normalises the record key by key: every number must be finite,
// then in table order each key's bounds, its own rule (which may normalise
// the record) and its clamp. False, with the first refusal (the text after
// "Config error: "), when the record does not pass.
bool checkConfigKeys(RenderConfig& config, std::string& refusal);

// The settings that make a batch what it is: the values of the keys marked
// Value, in table order, then the file names of the keys marked FileName,
// then the keys marked ValueWhenSet that are set, by name.
nlohmann::json batchIdentity(const RenderConfig& config);

}  // namespace vistrel
