#include "PlanData.h"

#include "RendererMessages.h"
#include "TimeText.h"

#include "core/RunProtocol.h"

using namespace vistrel;

namespace {

QString text(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}

bool isFailure(const QString& line, const std::optional<LogLine>& logLine)
{
    if (logLine)
        return logLine->level == "ERROR";
    return matchRunMessage(line.trimmed().toStdString()).has_value();
}

}  // namespace

void readPlanLine(const QString& line, PlanData& plan)
{
    const std::optional<LogLine> logLine = parseLogLine(line.toStdString());
    const std::string message = logLine ? logLine->message : line.trimmed().toStdString();
    if (const auto tile = parsePlanTile(message)) {
        plan.tiles.push_back(*tile);
    } else if (const auto frame = parsePlanFrame(message)) {
        plan.frames.push_back(*frame);
    } else if (const auto summary = parsePlanSummary(message)) {
        plan.summary = *summary;
    } else if (isFailure(line, logLine) && plan.failure.isEmpty()) {
        plan.failure = translateRendererMessage(text(message));
    }
}

QString planCaption(const PlanData& plan)
{
    if (!plan.summary)
        return QString();
    const PlanSummary& s = *plan.summary;
    QString out = QStringLiteral("%1 / %2 个图斑位于模型上").arg(s.over + s.partly).arg(s.frames);
    if (s.partly > 0)
        out += QStringLiteral("（%1 个部分在模型外）").arg(s.partly);
    out += QStringLiteral("；计划 %1 张图片").arg(s.imagesPlanned);
    if (s.imagesTakenOver > 0)
        out += QStringLiteral("，续跑接续 %1 张").arg(s.imagesTakenOver);
    if (s.estimatedSeconds >= 0)
        out += QStringLiteral("，预计 %1").arg(formatDuration(s.estimatedSeconds));
    return out;
}

namespace {

// The reasons the plan gives in English, in Chinese.
QString chineseWhy(const std::string& why)
{
    static const std::pair<const char*, const char*> kPhrases[] = {
        {"reproject_frames is never", "坐标转换（reproject_frames）设为 never"},
        {" and the frames lie over the model", "，且图斑已落在模型上"},
        {"reproject_frames is auto", "坐标转换为 auto"},
        {"reproject_frames is always", "坐标转换为 always"},
        {"the frames' CRS is unknown", "图斑的坐标系未知"},
        {"the model's SRS is unknown", "模型的坐标系未知"},
    };
    QString out = text(why);
    for (const auto& [english, chinese] : kPhrases)
        out.replace(QLatin1String(english), QString::fromUtf8(chinese));
    return out.isEmpty() ? out : QStringLiteral("（%1）").arg(out);
}

QString extentText(const PlanExtent& e)
{
    const auto number = [](double v) { return QString::number(v, 'f', 2); };
    return QStringLiteral("%1, %2 – %3, %4").arg(number(e.x0), number(e.y0), number(e.x1), number(e.y1));
}

QString decisionText(const PlanSummary& s)
{
    switch (s.systems) {
    case PlanSystems::Same: return QStringLiteral("坐标系：图斑与模型一致（%1）").arg(text(s.to));
    case PlanSystems::Transformed:
        return QStringLiteral("坐标系：图斑从 %1 转换到模型的 %2").arg(text(s.from), text(s.to));
    case PlanSystems::KeptAsRead:
        return QStringLiteral("坐标系：图斑 %1 与模型 %2 不同，按原坐标使用%3")
            .arg(text(s.from), text(s.to), chineseWhy(s.why));
    case PlanSystems::Unknown: break;
    }
    return QStringLiteral("坐标系：图斑按原坐标使用%1").arg(chineseWhy(s.why));
}

}  // namespace

// With no frame over the model the line says so, with both extents in their
// own systems, so that another project's parcels are not taken for a match.
QString planSystemsText(const PlanSummary& s)
{
    QString out = decisionText(s);
    if (s.frames > 0 && s.over + s.partly == 0)
        out += QStringLiteral("；没有图斑落在模型上：图斑范围 %1，模型范围 %2")
                   .arg(extentText(s.parcelsExtent), extentText(s.modelExtent));
    return out;
}
