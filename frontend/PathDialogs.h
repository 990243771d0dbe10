#pragma once

#include <QString>

class QWidget;

// The browse dialogs of the window: Qt's own dialog (the same on every
// system), with Chinese labels, opening near the path the row already holds.
// Each gives the chosen path, or an empty text when the user cancelled.

// The folder a dialog opens in: the row's path where it (or a folder above
// it) exists, else `fallback` (the folder last browsed).
QString dialogStartFolder(const QString& current, const QString& fallback);

// A model folder or a single .osgb file: both can be chosen.
QString chooseModelPath(QWidget* parent, const QString& title, const QString& start);
// A vector source file.
QString chooseFramesFile(QWidget* parent, const QString& title, const QString& start);
QString chooseFolder(QWidget* parent, const QString& title, const QString& start);
// A project file to open, or to save to (".json" is added when missing).
QString chooseProjectToOpen(QWidget* parent, const QString& start);
QString chooseProjectToSave(QWidget* parent, const QString& start);
