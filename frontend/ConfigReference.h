#pragma once

#include <QString>

#include <vector>

// The reference of every key Vistrel reads from its JSON configuration:
// type, default, the checks and clamps applied to it, what it does, and the
// Tavrin form row that edits it. The form's labels and tooltips and the
// user documentation (docs/configuration.md) are both made from this table,
// so they cannot drift apart.
struct ConfigKeyInfo
{
    const char* key;
    const char* type;           // as written in the JSON file: integer, number, boolean, text, list of texts
    const char* vistrelDefault; // what Vistrel uses when the key is missing or null
    const char* rangeEn;        // checks and clamps
    const char* meaningEn;
    const char* label;          // Tavrin's form label, or nullptr when the form has no field for it
    const char* meaningZh;      // tooltip text (form keys only)
    const char* rangeZh;
    bool writtenByTavrin = true;
};

// All keys, in the order Vistrel reads them.
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
