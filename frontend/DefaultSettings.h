#pragma once

#include <QJsonObject>

// The front end's own copy of the renderer's defaults: all 37 configuration
// keys. Used at start and as the base of every collected settings object.
QJsonObject defaultSettings();
