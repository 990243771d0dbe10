#include "RunLogText.h"

#include "RendererMessages.h"

#include "core/CameraAngle.h"
#include "core/PlanProtocol.h"
#include "core/RunProtocol.h"

#include <string_view>

using namespace vistrel;

namespace {

QString text(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

// An image of a frame the pre-check skipped is "跳过", not a failure.
QString imageText(const ImageProgress& p, int skippedFrame)
{
    const QString outcome = p.success                 ? QStringLiteral("完成")
                            : p.frame == skippedFrame ? QStringLiteral("跳过")
                                                      : QStringLiteral("未成功");
    return QStringLiteral("图片 %1/%2（图斑 %3/%4，%5）%6")
        .arg(p.image)
        .arg(p.totalImages)
        .arg(p.frame)
        .arg(p.totalFrames)
        .arg(text(angleLabel(p.angle)), outcome);
}

// A stopped run names the images it never reached.
QString finishedText(const RunFinished& f)
{
    QString out = f.notDone > 0 ? QStringLiteral("已停止：成功 %1 张，跳过 %2 张，失败 %3 张，未完成 %4 张（共 %5 张）")
                                      .arg(f.succeeded)
                                      .arg(f.skipped)
                                      .arg(f.failed)
                                      .arg(f.notDone)
                                      .arg(f.totalImages)
                                : QStringLiteral("完成：成功 %1 张，跳过 %2 张，失败 %3 张（共 %4 张）")
                                      .arg(f.succeeded)
                                      .arg(f.skipped)
                                      .arg(f.failed)
                                      .arg(f.totalImages);
    // Pictures written but showing little of their parcel are said, not hidden.
    if (f.hidden > 0 || f.partlyOutside > 0)
        out +=
            QStringLiteral("；其中图斑大部分被遮挡 %1 张，部分在模型范围外 %2 张").arg(f.hidden).arg(f.partlyOutside);
    if (f.shardCount > 1)
        out += QStringLiteral("，分片 %1/%2").arg(f.shardIndex + 1).arg(f.shardCount);
    return out;
}

// A file or event line: "Wrote …", "Resumed …", the stop.
QString eventText(std::string_view m)
{
    const auto after = [m](std::string_view prefix) { return text(m.substr(prefix.size())); };
    if (m.substr(0, kWroteHtmlReportPrefix.size()) == kWroteHtmlReportPrefix)
        return QStringLiteral("已写出报告页：") + after(kWroteHtmlReportPrefix);
    if (m.substr(0, kWroteCsvReportPrefix.size()) == kWroteCsvReportPrefix)
        return QStringLiteral("已写出 CSV 报告：") + after(kWroteCsvReportPrefix);
    if (m.substr(0, kWrotePrefix.size()) == kWrotePrefix)
        return QStringLiteral("已写出 ") + after(kWrotePrefix);
    if (m.substr(0, kResumedPrefix.size()) == kResumedPrefix)
        return QStringLiteral("已接续 ") + after(kResumedPrefix);
    if (m == kStoppedBySignal)
        return QStringLiteral("收到停止请求，已停止");
    return QString();
}

// The plan's lines (`Vistrel --plan`), briefly.
QString planText(std::string_view m)
{
    static const char* const kOverlap[] = {"位于模型上", "部分在模型外", "不在模型上", "无法放入模型坐标系"};
    if (const auto p = parsePlanTile(m))
        return p->tilesInCell > 0 ? QStringLiteral("预检：网格 %1/%2（%3 个根节点瓦片）")
                                        .arg(p->tile)
                                        .arg(p->totalTiles)
                                        .arg(p->tilesInCell)
                                  : QStringLiteral("预检：根节点瓦片 %1/%2").arg(p->tile).arg(p->totalTiles);
    if (const auto p = parsePlanTileCells(m))
        return QStringLiteral("预检：%1 个根节点瓦片，按 %2 个网格显示").arg(p->tiles).arg(p->cells);
    if (const auto p = parsePlanFrame(m))
        return QStringLiteral("预检：图斑 %1/%2 %3 %4")
            .arg(p->frame)
            .arg(p->totalFrames)
            .arg(text(p->name), QString::fromUtf8(kOverlap[int(p->overlap)]));
    if (const auto p = parsePlanSummary(m))
        return QStringLiteral("预检：图斑 %1 个（位于模型上 %2，部分在模型外 %3，不在模型上 %4，无法放入 %5），"
                              "计划 %6 张，接续 %7 张，需拍摄 %8 张")
            .arg(p->frames)
            .arg(p->over)
            .arg(p->partly)
            .arg(p->outside)
            .arg(p->unusable)
            .arg(p->imagesPlanned)
            .arg(p->imagesTakenOver)
            .arg(p->imagesToRender);
    return QString();
}

QString messageText(const LogLine& line, int skippedFrame)
{
    const std::string_view m = line.message;
    if (const QString event = eventText(m); !event.isEmpty())
        return event;
    if (const QString plan = planText(m); !plan.isEmpty())
        return plan;
    if (const auto p = parseFrameProgress(m))
        return QStringLiteral("图斑 %1/%2：%3").arg(p->frame).arg(p->totalFrames).arg(text(p->name));
    if (const auto p = parseSkipFrame(m))
        return QStringLiteral("跳过图斑 %1：%2").arg(text(p->name), text(p->reason));
    if (const auto p = parseImageProgress(m))
        return imageText(*p, skippedFrame);
    if (const auto p = parseRunFinished(m))
        return finishedText(*p);
    if (const auto p = parseRunState(m)) {
        QString out = QStringLiteral("分片 %1/%2").arg(p->shardIndex + 1).arg(p->shardCount);
        return p->resume ? out + QStringLiteral("，续跑") : out;
    }
    return translateRendererMessage(text(m));
}

}  // namespace

QString logPaneText(const QString& line, int skippedFrame)
{
    const std::string utf8 = line.toStdString();
    const std::optional<LogLine> logLine = parseLogLine(utf8);
    if (!logLine) {
        const QString translated = translateRendererMessage(line);
        return translated == line.trimmed() ? line : translated;
    }
    const qsizetype prefix = line.size() - text(logLine->message).size();
    return line.left(prefix) + messageText(*logLine, skippedFrame);
}
