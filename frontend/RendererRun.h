#pragma once

#include "OutputLineSplitter.h"
#include "RunOutputReader.h"

#include "core/RunProtocol.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QTimer>

// How a run of the renderer ended.
enum class RunOutcome {
    Done,  // exit 0 with images written
    NothingWritten,  // ended well, or with every frame skipped, but no image written
    Stopped,  // stopped on request (or by a signal from elsewhere): the report is written
    Killed,  // killed (forced stop, or no end within the grace period): no report
    Failed,
};

struct RunEnd {
    RunOutcome outcome = RunOutcome::Failed;
    int exitCode = 0;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
};

// One run of the renderer: the process, its output read line by line, the
// gentle stop with the kill after the grace period, and how it ended. It
// knows nothing of widgets; the window follows its signals.
class RendererRun : public QObject {
    Q_OBJECT

public:
    explicit RendererRun(QObject* parent = nullptr);
    // A renderer still running gets the same chance to end its image and
    // write its report as on a stop, then is killed.
    ~RendererRun() override;

    // How long a stopped renderer may take to finish its image before it is
    // killed.
    void setStopGracePeriod(int milliseconds) { m_stopGraceMs = milliseconds; }
    int stopGracePeriod() const { return m_stopGraceMs; }

    // Starts `program runFile` in `workingDir`. outlineImages: the run
    // writes the outline image beside the vertical view (for the counts).
    void start(const QString& program, const QString& runFile, const QString& workingDir, bool outlineImages);
    // SIGTERM: the renderer finishes the image in hand, writes the report
    // and exits with 5; killed when it has not ended after the grace period.
    void requestStop();
    void forceStop();

    bool running() const { return !m_process.isNull(); }
    bool stopRequested() const { return m_stopRequested; }
    const RunSummary& summary() const { return m_reader.summary(); }
    qint64 elapsedMs() const { return m_timer.elapsed(); }

signals:
    void lineRead(const QString& line);
    void imageWritten(const WrittenImage& image);
    void progress(const vistrel::ImageProgress& progress);
    void runStateRead();  // a RUN_STATE or "Resumed" line
    void graceExpired();  // just before the kill
    void finished(const RunEnd& end);
    void failedToStart(const QString& reason);

private:
    void readOutput();
    void readLine(const QString& line);
    void processFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void processError(QProcess::ProcessError error);
    void endProcess();

    QPointer<QProcess> m_process;
    OutputLineSplitter m_lines;
    RunOutputReader m_reader;
    QElapsedTimer m_timer;
    QTimer m_killTimer;
    int m_stopGraceMs = 30000;
    bool m_stopRequested = false;
    bool m_killed = false;
};
