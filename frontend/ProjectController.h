#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

class LogView;
class SettingsForm;
class UserDialogs;
class QWidget;

// The project file of the window: the start with the last project, new,
// open, save and save as, the edits not yet saved, and what render_gui.json
// keeps of the window. A task running is the window's to refuse.
class ProjectController : public QObject {
    Q_OBJECT

public:
    // window: the parent of the file dialogs, whose geometry is kept.
    ProjectController(const QString& programDir, QWidget* window, SettingsForm* form, LogView* log,
                      UserDialogs* dialogs);

    // The project file; empty for a new project not saved yet.
    QString path() const { return m_path; }
    // Writes a settings file; a failure is told to the user.
    bool saveSettings(const QString& path, const QJsonObject& settings);

    // Opens the last project (or the defaults) as the window starts.
    void loadStartup();
    bool save();
    bool saveAs(const QString& path);
    bool open(const QString& path);
    void startNew();
    // The file dialogs; the path chosen to open is empty when cancelled.
    bool chooseAndSaveAs();
    QString chooseToOpen() const;

    // A task saves the project as it starts (a new one once it has a file).
    bool saveForRun();
    // Closing, opening another project or starting a new one asks to save
    // edits not yet saved; false when the user cancels.
    bool confirmUnsavedEdits(const QString& question);
    // render_gui.json names the project and keeps the window's state; the
    // project joins the recent ones.
    void remember();

signals:
    void titleChanged(const QString& title);
    // Another project (or the startup one) is in the form.
    void shown();

private:
    void show(const QString& path, const QJsonObject& settings);
    void updateTitle();
    QString folder() const;

    const QString m_programDir;
    QWidget* m_window;
    SettingsForm* m_form;
    LogView* m_log;
    UserDialogs* m_dialogs;
    QString m_path;
    // The form as last loaded or saved to the project file.
    QJsonObject m_savedForm;
};
