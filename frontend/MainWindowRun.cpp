// Running the renderer from the window: the checks before a start, the run
// file, the buttons, the log, progress and preview while it runs, and the
// stop.

#include "MainWindow.h"

#include "LogView.h"
#include "PreviewPane.h"
#include "RendererLocation.h"
#include "RendererRun.h"
#include "RunLogText.h"
#include "SettingsFile.h"
#include "SettingsForm.h"
#include "TestExport.h"
#include "TimeText.h"

#include "core/ImagePlan.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

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

// The run writes the outline image beside the vertical view.
bool writesOutlineImages(const QJsonObject& runSettings)
{
    std::vector<std::string> angles;
    for (const QJsonValue& angle : runSettings.value(QLatin1String("angles")).toArray())
        angles.push_back(angle.toString().toStdString());
    return vistrel::writesOutlineImages(angles, runSettings.value(QLatin1String("output_top_range")).toBool());
}

}  // namespace

void MainWindow::connectRun()
{
    connect(m_run, &RendererRun::lineRead, this, &MainWindow::showLine);
    connect(m_run, &RendererRun::imageWritten, m_preview, &PreviewPane::showImage);
    connect(m_run, &RendererRun::progress, this, &MainWindow::showProgress);
    connect(m_run, &RendererRun::runStateRead, this, &MainWindow::showRunningStatus);
    connect(m_run, &RendererRun::graceExpired, this, [this] {
        appendLog(QStringLiteral("渲染器 %1 秒内没有停止，强制结束。").arg(m_run->stopGracePeriod() / 1000.0));
    });
    connect(m_run, &RendererRun::finished, this, &MainWindow::runFinished);
    connect(m_run, &RendererRun::failedToStart, this, &MainWindow::runFailedToStart);
}

// Numbers in range, the three paths given, the model and the shapefile
// there; otherwise the user is told what is missing.
bool MainWindow::readyToStart(const QJsonObject& runSettings)
{
    const QStringList invalid = m_form->invalidNumberFields();
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
    if (!m_form->anyAngleChecked()) {
        showMessage(QMessageBox::Warning, QStringLiteral("参数不完整"), QStringLiteral("请至少勾选一个拍摄角度。"));
        return false;
    }
    return m_form->checkDataPaths();
}

void MainWindow::startTask(bool testMode)
{
    if (m_run->running())
        return;  // one task at a time
    const QString renderer = locateRenderer(m_programDir);
    if (!QFileInfo::exists(renderer)) {
        showMessage(QMessageBox::Critical, QStringLiteral("缺少渲染器"),
                    QStringLiteral("找不到 %1：").arg(QString::fromLatin1(kRendererName)) +
                        QDir::toNativeSeparators(renderer));
        return;
    }
    QJsonObject runSettings = m_form->collectSettings(testMode);
    if (!readyToStart(runSettings))
        return;
    const QString outputFolder =
        m_form->resolvedOutputFolder(runSettings.value(QLatin1String("output_dir")).toString());
    if (testMode) {
        if (const QString refusal = testExportRefusal(runSettings, outputFolder); !refusal.isEmpty()) {
            showMessage(QMessageBox::Warning, QStringLiteral("无法测试导出"), refusal);
            return;
        }
        runSettings = testExportSettings(runSettings, outputFolder);
    }
    const QString runFile = runFilePathFor(m_programDir);
    // The project is saved with every start (a new one once it has a file).
    const bool saved = m_projectPath.isEmpty() || saveSettings(m_projectPath, m_form->collectGuiSettings());
    if (!saved || !saveSettings(runFile, runSettings))
        return;

    m_rendererPath = renderer;
    m_runOutputFolder = testMode ? testExportFolder(outputFolder) : outputFolder;
    m_previewFrames = testMode ? runSettings.value(QLatin1String("preview_limit")).toInt() : 0;
    m_closeAfterStop = false;
    m_frameBar->setValue(0);
    m_imageBar->setValue(0);
    m_progressText.clear();
    setStatus(QStringLiteral("任务启动中..."));
    m_logView->restart();
    m_preview->clear();
    m_preview->setOutputFolder(m_runOutputFolder);
    m_form->setLocked(true);
    m_saveButton->setEnabled(false);
    m_startButton->setEnabled(false);
    m_testButton->setEnabled(false);
    m_stopButton->setText(QStringLiteral("停止"));
    m_stopButton->setEnabled(true);
    appendLog(QStringLiteral("==== 开始任务 ===="));
    m_run->start(renderer, runFile, m_programDir, writesOutlineImages(runSettings));
}

// The renderer answers SIGTERM by finishing the image in hand, writing the
// report of what is done and exiting with 5. It is killed only when it has
// not ended after the grace period, or when the user confirms 强制停止.
void MainWindow::stopTask()
{
    if (!m_run->running())
        return;
    if (!m_run->stopRequested()) {
        requestStop();
        return;
    }
    if (!askQuestion(QStringLiteral("强制停止"),
                     QStringLiteral("立即结束渲染器吗？\n正在拍摄的图片会丢失，报告不会写出。")))
        return;
    if (m_run->running()) {  // the task may have ended while the question was open
        appendLog(QStringLiteral("强制结束渲染器。"));
        m_run->forceStop();
    }
}

