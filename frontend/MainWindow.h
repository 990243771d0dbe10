#pragma once

#include "UserDialogs.h"
#include "UserMessage.h"

#include <QJsonObject>
#include <QMainWindow>

class LogView;
class PlanController;
class PreviewPane;
class ProjectController;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTabWidget;
class RunController;
class SettingsForm;

// The single window of Tavrin: its header with the project and help menus,
// the settings form (SettingsForm), the task buttons, the progress row and
// the log beside the preview and the plan map. It builds the widgets and
// wires the parts that do the work: the project file (ProjectController),
// the run of the renderer (RunController) and the plan of the paths chosen
// (PlanController). Their messages and questions go through UserDialogs.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // programDir is the folder of the executable: Tavrin's files (the last
    // project, the run file) and the renderer are looked for there.
    explicit MainWindow(const QString& programDir, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Modal messages go to the handler instead of a message box when set.
    void setMessageHandler(MessageHandler handler);
    // Folders, images and web pages go to the opener instead of the desktop.
    void setUrlOpener(UrlOpener opener);
    // How long a stopped renderer may take to finish its image before it is
    // killed.
    void setStopGracePeriod(int milliseconds);

    // The project file; empty for a new project not saved yet.
    QString settingsFilePath() const;
    SettingsForm* settingsForm() const { return m_form; }
    // Writes a settings file; a failure is told to the user.
    bool saveSettings(const QString& path, const QJsonObject& settings);

    // The project: saved to its file (a new one asks for a file), saved to
    // another file, opened (after asking to save edits), started anew; not
    // opened or started anew while a task runs.
    bool saveProject();
    bool saveProjectAs(const QString& path);
    bool openProject(const QString& path);
    void newProject();
    // A dropped project, model folder or vector source.
    void openDroppedPath(const QString& path);

    // Runs `Vistrel --plan` for the settings as they are (also when the
    // paths change, a moment after the last change).
    void startPlan();
    bool planning() const;

    bool running() const;

public slots:
    void startTask(bool testMode);
    void stopTask();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildWindow();
    QWidget* buildHeaderRow();
    QWidget* buildProjectButton(QWidget* parent);
    QWidget* buildButtonsRow();
    QWidget* buildProgressRow();
    QWidget* buildLogRow();
    void buildControllers();
    void connectParts();

    void fillRecentMenu();
    void chooseAndOpenProject();
    void showHelp();
    void openFeedbackForm();
    void setFeedbackAddress();
    void openOutputFolder();

    const QString m_programDir;
    UserDialogs m_dialogs{this};

    SettingsForm* m_form = nullptr;
    QMenu* m_recentMenu = nullptr;

    // Task controls, progress, preview and log.
    QPushButton* m_startButton = nullptr;
    QPushButton* m_testButton = nullptr;
    QPushButton* m_stopButton = nullptr;
    QPushButton* m_saveButton = nullptr;
    QProgressBar* m_frameBar = nullptr;
    QProgressBar* m_imageBar = nullptr;
    QLabel* m_statusLabel = nullptr;
    LogView* m_logView = nullptr;
    PreviewPane* m_preview = nullptr;
    QTabWidget* m_lowerTabs = nullptr;  // the preview and the plan map

    ProjectController* m_project = nullptr;
    RunController* m_runs = nullptr;
    PlanController* m_plans = nullptr;
};
