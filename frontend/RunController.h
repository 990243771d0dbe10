#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

class LogView;
class PreviewPane;
class ProjectController;
class QLabel;
class QProgressBar;
class QPushButton;
class RendererRun;
class SettingsForm;
class UserDialogs;
struct MessageAction;
struct RunEnd;
namespace vistrel {
struct ImageProgress;
}

// The window's widgets a run drives: the task buttons and the progress row.
struct RunControls {
    QPushButton* start = nullptr;
    QPushButton* test = nullptr;
    QPushButton* stop = nullptr;
    QPushButton* save = nullptr;
    QProgressBar* frameBar = nullptr;
    QProgressBar* imageBar = nullptr;
    QLabel* status = nullptr;
};

// A task of the renderer started from the window: the checks before a
// start, the run file, the buttons, the log, progress and preview while it
// runs, the stop, and the end box. The renderer runs as a child process
// (RendererRun).
class RunController : public QObject {
    Q_OBJECT

public:
    struct Parts {
        SettingsForm* form = nullptr;
        LogView* log = nullptr;
        PreviewPane* preview = nullptr;
        UserDialogs* dialogs = nullptr;
        // Saves the project and writes the run file at a start.
        ProjectController* project = nullptr;
        RunControls controls;
    };

    RunController(const QString& programDir, const Parts& parts, QObject* parent);
    // A renderer still running ends with the run (see ~RendererRun), before
    // the widgets its signals would reach are gone.
    ~RunController() override;

    bool running() const;
    void setStopGracePeriod(int milliseconds);

    void start(bool testMode);
    // 停止: the first asks the renderer to stop, the second (强制停止) kills
    // it once the user confirms.
    void stop();
    // The start buttons work while no task runs and every number is in range.
    void updateButtons();
    // Long texts (a failure reason, the shard state) are cut to the label's
    // fixed width; the whole text is the label's tooltip.
    void setStatus(const QString& text);

    // Closing the window while a task runs: true when the task ended while
    // the question was open; a "yes" stops it, and closeRequested follows
    // its end.
    bool askToStopForClose();
    // Already stopping to close, or asking whether to.
    bool closing() const { return m_closeAfterStop || m_askingToClose; }

signals:
    // The folder the task writes to, at its start.
    void started(const QString& outputFolder);
    // The task has ended and the window is idle again (before the end box).
    void ended();
    // The task stopped to close the window has ended.
    void closeRequested();

private:
    void connectRun();
    bool readyToStart(const QJsonObject& runSettings);
    void showStarted();
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
    QList<MessageAction> runEndActions() const;

    const QString m_programDir;
    const Parts m_parts;
    RendererRun* m_run = nullptr;
    QString m_rendererPath;
    QString m_outputFolder;
    int m_previewFrames = 0;  // a test export's frame limit; 0 for a full run
    QString m_progressText;  // status text of the last progress line
    bool m_closeAfterStop = false;
    bool m_askingToClose = false;
};
