#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// A project is the configuration JSON of one job, kept wherever the user
// likes; Tavrin's render_gui.json holds only the last project's path and the
// window's state. Keys the form does not show stay in the project as they
// were.

// A project file as read.
struct ProjectRead {
    QJsonObject settings;  // the file's own keys
    bool read = false;  // there and a JSON object
    // When the file was there but damaged: what happened, naming the file
    // and the copy kept beside it (Chinese).
    QString problem;
};

// Reads a project. A damaged file is moved aside to <path>.bad (an older
// .bad is replaced), so that the next save cannot overwrite what it held.
ProjectRead readProjectFile(const QString& path);

// What the window starts with.
struct StartupProject {
    QString path;  // the project file (it may not exist yet)
    QString defaultPath;  // defaultProjectPath of the program folder
    QJsonObject settings;  // the defaults with the project's keys over them
    QByteArray geometry;  // the window's, as QWidget::saveGeometry gave it
    QStringList notes;  // for the log: a migration, the user's configuration folder
    QStringList problems;  // for a message box: damaged files
};

// Reads render_gui.json and the last project. An old render_gui.json that
// held the settings themselves becomes a project file beside it. Without a
// last project: render_project.json in Tavrin's folder, or, while that does
// not exist, the defaults with config/render.json.
StartupProject openStartupProject(const QString& programDir);

// The project Tavrin saves to when the user has not chosen one.
QString defaultProjectPath(const QString& programDir);

// Writes render_gui.json: the project's path and the window's geometry.
bool writeGuiState(const QString& programDir, const QString& project, const QByteArray& geometry, QString* errorText);

// The projects opened or saved last, newest first (at most eight), in
// tavrin.ini; adding moves a path to the front.
QStringList recentProjects(const QString& programDir);
void addRecentProject(const QString& programDir, const QString& path);
