// The plan of the paths chosen, on the map of the parcels, and the results
// of a run on it.

#include "PlanController.h"

#include "PlanMap.h"
#include "PlanRun.h"
#include "PreviewPane.h"
#include "RendererLocation.h"
#include "RendererRun.h"
#include "RunController.h"
#include "SettingsFile.h"
#include "SettingsForm.h"
#include "UserDialogs.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// A moment after the last change of a path: typing a path plans once.
constexpr int kPlanDelayMs = 400;

}  // namespace

PlanController::PlanController(const QString& programDir, const Parts& parts, QObject* parent)
    : QObject(parent), m_programDir(programDir), m_parts(parts)
{
}

QWidget* PlanController::buildPane(QWidget* parent)
{
    auto* pane = new QWidget(parent);
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(4, 4, 4, 4);
    m_caption = new QLabel(QStringLiteral("选择模型和图斑后在此显示图斑与模型的位置"), pane);
    m_caption->setObjectName(QStringLiteral("planCaption"));
    m_caption->setWordWrap(true);
    m_map = new PlanMap(pane);
    m_map->setObjectName(QStringLiteral("planMap"));
    m_parcelLabel = new QLabel(pane);
    m_parcelLabel->setObjectName(QStringLiteral("parcelLabel"));
    m_parcelLabel->setWordWrap(true);
    m_parcelLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_caption);
    layout->addWidget(m_map, 1);
    layout->addWidget(m_parcelLabel);

    m_plan = new PlanRun(this);
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setInterval(kPlanDelayMs);
    connect(m_timer, &QTimer::timeout, this, &PlanController::start);
    connect(m_plan, &PlanRun::planned, this, &PlanController::showPlan);
    connect(m_map, &PlanMap::parcelClicked, this, &PlanController::openParcel);
    return pane;
}

void PlanController::schedule()
{
    const QJsonObject settings = m_parts.form->collectSettings(false);
    if (!settings.value(QLatin1String("osgb_path")).toString().isEmpty() &&
        !settings.value(QLatin1String("shp_path")).toString().isEmpty())
        m_timer->start();
}

bool PlanController::planning() const
{
    return m_plan->running() || m_timer->isActive();
}

// The plan reads the settings from a file of its own, so that it never
// touches the run file of a task.
void PlanController::start()
{
    const QJsonObject settings = m_parts.form->collectSettings(false);
    const QString renderer = locateRenderer(m_programDir);
    if (m_parts.run->running() || !QFileInfo::exists(renderer))
        return;
    const QString planFile = QDir(configFolderFor(m_programDir)).filePath(QStringLiteral("render_qt_plan.json"));
    QString errorText;
    if (!writeSettingsFile(planFile, settings, &errorText))
        return;
    m_caption->setText(QStringLiteral("正在预检图斑与模型……"));
    m_plan->start(renderer, planFile, m_programDir);
}

void PlanController::showPlan(const PlanData& plan)
{
    m_map->showPlan(plan);
    m_parcelLabel->clear();
    if (!plan.summary) {
        m_caption->setText(QStringLiteral("预检未完成：") +
                           (plan.failure.isEmpty() ? QStringLiteral("渲染器没有给出结果") : plan.failure));
        return;
    }
    m_caption->setText(planCaption(plan));
    m_parts.form->showCoordinateDecision(planSystemsText(*plan.summary));
}

void PlanController::showRunResults()
{
    if (m_map->parcelCount() == 0)
        return;
    const std::vector<ReportRow> rows =
        readReportRows(QDir(m_runOutputFolder).filePath(QStringLiteral("render_report.csv")));
    if (rows.empty())
        return;
    m_map->showResults(rows);
    m_caption->setText(
        QStringLiteral("任务结果：绿色 成功，橙色 被遮挡或部分在模型外，蓝色 跳过，红色 失败，灰色 未完成"));
}

void PlanController::openParcel(int parcel)
{
    const QString name = m_map->parcelName(parcel);
    const ReportRow* row = m_map->reportRow(parcel);
    if (!row) {
        m_parcelLabel->setText(name + QStringLiteral("：尚无结果，任务结束后显示"));
        return;
    }
    m_parcelLabel->setText(name + QStringLiteral("：") + row->text);
    const QString folder = QDir(m_runOutputFolder).filePath(row->folder);
    if (!row->images.isEmpty()) {
        m_parts.preview->setOutputFolder(m_runOutputFolder);
        m_parts.preview->showImage(WrittenImage{QDir(folder).filePath(row->images.first()), name, QString()});
    }
    if (QFileInfo(folder).isDir())
        m_parts.dialogs->openUrl(QUrl::fromLocalFile(folder));
}
