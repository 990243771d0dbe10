// Running the renderer: checking the data paths, writing the run file,
// starting the process, turning its output into log lines, progress and the
// preview, and stopping it.

#include "MainWindow.h"

#include "ImageProgress.h"
#include "LogView.h"
#include "PreviewPane.h"
#include "RendererLocation.h"
#include "RunLogText.h"
#include "SettingsFile.h"
#include "TimeText.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace {

// How long 停止 ignores clicks after it has turned into 强制停止, so that a
// double click does not reach the forced stop.
constexpr int kStopButtonSettleMs = 2000;

// "OSGB", "OSGB 和 SHP", "OSGB、SHP 和输出目录".
QString joinedInChinese(const QStringList& parts)
{
    if (parts.size() < 2)
        return parts.join(QString());
    return parts.mid(0, parts.size() - 1).join(QStringLiteral("、")) + QStringLiteral(" 和 ") + parts.last();
}

} // namespace

// Names the model and shapefile paths that do not exist below the path
// fields, with a red frame around their fields; empty fields are left to
// the "参数不完整" message.
bool MainWindow::checkDataPaths()
{
    struct Needed
    {
        QLineEdit* edit;
        const char* what;
    };
    const Needed needed[] = {
        {m_modelPathEdit, "OSGB 模型目录/文件"},
        {m_shapefileEdit, "SHP 图斑文件"},
    };
    QStringList problems;
    for (const Needed& n : needed) {
        const QString text = n.edit->text().trimmed();
        const QString path = resolvedRunPath(QDir::cleanPath(QDir::fromNativeSeparators(text)));
        const bool missing = !text.isEmpty() && !QFileInfo::exists(path);
        n.edit->setStyleSheet(missing ? QStringLiteral("QLineEdit { border: 1px solid #c62828; }") : QString());
        if (missing)
            problems.append(QStringLiteral("找不到 %1：%2").arg(QString::fromUtf8(n.what), QDir::toNativeSeparators(path)));
    }
    m_pathProblemLabel->setText(problems.join(QLatin1Char('\n')));
    m_pathProblemLabel->setVisible(!problems.isEmpty());
    return problems.isEmpty();
}

// Once paths were reported missing, the report follows every change.
void MainWindow::refreshPathProblems()
{
    if (!m_pathProblemLabel->isHidden())
        checkDataPaths();
}

// Numbers in range, the three paths given, the model and the shapefile
// there; otherwise the user is told what is missing.
bool MainWindow::readyToStart(const QJsonObject& runSettings)
{
    const QStringList invalid = invalidNumberFields();
    if (!invalid.isEmpty()) {
        showMessage(QMessageBox::Warning, QStringLiteral("数值超出范围"),
                    QStringLiteral("请先改正超出有效范围的数值：") + invalid.join(QStringLiteral("、")));
        return false;
    }
    QStringList missing;
    const std::pair<const char*, const char*> inputs[] = {
        {"osgb_path", "OSGB"}, {"shp_path", "SHP"}, {"output_dir", "输出目录"}};
    for (const auto& [key, what] : inputs) {
        if (runSettings.value(QLatin1String(key)).toString().isEmpty())
            missing.append(QString::fromUtf8(what));
    }
    if (!missing.isEmpty()) {
        showMessage(QMessageBox::Warning, QStringLiteral("参数不完整"),
                    QStringLiteral("请先选择 %1。").arg(joinedInChinese(missing)));
        return false;
    }
    return checkDataPaths();
}

void MainWindow::startTask(bool testMode)
{
    if (m_process)
        return; // one task at a time

    const QString renderer = locateRenderer(m_programDir);
    if (!QFileInfo::exists(renderer)) {
        showMessage(QMessageBox::Critical, QStringLiteral("缺少渲染器"),
                    QStringLiteral("找不到 %1：").arg(QString::fromLatin1(kRendererName))
                        + QDir::toNativeSeparators(renderer));
        return;
    }

    const QJsonObject runSettings = collectSettings(testMode);
    if (!readyToStart(runSettings))
        return;

    const QString runFile = runFilePathFor(m_programDir);
    if (!saveSettings(m_settingsPath, collectGuiSettings()))
        return;
    if (!saveSettings(runFile, runSettings))
        return;

    auto* process = new QProcess(this);
    process->setProgram(renderer);
    process->setArguments({runFile});
    process->setWorkingDirectory(m_programDir);
    process->setProcessChannelMode(QProcess::MergedChannels);
    connect(process, &QProcess::readyReadStandardOutput, this, &MainWindow::readProcessOutput);
    connect(process, &QProcess::finished, this, &MainWindow::processFinished);
    connect(process, &QProcess::errorOccurred, this, &MainWindow::processFailedToStart);
    m_process = process;
    m_rendererPath = renderer;
    m_runOutputFolder = resolvedOutputFolder(runSettings.value(QLatin1String("output_dir")).toString());
    m_stopRequested = false;
    m_killed = false;
    m_closeAfterStop = false;

    m_frameBar->setValue(0);
    m_imageBar->setValue(0);
    m_progressText.clear();
    setStatus(QStringLiteral("任务启动中..."));
    m_logView->restart();
    m_preview->clear();
    m_preview->setOutputFolder(m_runOutputFolder);
    m_outputLines.reset();
    const bool withTop = runSettings.value(QLatin1String("angles")).toArray().contains(QStringLiteral("top"));
    m_runOutput.reset(withTop && runSettings.value(QLatin1String("output_top_range")).toBool());
    m_previewFrames = testMode ? runSettings.value(QLatin1String("preview_limit")).toInt() : 0;
    m_timer.restart();
    updateRunButtons();
    m_stopButton->setText(QStringLiteral("停止"));
    m_stopButton->setEnabled(true);
    setFormLocked(true);

    process->start(QIODevice::ReadWrite);
    appendLog(QStringLiteral("==== 开始任务 ===="));
}

