#pragma once

#include <QJsonObject>

// The settings the front end starts with and writes for the keys it has no
// field for: every configuration key Tavrin writes (all of the renderer's
// keys except the cluster-only shard keys, which it leaves to the job's
// environment). The base of every collected settings object.
QJsonObject defaultSettings();

// The value Tavrin starts with for `key`, from the key table; undefined for
// a key Tavrin does not write.
QJsonValue defaultSetting(const char* key);

// The text `settings` holds for `key`; a missing key or a value that is not
// a text gives the one Tavrin starts with.
QString textOrDefault(const QJsonObject& settings, const char* key);
