#include "RendererRun.h"

using namespace vistrel;

namespace {

// The renderer exits with 5 after a SIGTERM or SIGINT, having finished its
// image and written the report; a run the user stopped may also end by the
// kill after the grace period. Neither is a failure. A run that ends well
// but wrote no image is no success.
RunOutcome outcomeOf(const RunEnd& end, bool stopRequested, bool killed, const RunSummary& run)
{
    const bool normal = end.exitStatus == QProcess::NormalExit;
    if (normal && end.exitCode == 0)
        return run.succeeded > 0 ? RunOutcome::Done : RunOutcome::NothingWritten;
    // Every frame skipped as empty, whatever code the renderer gives that.
    if (normal && !stopRequested && run.succeeded == 0 && run.failed == 0 && !run.skipReasons.isEmpty() &&
        run.lastError.isEmpty() && run.configError.isEmpty())
        return RunOutcome::NothingWritten;
    if (killed && end.exitStatus == QProcess::CrashExit)
        return RunOutcome::Killed;
    if (stopRequested || (normal && end.exitCode == ExitStopped))
        return RunOutcome::Stopped;
    return RunOutcome::Failed;
}

bool startsWith(const std::string& text, std::string_view prefix)
{
    return std::string_view(text).substr(0, prefix.size()) == prefix;
}

}  // namespace

RendererRun::RendererRun(QObject* parent) : QObject(parent)
{
    m_killTimer.setSingleShot(true);
    m_killTimer.setTimerType(Qt::PreciseTimer);  // never before the grace period is over
    connect(&m_killTimer, &QTimer::timeout, this, [this] {
        if (!m_process)
            return;
        emit graceExpired();
        forceStop();
    });
}

RendererRun::~RendererRun()
{
    if (!m_process)
        return;
    m_process->disconnect(this);
    m_process->terminate();
    if (!m_process->waitForFinished(m_stopGraceMs)) {
        m_process->kill();
        m_process->waitForFinished(3000);
    }
}

void RendererRun::start(const QString& program, const QString& runFile, const QString& workingDir, bool outlineImages)
{
    if (m_process)
        return;  // one run at a time
    auto* process = new QProcess(this);
    process->setProgram(program);
    process->setArguments({runFile});
    process->setWorkingDirectory(workingDir);
    process->setProcessChannelMode(QProcess::MergedChannels);
    connect(process, &QProcess::readyReadStandardOutput, this, &RendererRun::readOutput);
    connect(process, &QProcess::finished, this, &RendererRun::processFinished);
    connect(process, &QProcess::errorOccurred, this, &RendererRun::processError);
    m_process = process;
    m_stopRequested = false;
    m_killed = false;
    m_lines.reset();
    m_reader.reset(outlineImages);
    m_timer.restart();
    process->start(QIODevice::ReadWrite);
}

void RendererRun::requestStop()
{
    if (!m_process || m_stopRequested)
        return;
    m_stopRequested = true;
    m_process->terminate();
    m_killTimer.start(m_stopGraceMs);
}

void RendererRun::forceStop()
{
    if (!m_process)
        return;
    m_killed = true;
    m_process->kill();
}

void RendererRun::readOutput()
{
    if (!m_process)
        return;
    for (const QString& line : m_lines.feed(m_process->readAllStandardOutput()))
        readLine(line);
}

void RendererRun::readLine(const QString& line)
{
    emit lineRead(line);
    if (const std::optional<WrittenImage> image = m_reader.readLine(line))
        emit imageWritten(*image);
    const std::optional<LogLine> logLine = parseLogLine(line.toStdString());
    if (!logLine)
        return;
    if (const std::optional<ImageProgress> image = parseImageProgress(logLine->message))
        emit progress(*image);
    else if (parseRunState(logLine->message) || startsWith(logLine->message, kResumedPrefix))
        emit runStateRead();
}

void RendererRun::processFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    // Output still buffered and a last line without a line end come before
    // the end.
    readOutput();
    for (const QString& line : m_lines.finish())
        readLine(line);
    if (const std::optional<WrittenImage> image = m_reader.finish())
        emit imageWritten(*image);

    RunEnd end{RunOutcome::Failed, exitCode, exitStatus};
    end.outcome = outcomeOf(end, m_stopRequested, m_killed, m_reader.summary());
    endProcess();
    emit finished(end);
}

// Without a start there is no finished signal; the run ends here.
void RendererRun::processError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart || !m_process)
        return;
    const QString reason = m_process->errorString();
    endProcess();
    emit failedToStart(reason);
}

void RendererRun::endProcess()
{
    m_killTimer.stop();
    if (m_process) {
        m_process->disconnect(this);
        m_process->deleteLater();
        m_process = nullptr;
    }
}
