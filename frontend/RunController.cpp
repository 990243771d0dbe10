// Running the renderer from the window: the checks before a start, the run
// file, the buttons, the log, progress and preview while it runs, the stop
// and the end box.

#include "RunController.h"

#include "LogView.h"
#include "PreviewPane.h"
#include "ProjectController.h"
#include "RendererLocation.h"
#include "RendererRun.h"
#include "RunEndText.h"
#include "RunLogText.h"
#include "SettingsFile.h"
#include "SettingsForm.h"
#include "TestExport.h"
#include "TimeText.h"
#include "UserDialogs.h"

#include "core/ImagePlan.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

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

RunController::RunController(const QString& programDir, const Parts& parts, QObject* parent)
    : QObject(parent), m_programDir(programDir), m_parts(parts), m_run(new RendererRun(this))
{
    connectRun();
    setStatus(QStringLiteral("就绪"));
}

RunController::~RunController()
{
    m_run->disconnect(this);
    delete m_run;
}

bool RunController::running() const
{
    return m_run->running();
}

void RunController::setStopGracePeriod(int milliseconds)
{
    m_run->setStopGracePeriod(milliseconds);
}

void RunController::connectRun()
{
    connect(m_run, &RendererRun::lineRead, this, &RunController::showLine);
    connect(m_run, &RendererRun::imageWritten, m_parts.preview, &PreviewPane::showImage);
    connect(m_run, &RendererRun::progress, this, &RunController::showProgress);
    connect(m_run, &RendererRun::runStateRead, this, &RunController::showRunningStatus);
    connect(m_run, &RendererRun::graceExpired, this, [this] {
        m_parts.log->appendLine(
            QStringLiteral("渲染器 %1 秒内没有停止，强制结束。").arg(m_run->stopGracePeriod() / 1000.0));
    });
    connect(m_run, &RendererRun::finished, this, &RunController::runFinished);
    connect(m_run, &RendererRun::failedToStart, this, &RunController::runFailedToStart);
}

// Numbers in range, the three paths given, the model and the shapefile
// there; otherwise the user is told what is missing.
bool RunController::readyToStart(const QJsonObject& runSettings)
{
    const QStringList invalid = m_parts.form->invalidNumberFields();
    if (!invalid.isEmpty()) {
        m_parts.dialogs->showMessage(QMessageBox::Warning, QStringLiteral("数值超出范围"),
                                     QStringLiteral("请先改正超出有效范围的数值：") +
                                         invalid.join(QStringLiteral("、")));
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
        m_parts.dialogs->showMessage(QMessageBox::Warning, QStringLiteral("参数不完整"),
                                     QStringLiteral("请先选择 %1。").arg(joinedInChinese(missing)));
        return false;
    }
    if (!m_parts.form->anyAngleChecked()) {
        m_parts.dialogs->showMessage(QMessageBox::Warning, QStringLiteral("参数不完整"),
                                     QStringLiteral("请至少勾选一个拍摄角度。"));
        return false;
    }
    return m_parts.form->checkDataPaths();
}

void RunController::start(bool testMode)
{
    if (m_run->running())
        return;  // one task at a time
    const QString renderer = locateRenderer(m_programDir);
    if (!QFileInfo::exists(renderer)) {
        m_parts.dialogs->showMessage(QMessageBox::Critical, QStringLiteral("缺少渲染器"),
                                     QStringLiteral("找不到 %1：").arg(QString::fromLatin1(kRendererName)) +
                                         QDir::toNativeSeparators(renderer));
        return;
    }
    QJsonObject runSettings = m_parts.form->collectSettings(testMode);
    if (!readyToStart(runSettings))
        return;
    const QString outputFolder =
        m_parts.form->resolvedOutputFolder(runSettings.value(QLatin1String("output_dir")).toString());
    if (testMode) {
        if (const QString refusal = testExportRefusal(runSettings, outputFolder); !refusal.isEmpty()) {
            m_parts.dialogs->showMessage(QMessageBox::Warning, QStringLiteral("无法测试导出"), refusal);
            return;
        }
        runSettings = testExportSettings(runSettings, outputFolder);
    }
    const QString runFile = runFilePathFor(m_programDir);
    // The project is saved with every start (a new one once it has a file).
    if (!m_parts.project->saveForRun() || !m_parts.project->saveSettings(runFile, runSettings))
        return;

    m_rendererPath = renderer;
    m_outputFolder = testMode ? testExportFolder(outputFolder) : outputFolder;
    m_previewFrames = testMode ? runSettings.value(QLatin1String("preview_limit")).toInt() : 0;
    emit started(m_outputFolder);
    showStarted();
    m_run->start(renderer, runFile, m_programDir, writesOutlineImages(runSettings));
}

