#pragma once

#include <QJsonObject>
#include <QString>

// Tavrin's own folder: config in the program folder, or, where that folder
// cannot be written (a read-only installation), the user's configuration
// folder (QStandardPaths::AppConfigLocation).
QString configFolderFor(const QString& programDir);
// True when configFolderFor gives the user's folder instead of the program's.
bool usesUserConfigFolder(const QString& programDir);
// config in the program folder, whether it can be written or not.
QString programConfigFolder(const QString& programDir);

// render_gui.json in Tavrin's folder (absolute): the last project's path and
// the window's state.
QString settingsFilePathFor(const QString& programDir);

// render_qt_run.json in Tavrin's folder (absolute): the run file.
QString runFilePathFor(const QString& programDir);

// tavrin.ini in Tavrin's folder (absolute): Tavrin's own state (browse
// folders, recent projects, the feedback address).
QString uiStatePathFor(const QString& programDir);

// The settings of a window without a project: the defaults, with every
// top-level key of config/render.json in the program folder put over them.
// An unreadable or invalid file leaves the defaults as they are.
QJsonObject readStartupSettings(const QString& programDir);

// Writes the object as indented JSON with sorted keys, creating the folder;
// the file is replaced whole or not at all. On failure returns false and
// gives the reason, naming the file.
bool writeSettingsFile(const QString& path, const QJsonObject& settings, QString* errorText);
