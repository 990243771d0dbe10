// The plan of the paths chosen: `Vistrel --plan` in the background whenever
// they change, its decision on the coordinate systems below the paths, and
// the map of the parcels; after a run the map shows the results of the
// report, and a click on a parcel opens its folder, its pictures and its
// report row.

#include "MainWindow.h"

#include "PlanMap.h"
#include "PlanRun.h"
#include "PreviewPane.h"
#include "RendererLocation.h"
#include "RendererRun.h"
#include "SettingsFile.h"
#include "SettingsForm.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// A moment after the last change of a path: typing a path plans once.
constexpr int kPlanDelayMs = 400;

}  // namespace

QWidget* MainWindow::buildPlanPane(QWidget* parent)
{
    auto* pane = new QWidget(parent);
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(4, 4, 4, 4);
    m_planCaption = new QLabel(QStringLiteral("选择模型和图斑后在此显示图斑与模型的位置"), pane);
    m_planCaption->setObjectName(QStringLiteral("planCaption"));
    m_planCaption->setWordWrap(true);
    m_planMap = new PlanMap(pane);
    m_planMap->setObjectName(QStringLiteral("planMap"));
    m_parcelLabel = new QLabel(pane);
    m_parcelLabel->setObjectName(QStringLiteral("parcelLabel"));
    m_parcelLabel->setWordWrap(true);
    m_parcelLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_planCaption);
    layout->addWidget(m_planMap, 1);
    layout->addWidget(m_parcelLabel);

    m_plan = new PlanRun(this);
    m_planTimer = new QTimer(this);
    m_planTimer->setSingleShot(true);
    m_planTimer->setInterval(kPlanDelayMs);
    connect(m_planTimer, &QTimer::timeout, this, &MainWindow::startPlan);
    connect(m_plan, &PlanRun::planned, this, &MainWindow::showPlan);
    connect(m_planMap, &PlanMap::parcelClicked, this, &MainWindow::openParcel);
    connect(m_form, &SettingsForm::pathsChanged, this, &MainWindow::schedulePlan);
    return pane;
}

// Once both data paths are given.
void MainWindow::schedulePlan()
{
    const QJsonObject settings = m_form->collectSettings(false);
    if (!settings.value(QLatin1String("osgb_path")).toString().isEmpty() &&
        !settings.value(QLatin1String("shp_path")).toString().isEmpty())
        m_planTimer->start();
}

bool MainWindow::planning() const
{
    return m_plan->running() || m_planTimer->isActive();
}

// The plan reads the settings from a file of its own, so that it never
// touches the run file of a task.
void MainWindow::startPlan()
{
    const QJsonObject settings = m_form->collectSettings(false);
    const QString renderer = locateRenderer(m_programDir);
    if (running() || !QFileInfo::exists(renderer))
        return;
    const QString planFile = QDir(configFolderFor(m_programDir)).filePath(QStringLiteral("render_qt_plan.json"));
    QString errorText;
    if (!writeSettingsFile(planFile, settings, &errorText))
        return;
    m_planCaption->setText(QStringLiteral("正在预检图斑与模型……"));
    m_plan->start(renderer, planFile, m_programDir);
}

void MainWindow::showPlan(const PlanData& plan)
{
    m_planMap->showPlan(plan);
    m_parcelLabel->clear();
    if (!plan.summary) {
        m_planCaption->setText(QStringLiteral("预检未完成：") +
                               (plan.failure.isEmpty() ? QStringLiteral("渲染器没有给出结果") : plan.failure));
        return;
    }
    m_planCaption->setText(planCaption(plan));
    m_form->showCoordinateDecision(planSystemsText(*plan.summary));
}

// After a run: the parcels coloured by the report the run wrote.
void MainWindow::showRunResults()
{
    if (m_planMap->parcelCount() == 0)
        return;
    const std::vector<ReportRow> rows =
        readReportRows(QDir(m_runOutputFolder).filePath(QStringLiteral("render_report.csv")));
    if (rows.empty())
        return;
    m_planMap->showResults(rows);
    m_planCaption->setText(
        QStringLiteral("任务结果：绿色 成功，橙色 被遮挡或部分在模型外，蓝色 跳过，红色 失败，灰色 未完成"));
}

void MainWindow::openParcel(int parcel)
{
    const QString name = m_planMap->parcelName(parcel);
    const ReportRow* row = m_planMap->reportRow(parcel);
    if (!row) {
        m_parcelLabel->setText(name + QStringLiteral("：尚无结果，任务结束后显示"));
        return;
    }
    m_parcelLabel->setText(name + QStringLiteral("：") + row->text);
    const QString folder = QDir(m_runOutputFolder).filePath(row->folder);
    if (!row->images.isEmpty()) {
        m_preview->setOutputFolder(m_runOutputFolder);
        m_preview->showImage(WrittenImage{QDir(folder).filePath(row->images.first()), name, QString()});
    }
    if (QFileInfo(folder).isDir())
        openUrl(QUrl::fromLocalFile(folder));
}