void RunController::showStarted()
{
    const RunControls& controls = m_parts.controls;
    m_closeAfterStop = false;
    controls.frameBar->setValue(0);
    controls.imageBar->setValue(0);
    m_progressText.clear();
    setStatus(QStringLiteral("任务启动中..."));
    m_parts.log->restart();
    m_parts.preview->clear();
    m_parts.preview->setOutputFolder(m_outputFolder);
    m_parts.form->setLocked(true);
    controls.save->setEnabled(false);
    controls.start->setEnabled(false);
    controls.test->setEnabled(false);
    controls.stop->setText(QStringLiteral("停止"));
    controls.stop->setEnabled(true);
    m_parts.log->appendLine(QStringLiteral("==== 开始任务 ===="));
}

// The renderer answers SIGTERM by finishing the image in hand, writing the
// report of what is done and exiting with 5. It is killed only when it has
// not ended after the grace period, or when the user confirms 强制停止.
void RunController::stop()
{
    if (!m_run->running())
        return;
    if (!m_run->stopRequested()) {
        requestStop();
        return;
    }
    if (!m_parts.dialogs->askQuestion(QStringLiteral("强制停止"),
                                      QStringLiteral("立即结束渲染器吗？\n正在拍摄的图片会丢失，报告不会写出。")))
        return;
    if (m_run->running()) {  // the task may have ended while the question was open
        m_parts.log->appendLine(QStringLiteral("强制结束渲染器。"));
        m_run->forceStop();
    }
}

void RunController::requestStop()
{
    if (m_run->stopRequested())
        return;
    QPushButton* stopButton = m_parts.controls.stop;
    m_parts.log->appendLine(QStringLiteral("正在停止任务：渲染器完成当前图片并写出报告后退出..."));
    setStatus(QStringLiteral("正在停止..."));
    stopButton->setText(QStringLiteral("强制停止"));
    stopButton->setEnabled(false);
    QTimer::singleShot(kStopButtonSettleMs, this, [this, stopButton] { stopButton->setEnabled(running()); });
    m_run->requestStop();
}

// True when the task ended while the question was open.
bool RunController::askToStopForClose()
{
    m_askingToClose = true;
    const bool stop = m_parts.dialogs->askQuestion(QStringLiteral("任务正在运行"),
                                                   QStringLiteral("渲染器正在运行。停止任务并退出吗？\n"
                                                                  "渲染器会先完成当前图片并写出报告，然后程序退出。"));
    m_askingToClose = false;
    if (!m_run->running())
        return true;
    if (stop) {
        m_closeAfterStop = true;
        requestStop();
    }
    return false;
}

void RunController::showLine(const QString& line)
{
    m_parts.log->appendLine(logPaneText(line, m_run->summary().skippedFrame));
}

