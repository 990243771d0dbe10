#pragma once

#include <QString>

#include <vector>

// The texts that describe every key of the configuration key table
// (renderer/core/ConfigKeys.h, which holds the facts: type, defaults, bounds):
// the checks and clamps in words, what the key does, and the Tavrin form row
// that edits it. The form's labels and tooltips and the user documentation
// (docs/configuration.md) are both made from these texts and that table, so
// they cannot drift apart.
struct ConfigKeyInfo {
    const char* key;
    const char* defaultNote;  // said after Vistrel's default in the documentation, or nullptr
    const char* rangeEn;  // what the checks and clamps of the key table leave unsaid (units, special values)
    const char* meaningEn;
    const char* label;  // Tavrin's form label, or nullptr when the form has no field for it
    const char* meaningZh;  // tooltip text (form keys only)
    const char* rangeZh;
};

// The texts of all keys, one entry per row of the key table.
const std::vector<ConfigKeyInfo>& configKeys();

// The entry of a key; nullptr for a key Vistrel does not read.
const ConfigKeyInfo* configKey(const QString& key);

// The form label of a key (its row label or check box text).
QString configLabel(const char* key);

// The tooltip of a key's form row, in Chinese: what it does, its range, the
// value Tavrin starts with, and the key itself.
QString configTooltip(const char* key);

// docs/configuration.md.
QString configurationMarkdown();
