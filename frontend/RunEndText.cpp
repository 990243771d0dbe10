// The end of a run in words: the closing log line, the status text and the
// end box with the numbers, the reason of a failure and the tiles missed.

#include "RunEndText.h"

#include "RendererMessages.h"
#include "RendererRun.h"

#include "core/RunProtocol.h"

#include <algorithm>

namespace {

// The renderer's failure message: a configuration error says more than the
// "Invalid config." that follows it; otherwise the last ERROR line.
QString failureMessage(const RunSummary& run)
{
    return run.configError.isEmpty() ? run.lastError : run.configError;
}

QMessageBox::Icon iconOf(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Failed: return QMessageBox::Critical;
    case RunOutcome::Killed:
    case RunOutcome::NothingWritten: return QMessageBox::Warning;
    default: return QMessageBox::Information;
    }
}

// What the end of a run says: in the log, the status, the box.
struct EndText {
    QString logLine;
    QString status;
    QString headline;
    QString reason;  // Chinese
    QString details;  // the renderer's own words, under "详细信息"
};

EndText failedText(int exitCode, QProcess::ExitStatus exitStatus, const RunSummary& run)
{
    const bool crashed = exitStatus == QProcess::CrashExit;
    const QString meaning = crashed ? exitCodeMeaning(-1) : exitCodeMeaning(exitCode);
    EndText end;
    end.logLine = crashed ? QStringLiteral("==== 任务失败，渲染器异常退出（信号 %1） ====").arg(exitCode)
                          : QStringLiteral("==== 任务失败，退出码：%1 ====").arg(exitCode);
    end.headline = crashed ? QStringLiteral("任务失败：%1（信号 %2）。").arg(meaning).arg(exitCode)
                           : QStringLiteral("任务失败（退出码 %1：%2）。").arg(exitCode).arg(meaning);
    end.details = failureMessage(run);
    end.reason = end.details.isEmpty() ? QString() : translateRendererMessage(end.details);
    end.status = QStringLiteral("任务失败：") + (end.reason.isEmpty() ? meaning : end.reason);
    if (!crashed && exitCode == vistrel::ExitNothingToRender) {
        // Nothing could be rendered: said the way a run that wrote nothing is.
        end.headline = QStringLiteral("没有写出任何图片（退出码 %1：%2）。").arg(exitCode).arg(meaning);
        end.status = QStringLiteral("没有写出任何图片");
    }
    if (end.details == end.reason)
        end.details.clear();  // nothing to add to the Chinese
    return end;
}

// The likely reason why nothing was written: every frame skipped as empty
// (the shapefile and the model do not overlap), or the renderer's error.
EndText nothingWrittenText(const RunSummary& run)
{
    EndText end;
    end.logLine = QStringLiteral("==== 任务结束，没有写出任何图片 ====");
    end.status = QStringLiteral("没有写出任何图片");
    end.headline = QStringLiteral("没有写出任何图片。");
    if (!run.skipReasons.isEmpty()) {
        end.reason = QStringLiteral("%1 个图斑都被跳过：图斑范围内没有模型（SHP 与模型可能不重叠，请检查坐标）。")
                         .arg(run.skipReasons.size());
        end.details = run.skipReasons.join(QLatin1Char('\n'));
    } else if (const QString failure = failureMessage(run); !failure.isEmpty()) {
        end.reason = translateRendererMessage(failure);
        end.details = end.reason == failure ? QString() : failure;
    } else if (run.totalImages == 0) {
        end.reason = QStringLiteral("没有要拍摄的图片：SHP 中没有可用的图斑，或没有勾选拍摄角度。");
    }
    return end;
}