void RunController::showProgress(const vistrel::ImageProgress& progress)
{
    m_parts.controls.imageBar->setMaximum(progress.totalImages);
    m_parts.controls.imageBar->setValue(progress.image);
    m_parts.controls.frameBar->setMaximum(progress.totalFrames);
    m_parts.controls.frameBar->setValue(progress.frame);
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
QString RunController::timeLeftText(const vistrel::ImageProgress& progress) const
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

void RunController::showRunningStatus()
{
    if (m_run->stopRequested())
        return;  // "正在停止..." stays until the end
    const QString base = m_progressText.isEmpty() ? QStringLiteral("任务启动中...") : m_progressText;
    const QString state = runStateText();
    setStatus(state.isEmpty() ? base : base + QStringLiteral("（") + state + QStringLiteral("）"));
}

QString RunController::runStateText() const
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

void RunController::runFinished(const RunEnd& end)
{
    setIdle();
    emit ended();
    // A question about the task (stop it and close, force it) has no object
    // any more; the close question lets the window close as asked.
    m_parts.dialogs->closeOpenQuestion();
    if (m_closeAfterStop) {
        emit closeRequested();
        return;
    }
    if (!m_askingToClose)
        showRunEnd(end);
}

void RunController::runFailedToStart(const QString& reason)
{
    m_parts.log->appendLine(QStringLiteral("==== 任务失败，无法启动渲染器：%1 ====").arg(reason));
    setIdle();
    setStatus(QStringLiteral("任务失败"));
    m_parts.dialogs->showMessage(QMessageBox::Critical, QStringLiteral("无法启动渲染器"),
                                 QStringLiteral("无法启动 ") + QDir::toNativeSeparators(m_rendererPath) +
                                     QStringLiteral("：") + reason);
}

void RunController::setIdle()
{
    m_parts.controls.stop->setEnabled(false);
    m_parts.controls.stop->setText(QStringLiteral("停止"));
    m_parts.form->setLocked(false);
    m_parts.controls.save->setEnabled(true);
    updateButtons();
}

void RunController::updateButtons()
{
    const QStringList invalid = m_parts.form->invalidNumberFields();
    const bool canStart = !m_run->running() && invalid.isEmpty();
    m_parts.controls.start->setEnabled(canStart);
    m_parts.controls.test->setEnabled(canStart);
    const QString blocked = invalid.isEmpty()
                                ? QString()
                                : QStringLiteral("\n超出有效范围，请先改正：") + invalid.join(QStringLiteral("、"));
    for (QPushButton* button : {m_parts.controls.start, m_parts.controls.test}) {
        const QString tip = button->toolTip().section(QLatin1Char('\n'), 0, 0);
        button->setToolTip(tip + blocked);
    }
}

void RunController::setStatus(const QString& text)
{
    QLabel* label = m_parts.controls.status;
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideRight, label->width()));
    label->setToolTip(text);
}

void RunController::showRunEnd(const RunEnd& runEnd)
{
    const RunEndText end =
        runEndText(runEnd, m_run->summary(), formatDuration(m_run->elapsedMs() / 1000.0), m_previewFrames);
    m_parts.log->appendLine(end.logLine);
    setStatus(end.status);
    m_parts.dialogs->showMessage(end.icon, QStringLiteral("任务结束"), end.text, runEndActions(), end.details);
}

// Only the contact sheet this run wrote (the renderer runs in the program
// folder): a page an earlier run left in the output folder does not show
// these results.
QList<MessageAction> RunController::runEndActions() const
{
    const UserDialogs* dialogs = m_parts.dialogs;
    const QString folder = m_outputFolder;
    const RunSummary& run = m_run->summary();
    const QString contactSheet = QDir(m_programDir).filePath(run.htmlReport);
    // The book when there is one, else the last sheet the run wrote.
    const QString sheetFile = run.dossierBook.isEmpty() ? run.dossierSheet : run.dossierBook;
    const QString sheet = sheetFile.isEmpty() ? QString() : QDir(m_programDir).filePath(sheetFile);
    QList<MessageAction> actions = {
        {QStringLiteral("打开输出目录"), [dialogs, folder] { dialogs->openUrl(QUrl::fromLocalFile(folder)); },
         QFileInfo(folder).isDir()},
        {QStringLiteral("打开报告页"), [dialogs, contactSheet] { dialogs->openUrl(QUrl::fromLocalFile(contactSheet)); },
         !run.htmlReport.isEmpty() && QFileInfo(contactSheet).isFile()},
    };
    // Only a run that wrote dossier sheets (or took them over) offers them.
    if (!sheet.isEmpty() && QFileInfo(sheet).isFile())
        actions.append(
            {QStringLiteral("打开照片页"), [dialogs, sheet] { dialogs->openUrl(QUrl::fromLocalFile(sheet)); }, true});
    return actions;
}