void MainWindow::requestStop()
{
    if (m_run->stopRequested())
        return;
    appendLog(QStringLiteral("正在停止任务：渲染器完成当前图片并写出报告后退出..."));
    setStatus(QStringLiteral("正在停止..."));
    m_stopButton->setText(QStringLiteral("强制停止"));
    m_stopButton->setEnabled(false);
    QTimer::singleShot(kStopButtonSettleMs, this, [this] { m_stopButton->setEnabled(m_run->running()); });
    m_run->requestStop();
}

void MainWindow::showLine(const QString& line)
{
    appendLog(logPaneText(line, m_run->summary().skippedFrame));
}

void MainWindow::showProgress(const vistrel::ImageProgress& progress)
{
    m_imageBar->setMaximum(progress.totalImages);
    m_imageBar->setValue(progress.image);
    m_frameBar->setMaximum(progress.totalFrames);
    m_frameBar->setValue(progress.frame);
    m_progressText = QStringLiteral("图片 %1/%2，图斑 %3/%4，已用 %5，预计剩余 %6")
                         .arg(progress.image)
                         .arg(progress.totalImages)
                         .arg(progress.frame)
                         .arg(progress.totalFrames)
                         .arg(formatDuration(m_run->elapsedMs() / 1000.0), timeLeftText(progress));
    showRunningStatus();
}

// The time left from the images this run rendered itself: images taken over
// from an earlier run cost next to nothing and would make it far too short.
QString MainWindow::timeLeftText(const vistrel::ImageProgress& progress) const
{
    const int takenOver = m_run->summary().takenOverSteps;
    if (takenOver == 0)
        return formatDuration(progress.eta);  // the renderer's own estimate counts the same images
    const int rendered = progress.image - takenOver;
    if (rendered <= 0)
        return QStringLiteral("计算中");
    const int left = std::max(0, progress.totalImages - progress.image);
    return formatDuration(progress.elapsed / rendered * left);
}

void MainWindow::showRunningStatus()
{
    if (m_run->stopRequested())
        return;  // "正在停止..." stays until the end
    const QString base = m_progressText.isEmpty() ? QStringLiteral("任务启动中...") : m_progressText;
    const QString state = runStateText();
    setStatus(state.isEmpty() ? base : base + QStringLiteral("（") + state + QStringLiteral("）"));
}

QString MainWindow::runStateText() const
{
    const RunSummary& run = m_run->summary();
    if (!run.runState)
        return QString();
    QStringList parts;
    if (run.shardCount > 1)
        parts.append(QStringLiteral("分片 %1/%2").arg(run.shardIndex + 1).arg(run.shardCount));
    if (run.resume)
        parts.append(QStringLiteral("续跑，已接续 %1 张").arg(run.resumedImages));
    return parts.join(QStringLiteral("，"));
}

void MainWindow::runFinished(const RunEnd& end)
{
    setIdle();
    showRunResults();
    // A question about the task (stop it and close, force it) has no object
    // any more; the close question lets the window close as asked.
    if (m_openQuestion)
        m_openQuestion->reject();
    if (m_closeAfterStop) {
        close();
        return;
    }
    if (!m_askingToClose)
        showRunEnd(end);
}

void MainWindow::runFailedToStart(const QString& reason)
{
    appendLog(QStringLiteral("==== 任务失败，无法启动渲染器：%1 ====").arg(reason));
    setIdle();
    setStatus(QStringLiteral("任务失败"));
    showMessage(QMessageBox::Critical, QStringLiteral("无法启动渲染器"),
                QStringLiteral("无法启动 ") + QDir::toNativeSeparators(m_rendererPath) + QStringLiteral("：") + reason);
}

void MainWindow::setIdle()
{
    m_stopButton->setEnabled(false);
    m_stopButton->setText(QStringLiteral("停止"));
    m_form->setLocked(false);
    m_saveButton->setEnabled(true);
    updateRunButtons();
}

// The start buttons work while no task runs and every number is in range.
void MainWindow::updateRunButtons()
{
    const QStringList invalid = m_form->invalidNumberFields();
    const bool canStart = !m_run->running() && invalid.isEmpty();
    m_startButton->setEnabled(canStart);
    m_testButton->setEnabled(canStart);
    const QString blocked = invalid.isEmpty()
                                ? QString()
                                : QStringLiteral("\n超出有效范围，请先改正：") + invalid.join(QStringLiteral("、"));
    for (QPushButton* button : {m_startButton, m_testButton}) {
        const QString tip = button->toolTip().section(QLatin1Char('\n'), 0, 0);
        button->setToolTip(tip + blocked);
    }
}