// The renderer answers SIGTERM by finishing the image in hand, writing the
// report of what is done and exiting with 5. It is killed only when it has
// not ended after the grace period, or when the user confirms 强制停止.
void MainWindow::stopTask()
{
    if (!m_process)
        return;
    if (!m_stopRequested) {
        requestStop();
        return;
    }
    if (!askQuestion(QStringLiteral("强制停止"),
                     QStringLiteral("立即结束渲染器吗？\n正在拍摄的图片会丢失，报告不会写出。")))
        return;
    if (m_process) // the task may have ended while the question was open
        forceStop(QStringLiteral("强制结束渲染器。"));
}

void MainWindow::requestStop()
{
    m_stopRequested = true;
    appendLog(QStringLiteral("正在停止任务：渲染器完成当前图片并写出报告后退出..."));
    setStatus(QStringLiteral("正在停止..."));
    m_stopButton->setText(QStringLiteral("强制停止"));
    m_stopButton->setEnabled(false);
    QTimer::singleShot(kStopButtonSettleMs, this, [this] { m_stopButton->setEnabled(!m_process.isNull()); });
    m_process->terminate();
    m_killTimer.start(m_stopGraceMs);
}

void MainWindow::forceStop(const QString& reason)
{
    appendLog(reason);
    m_killed = true;
    m_process->kill();
}

void MainWindow::stopGraceExpired()
{
    if (m_process)
        forceStop(QStringLiteral("渲染器 %1 秒内没有停止，强制结束。").arg(m_stopGraceMs / 1000.0));
}

void MainWindow::readProcessOutput()
{
    if (!m_process)
        return;
    for (const QString& line : m_outputLines.feed(m_process->readAllStandardOutput()))
        handleOutputLine(line);
}

QString MainWindow::runStateText() const
{
    const RunSummary& run = m_runOutput.summary();
    if (!run.runState)
        return QString();
    QStringList parts;
    if (run.shardCount > 1)
        parts.append(QStringLiteral("分片 %1/%2").arg(run.shardIndex + 1).arg(run.shardCount));
    if (run.resume)
        parts.append(QStringLiteral("续跑，已接续 %1 张").arg(run.resumedImages));
    return parts.join(QStringLiteral("，"));
}

void MainWindow::handleOutputLine(const QString& line)
{
    appendLog(logPaneText(line));
    if (const std::optional<WrittenImage> image = m_runOutput.readLine(line))
        m_preview->showImage(*image);

    if (const std::optional<ImageProgress> progress = parseImageProgress(line)) {
        m_imageBar->setMaximum(progress->totalImages);
        m_imageBar->setValue(progress->image);
        m_frameBar->setMaximum(progress->totalFrames);
        m_frameBar->setValue(progress->frame);
        m_progressText = QStringLiteral("图片 %1/%2，图斑 %3/%4，已用 %5，预计剩余 %6")
                             .arg(progress->image)
                             .arg(progress->totalImages)
                             .arg(progress->frame)
                             .arg(progress->totalFrames)
                             .arg(formatDuration(m_timer.elapsed() / 1000.0))
                             .arg(formatDuration(progress->etaSeconds));
    } else if (!line.contains(QLatin1String("RUN_STATE ")) && !line.contains(QLatin1String("Resumed "))) {
        return;
    }
    if (m_stopRequested)
        return; // "正在停止..." stays until the end
    const QString base = m_progressText.isEmpty() ? QStringLiteral("任务启动中...") : m_progressText;
    const QString state = runStateText();
    setStatus(state.isEmpty() ? base : base + QStringLiteral("（") + state + QStringLiteral("）"));
}

void MainWindow::processFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    // Output still buffered and a last line without a line end belong to the
    // log before the end is reported.
    if (m_process) {
        for (const QString& line : m_outputLines.feed(m_process->readAllStandardOutput()))
            handleOutputLine(line);
    }
    for (const QString& line : m_outputLines.finish())
        handleOutputLine(line);
    if (const std::optional<WrittenImage> image = m_runOutput.finish())
        m_preview->showImage(*image);

    m_killTimer.stop();
    setIdle();
    // A question about the task (stop it and close, force it) has no object
    // any more; the close question lets the window close as asked.
    if (m_openQuestion)
        m_openQuestion->reject();
    if (m_closeAfterStop) {
        close();
        return;
    }
    if (m_askingToClose)
        return;
    showRunEnd(exitCode, exitStatus);
}

void MainWindow::processFailedToStart(QProcess::ProcessError error)
{
    // Without a start there is no finished signal; return to idle here.
    if (error != QProcess::FailedToStart || !m_process)
        return;
    const QString reason = m_process->errorString();
    appendLog(QStringLiteral("==== 任务失败，无法启动渲染器：%1 ====").arg(reason));
    setIdle();
    setStatus(QStringLiteral("任务失败"));
    showMessage(QMessageBox::Critical, QStringLiteral("无法启动渲染器"),
                QStringLiteral("无法启动 ") + QDir::toNativeSeparators(m_rendererPath) + QStringLiteral("：")
                    + reason);
}

void MainWindow::setIdle()
{
    m_killTimer.stop();
    m_stopButton->setEnabled(false);
    m_stopButton->setText(QStringLiteral("停止"));
    setFormLocked(false);
    if (m_process) {
        m_process->deleteLater();
        m_process = nullptr;
    }
    updateRunButtons();
}