// Tiles the run lacked: the pictures may show holes even where every image
// was written, so the box warns.
QString tileNote(const RunSummary& run)
{
    QStringList parts;
    if (run.tilesMissing > 0)
        parts.append(QStringLiteral("缺失或无法读取的瓦片 %1 个").arg(run.tilesMissing));
    if (run.tilesStillLoading > 0)
        parts.append(QStringLiteral("%1 张图片拍摄时瓦片仍未加载完成").arg(run.tilesStillLoading));
    if (parts.isEmpty())
        return QString();
    return parts.join(QStringLiteral("，")) + QStringLiteral("：相关图片可能有空洞，请查看日志和报告。");
}

EndText endText(const RunEnd& runEnd, const RunSummary& run)
{
    switch (runEnd.outcome) {
    case RunOutcome::Done:
        return {QStringLiteral("==== 任务完成 ===="), QStringLiteral("任务完成"), QStringLiteral("任务完成。"), {}, {}};
    case RunOutcome::NothingWritten: return nothingWrittenText(run);
    case RunOutcome::Stopped:
        return {
            QStringLiteral("==== 任务已停止 ===="), QStringLiteral("已停止"), QStringLiteral("任务已停止。"), {}, {}};
    case RunOutcome::Killed:
        return {QStringLiteral("==== 任务已强制结束 ===="),
                QStringLiteral("已强制结束"),
                QStringLiteral("已强制结束，报告未写出"),
                {},
                {}};
    case RunOutcome::Failed: break;
    }
    return failedText(runEnd.exitCode, runEnd.exitStatus, run);
}

// The images as the renderer's summary counts them (the outline image is one
// of its own), and how much of the task the run covered.
QStringList runEndCounts(const RunSummary& run, int previewFrames)
{
    QString counts =
        QStringLiteral("成功 %1 张，跳过 %2 张，失败 %3 张").arg(run.succeeded).arg(run.skipped).arg(run.failed);
    if (run.notDone > 0)
        counts += QStringLiteral("，未完成 %1 张").arg(run.notDone);
    if (run.totalImages > 0)
        counts += QStringLiteral("（共 %1 张）").arg(run.totalImages);
    QStringList lines{counts};
    // Written and counted as 成功, but the report's remarks say what to look at.
    if (run.hidden > 0 || run.partlyOutside > 0)
        lines.append(QStringLiteral("其中图斑大部分被遮挡 %1 张，图斑部分在模型范围外 %2 张，请查看报告备注。")
                         .arg(run.hidden)
                         .arg(run.partlyOutside));
    if (previewFrames > 0)
        lines.append(QStringLiteral("测试导出：仅前 %1 个图斑。").arg(previewFrames));
    if (run.resume && run.resumedImages > 0)
        lines.append(QStringLiteral("其中 %1 张接续自上次任务。").arg(run.resumedImages));
    return lines;
}

}  // namespace

RunEndText runEndText(const RunEnd& runEnd, const RunSummary& run, const QString& elapsed, int previewFrames)
{
    const RunOutcome outcome = runEnd.outcome;
    const EndText end = endText(runEnd, run);
    QStringList lines{end.headline};
    if (!end.reason.isEmpty())
        lines.append(QStringLiteral("原因：") + end.reason);
    lines.append(runEndCounts(run, previewFrames));
    const QString tiles = tileNote(run);
    if (!tiles.isEmpty())
        lines.append(tiles);
    lines.append(QStringLiteral("总耗时 ") + elapsed);
    if (outcome == RunOutcome::Stopped && run.stoppedBySignal)
        lines.append(QStringLiteral("已完成的图片和报告保留在输出目录中；勾选“继续上次任务”可从中断处接着拍摄。"));
    RunEndText text;
    text.logLine = end.logLine;
    text.status = outcome == RunOutcome::Done ? QStringLiteral("任务完成，总耗时 ") + elapsed : end.status;
    text.icon = tiles.isEmpty() ? iconOf(outcome) : std::max(iconOf(outcome), QMessageBox::Warning);
    text.text = lines.join(QLatin1Char('\n'));
    text.details = end.details;
    return text;
}
