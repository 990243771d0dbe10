#pragma once

#include "UserMessage.h"

#include <QJsonObject>
#include <QMainWindow>
#include <QPointer>

class LogView;
class PlanMap;
class PlanRun;
class PreviewPane;
struct PlanData;
class QLabel;
class QProgressBar;
class QPushButton;
class RendererRun;
class SettingsForm;
struct RunEnd;
struct WrittenImage;
namespace vistrel {
struct ImageProgress;
}

// The single window of Tavrin. It builds and wires its parts: the settings
// form (SettingsForm, with its FieldPicker), the task buttons, the progress
// row, the log beside the preview, and the run of the renderer
// (RendererRun); it shows the end of a run and asks the user's questions.
//
// MainWindow.cpp: construction, layout, header actions and closing;
// MainWindowProject.cpp: the project file (new, open, save, save as, recent
// projects, dropped files);
// MainWindowPlan.cpp: the plan of the paths chosen (`Vistrel --plan`) on the
// map of parcels, and the results of a run on it;
// MainWindowRun.cpp: starting, following and stopping a run;
// MainWindowRunEnd.cpp: the end box.
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
    QString settingsFilePath() const { return m_projectPath; }
    SettingsForm* settingsForm() const { return m_form; }
    // Writes a settings file; a failure is told to the user.
    bool saveSettings(const QString& path, const QJsonObject& settings);

    // The project: saved to its file (a new one asks for a file), saved to
    // another file, opened (after asking to save edits), started anew.
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
    QWidget* buildButtonsRow();
    QWidget* buildProgressRow();
    QWidget* buildLogRow();
    void connectRun();
    QWidget* buildPlanPane(QWidget* parent);
    void schedulePlan();
    void showPlan(const PlanData& plan);
    void showRunResults();
    void openParcel(int parcel);

    void showHelp();
    void openFeedbackForm();
    void setFeedbackAddress();
    void openOutputFolder();
    QWidget* buildProjectButton(QWidget* parent);
    void fillRecentMenu();
    void loadStartupProject();
    void showProject(const QString& path, const QJsonObject& settings);
    void updateTitle();
    void rememberProject();
    QString projectFolder() const;
    bool chooseAndSaveProjectAs();
    void chooseAndOpenProject();
    bool confirmUnsavedEdits(const QString& question);
    bool askToStopForClose();

    bool askQuestion(const QString& title, const QString& text);
    int askChoice(const QString& title, const QString& text, const QStringList& choices);
    void showMessage(QMessageBox::Icon icon, const QString& title, const QString& text,
                     const QList<MessageAction>& actions = {}, const QString& details = {});
    void openUrl(const QUrl& url);
    void appendLog(const QString& line);
    void setStatus(const QString& text);
    void updateRunButtons();

    // The run.
    bool readyToStart(const QJsonObject& runSettings);
    void requestStop();
    void showLine(const QString& line);
    void showProgress(const vistrel::ImageProgress& progress);
    void showRunningStatus();
    QString timeLeftText(const vistrel::ImageProgress& progress) const;
    QString runStateText() const;
    void runFinished(const RunEnd& end);
    void runFailedToStart(const QString& reason);
    void setIdle();
    void showRunEnd(const RunEnd& end);
    QStringList runEndCounts() const;
    QList<MessageAction> runEndActions();

    const QString m_programDir;
    QString m_projectPath;
    MessageHandler m_messageHandler;
    UrlOpener m_urlOpener;

    SettingsForm* m_form = nullptr;
    // The form as last loaded or saved to the project file.
    QJsonObject m_savedForm;
    class QMenu* m_recentMenu = nullptr;

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

    // The plan and its map.
    PlanRun* m_plan = nullptr;
    PlanMap* m_planMap = nullptr;
    QLabel* m_planCaption = nullptr;
    QLabel* m_parcelLabel = nullptr;  // the report row of the parcel clicked
    class QTimer* m_planTimer = nullptr;
    class QTabWidget* m_lowerTabs = nullptr;

    RendererRun* m_run = nullptr;
    QString m_rendererPath;
    QString m_runOutputFolder;
    int m_previewFrames = 0;  // a test export's frame limit; 0 for a full run
    QString m_progressText;  // status text of the last progress line
    bool m_closeAfterStop = false;
    bool m_askingToClose = false;
    // A question about the running task; closed when the task ends.
    QPointer<QMessageBox> m_openQuestion;
};
