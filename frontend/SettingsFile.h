#pragma once

#include <QJsonObject>
#include <QString>

// config/render_gui.json in the program folder (absolute).
QString settingsFilePathFor(const QString& programDir);

// config/render_qt_run.json in the program folder (absolute).
QString runFilePathFor(const QString& programDir);

// config/tavrin.ini in the program folder (absolute): Tavrin's own state
// (browse folders, the feedback address).
QString uiStatePathFor(const QString& programDir);

// The settings the window starts with: the defaults, with every top-level
// key of config/render_gui.json (or, when that file does not exist,
// config/render.json) put over them. An unreadable or invalid file leaves
// the defaults as they are.
QJsonObject readStartupSettings(const QString& programDir);

// Writes the object as indented JSON with sorted keys, creating the folder.
// On failure returns false and gives the file system's reason.
bool writeSettingsFile(const QString& path, const QJsonObject& settings, QString* errorText);
