#pragma once

#include "SettingsFields.h"

#include <QJsonObject>
#include <QMessageBox>
#include <QStringList>
#include <QWidget>

class DataPathBox;
class FieldPicker;

// The settings form: the data paths (DataPathBox) and the four panels side
// by side (picture and output, naming and task, scene and range line, angles
// and quality; SettingsPanels builds them into SettingsFields). It loads a
// settings object into its fields, collects them into one, says which
// numbers are out of range and which paths are missing, and is locked while
// a task runs. Labels and tooltips come from the configuration reference.
class SettingsForm : public QWidget {
    Q_OBJECT

public:
    // programDir: relative paths are taken from the run file's folder in it,
    // and the browse folders are remembered in its config/tavrin.ini.
    explicit SettingsForm(const QString& programDir, QWidget* parent = nullptr);

    // Form <-> settings object. collectSettings gives the renderer's keys;
    // collectGuiSettings adds Tavrin's own, for the project file. Keys of the
    // loaded object that the form does not show come back unchanged (the
    // renderer's in both, any other in the project).
    void loadSettings(const QJsonObject& settings);
    QJsonObject collectSettings(bool testMode) const;
    QJsonObject collectGuiSettings() const;

    FieldPicker* fieldPicker() const { return m_fields.fieldPicker; }
    // 继续上次任务 and 测试导出图斑数, for the row of the task buttons.
    QWidget* runOptions() const { return m_runOptions; }
    // A model folder or file, or a vector source, as if chosen with 浏览
    // (a dropped file); the fields of a vector source are read.
    void setModelPath(const QString& path);
    void setFramesPath(const QString& path);
    // Reads the shapefile's fields into the picker; tells when it cannot.
    void discoverShapefileFields(const QString& shpPath);

    // The folder the renderer writes to for this output field text: a
    // relative path is taken from the run file's folder, as the renderer
    // does; the empty text is "output" in the program folder.
    QString resolvedOutputFolder(const QString& outputDirText) const;
    QString outputFolder() const;  // of the output field as it is

    // The names of the number fields out of their range.
    QStringList invalidNumberFields() const;
    // Names the model and shapefile paths that do not exist below the path
    // fields; true when both are there (or empty).
    bool checkDataPaths();
    bool anyAngleChecked() const;
    // The coordinate-system line as the plan decided it (in place of the
    // one read from the declared systems).
    void showCoordinateDecision(const QString& text);

    void setLocked(bool locked);

signals:
    void numbersEdited();
    // A data path or the frame filter was chosen, dropped or edited (editing
    // finished): what the plan of the run depends on.
    void pathsChanged();
    void message(QMessageBox::Icon icon, const QString& title, const QString& text);
    void logLine(const QString& text);

private:
    void keepPlaceholdersGrey();
    void describeSections();

    // The fields of the shapefile now named, when it is another than the
    // one the list was read from.
    void refreshShapefileFields(bool quiet);

    QList<QWidget*> m_parts;  // what the lock disables
    QJsonObject m_loaded;  // the object last loaded

    DataPathBox* m_paths = nullptr;
    QWidget* m_runOptions = nullptr;  // placed by the window

    // The panels' fields and their values.
    SettingsFields m_fields;
};
