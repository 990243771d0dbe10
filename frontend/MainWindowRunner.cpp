// Running the renderer: writing the run file, starting the process, turning
// its output into log lines and progress, and reporting its end.

#include "MainWindow.h"

#include "ImageProgress.h"
#include "RendererLocation.h"
#include "SettingsFile.h"
#include "TimeText.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

namespace {

constexpr int kStopWaitMs = 3000;

} // namespace

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
    const auto isEmpty = [&runSettings](const char* key) {
        return runSettings.value(QLatin1String(key)).toString().isEmpty();
    };
    if (isEmpty("osgb_path") || isEmpty("shp_path") || isEmpty("output_dir")) {
        showMessage(QMessageBox::Warning, QStringLiteral("参数不完整"),
                    QStringLiteral("请先选择 OSGB、SHP 和输出目录。"));
        return;
    }

    const QString runFile = runFilePathFor(m_programDir);
    if (!saveSettings(m_settingsPath, collectSettings(false)))
        return;
    if (!saveSettings(runFile, runSettings))
        return;

    auto* process = new QProcess(this);
    process->setProgram(renderer);
    process->setArguments({runFile});
    process->setWorkingDirectory(m_programDir);
    process->setProcessChannelMode(QProcess::MergedChannels);
    connect(process, &QProcess::readyReadStandardOutput, this, &MainWindow::readProcessOutput);
    connect(process, &QProcess::finished, this,
            [this](int exitCode, QProcess::ExitStatus) { processFinished(exitCode); });
    connect(process, &QProcess::errorOccurred, this, &MainWindow::processFailedToStart);
    m_process = process;
    m_rendererPath = renderer;

    m_frameBar->setValue(0);
    m_imageBar->setValue(0);
    m_statusLabel->setText(QStringLiteral("任务启动中..."));
    m_logView->clear();
    m_outputLines.reset();
    m_timer.restart();
    m_startButton->setEnabled(false);
    m_testButton->setEnabled(false);
    m_stopButton->setEnabled(true);

    process->start(QIODevice::ReadWrite);
    appendLog(QStringLiteral("==== 开始任务 ===="));
}

void MainWindow::stopTask()
{
    const QPointer<QProcess> process = m_process;
    if (!process)
        return;
    appendLog(QStringLiteral("正在停止任务..."));
    process->terminate();
    // A process that ends within the wait reports its end from inside the
    // wait (processFinished); only one still running is killed.
    if (!process->waitForFinished(kStopWaitMs) && process && process == m_process)
        process->kill();
}

void MainWindow::readProcessOutput()
{
    if (!m_process)
        return;
    for (const QString& line : m_outputLines.feed(m_process->readAllStandardOutput()))
        handleOutputLine(line);
}

void MainWindow::handleOutputLine(const QString& line)
{
    appendLog(line);
    const std::optional<ImageProgress> progress = parseImageProgress(line);
    if (!progress)
        return;

    m_imageBar->setMaximum(progress->totalImages);
    m_imageBar->setValue(progress->image);
    m_frameBar->setMaximum(progress->totalFrames);
    m_frameBar->setValue(progress->frame);
    m_statusLabel->setText(QStringLiteral("图片 %1/%2，图斑 %3/%4，已用 %5，预计剩余 %6")
                               .arg(progress->image)
                               .arg(progress->totalImages)
                               .arg(progress->frame)
                               .arg(progress->totalFrames)
                               .arg(formatDuration(m_timer.elapsed() / 1000.0))
                               .arg(formatDuration(progress->etaSeconds)));
}

void MainWindow::processFinished(int exitCode)
{
    // Output still buffered and a last line without a line end belong to the
    // log before the end is reported.
    if (m_process) {
        for (const QString& line : m_outputLines.feed(m_process->readAllStandardOutput()))
            handleOutputLine(line);
    }
    for (const QString& line : m_outputLines.finish())
        handleOutputLine(line);

    if (exitCode == 0)
        appendLog(QStringLiteral("==== 任务完成 ===="));
    else
        appendLog(QStringLiteral("==== 任务失败，退出码：%1 ====").arg(exitCode));

    const QString status = exitCode == 0
        ? QStringLiteral("任务完成，总耗时 ") + formatDuration(m_timer.elapsed() / 1000.0)
        : QStringLiteral("任务失败");
    setIdle();
    m_statusLabel->setText(status);
    showMessage(QMessageBox::Information, QStringLiteral("任务结束"), status);
}

void MainWindow::processFailedToStart(QProcess::ProcessError error)
{
    // Without a start there is no finished signal; return to idle here.
    if (error != QProcess::FailedToStart || !m_process)
        return;
    const QString reason = m_process->errorString();
    appendLog(QStringLiteral("==== 任务失败，无法启动渲染器：%1 ====").arg(reason));
    setIdle();
    m_statusLabel->setText(QStringLiteral("任务失败"));
    showMessage(QMessageBox::Critical, QStringLiteral("无法启动渲染器"),
                QStringLiteral("无法启动 ") + QDir::toNativeSeparators(m_rendererPath)
                    + QStringLiteral("：") + reason);
}

void MainWindow::setIdle()
{
    m_startButton->setEnabled(true);
    m_testButton->setEnabled(true);
    m_stopButton->setEnabled(false);
    if (m_process) {
        m_process->deleteLater();
        m_process = nullptr;
    }
}
