// The end of a run: the closing log line, the status text and the end box
// with the numbers, the reason of a failure and the way to the results.

#include "MainWindow.h"

#include "RendererMessages.h"
#include "TimeText.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

enum class Outcome { Done, Stopped, Failed };

// The renderer exits with 5 after a SIGTERM or SIGINT, having finished its
// image and written the report; a run the user stopped may also end by the
// kill after the grace period. Neither is a failure.
Outcome outcomeOf(int exitCode, QProcess::ExitStatus exitStatus, bool stopRequested)
{
    if (exitStatus == QProcess::NormalExit && exitCode == 0)
        return Outcome::Done;
    if (stopRequested || (exitStatus == QProcess::NormalExit && exitCode == 5))
        return Outcome::Stopped;
    return Outcome::Failed;
}

} // namespace

void MainWindow::showRunEnd(int exitCode, QProcess::ExitStatus exitStatus)
{
    const Outcome outcome = outcomeOf(exitCode, exitStatus, m_stopRequested);
    const RunSummary& run = m_runOutput.summary();
    const QString elapsed = formatDuration(m_timer.elapsed() / 1000.0);

    QString headline;
    QString reason;
    switch (outcome) {
    case Outcome::Done:
        appendLog(QStringLiteral("==== 任务完成 ===="));
        setStatus(QStringLiteral("任务完成，总耗时 ") + elapsed);
        headline = QStringLiteral("任务完成。");
        break;
    case Outcome::Stopped:
        appendLog(QStringLiteral("==== 任务已停止 ===="));
        setStatus(QStringLiteral("已停止"));
        headline = QStringLiteral("任务已停止。");
        break;
    case Outcome::Failed: {
        const bool crashed = exitStatus == QProcess::CrashExit;
        appendLog(crashed ? QStringLiteral("==== 任务失败，渲染器异常退出（信号 %1） ====").arg(exitCode)
                          : QStringLiteral("==== 任务失败，退出码：%1 ====").arg(exitCode));
        const QString meaning = crashed ? exitCodeMeaning(-1) : exitCodeMeaning(exitCode);
        // A configuration error says more than the "Invalid config." that
        // follows it; otherwise the last ERROR line.
        if (!run.configError.isEmpty())
            reason = translateRendererMessage(run.configError);
        else if (!run.lastError.isEmpty())
            reason = translateRendererMessage(run.lastError);
        else
            reason = meaning;
        headline = crashed ? QStringLiteral("任务失败：%1（信号 %2）。").arg(meaning).arg(exitCode)
                           : QStringLiteral("任务失败（退出码 %1：%2）。").arg(exitCode).arg(meaning);
        setStatus(QStringLiteral("任务失败：") + reason);
        if (reason == meaning)
            reason.clear();
        break;
    }
    }

    QStringList lines{headline};
    if (!reason.isEmpty())
        lines.append(QStringLiteral("原因：") + reason);
    QString counts = QStringLiteral("成功 %1 张，跳过 %2 张，失败 %3 张").arg(run.succeeded).arg(run.skipped).arg(run.failed);
    if (run.notDone > 0)
        counts += QStringLiteral("，未完成 %1 张").arg(run.notDone);
    if (run.totalImages > 0)
        counts += QStringLiteral("（共 %1 张）").arg(run.totalImages);
    lines.append(counts);
    if (run.resume && run.resumedImages > 0)
        lines.append(QStringLiteral("其中 %1 张接续自上次任务。").arg(run.resumedImages));
    lines.append(QStringLiteral("总耗时 ") + elapsed);
    if (outcome == Outcome::Stopped && run.stoppedBySignal)
        lines.append(QStringLiteral("已完成的图片和报告保留在输出目录中；勾选“继续上次任务”可从中断处接着拍摄。"));

    // Only the contact sheet this run wrote (the renderer runs in the
    // program folder): a page an earlier run left in the output folder does
    // not show these results.
    const QString folder = m_runOutputFolder;
    const QString contactSheet = QDir(m_programDir).filePath(run.htmlReport);
    const QList<MessageAction> actions = {
        {QStringLiteral("打开输出目录"), [this, folder] { openUrl(QUrl::fromLocalFile(folder)); },
         QFileInfo(folder).isDir()},
        {QStringLiteral("打开报告页"), [this, contactSheet] { openUrl(QUrl::fromLocalFile(contactSheet)); },
         !run.htmlReport.isEmpty() && QFileInfo(contactSheet).isFile()},
    };
    showMessage(outcome == Outcome::Failed ? QMessageBox::Critical : QMessageBox::Information,
                QStringLiteral("任务结束"), lines.join(QLatin1Char('\n')), actions);
}
