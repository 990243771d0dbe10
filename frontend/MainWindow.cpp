// The window: construction, layout, the header's menus and actions, the
// wiring of its parts, drops and closing.

#include "MainWindow.h"

#include "FieldPicker.h"
#include "FormChoices.h"
#include "LogView.h"
#include "PathText.h"
#include "PlanController.h"
#include "PreviewPane.h"
#include "ProjectController.h"
#include "ProjectFile.h"
#include "RunController.h"
#include "SettingsFile.h"
#include "SettingsForm.h"
#include "TabOrder.h"

#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QTabWidget>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int kWindowMargin = 14;

// Set when building; a feedback address chosen in the help menu replaces it.
constexpr char kBuiltInFeedbackUrl[] = TAVRIN_FEEDBACK_URL;

// A feedback address given as a bare e-mail address is written to, not
// opened as a web site.
QUrl feedbackUrl(const QString& address)
{
    static const QRegularExpression email(QStringLiteral("^[^@\\s/:]+@[^@\\s/:]+$"));
    if (email.match(address).hasMatch())
        return QUrl(QStringLiteral("mailto:") + address);
    return QUrl::fromUserInput(address);
}

// The window's size at start: room for the whole form where the screen has
// it, never more than the screen's free area less the window frame, so that
// it fits a 1366 x 768 screen with its task bar, also at 125 % scaling.
QSize startSize(const QScreen* screen)
{
    const QSize wanted(1120, 780);
    if (!screen)
        return wanted;
    const QSize frame(16, 40);  // borders and title bar of a framed window
    return wanted.boundedTo(screen->availableGeometry().size() - frame);
}

// A key that presses the button while it is enabled, told in its tooltip.
// (A button's own shortcut would be lost when its text changes, as 停止's
// does.)
void setButtonKey(QPushButton* button, const QKeySequence& key, const QString& what)
{
    auto* shortcut = new QShortcut(key, button->window());
    QObject::connect(shortcut, &QShortcut::activated, button, [button] {
        if (button->isEnabled())
            button->animateClick();
    });
    button->setToolTip(QStringLiteral("%1（%2）").arg(what, key.toString(QKeySequence::NativeText)));
}

// The widest status text the progress row makes room for, so that the bars
// keep their width while the numbers change.
const char kWidestStatus[] = "图片 00000/00000，图斑 00000/00000，已用 00:00:00，预计剩余 00:00:00";

// The vector sources the frames may come from, by suffix.
bool isVectorSource(const QFileInfo& file)
{
    static const QStringList suffixes = {QStringLiteral("shp"), QStringLiteral("gpkg"), QStringLiteral("geojson"),
                                         QStringLiteral("kml"), QStringLiteral("gdbtable")};
    return suffixes.contains(file.suffix().toLower()) ||
           (file.isDir() && file.suffix().compare(QLatin1String("gdb"), Qt::CaseInsensitive) == 0);
}

}  // namespace

MainWindow::MainWindow(const QString& programDir, QWidget* parent) : QMainWindow(parent), m_programDir(programDir)
{
    buildWindow();
    resize(startSize(screen()));
    setAcceptDrops(true);
    m_form->fieldPicker()->rebuild({QString::fromUtf8(kDefaultField)}, {QString::fromUtf8(kDefaultField)});
    m_project->loadStartup();
}

// The run goes first: a renderer still running ends with it, before the
// widgets its signals would reach are gone.
MainWindow::~MainWindow()
{
    delete m_runs;
}

void MainWindow::setMessageHandler(MessageHandler handler)
{
    m_dialogs.setMessageHandler(std::move(handler));
}

void MainWindow::setUrlOpener(UrlOpener opener)
{
    m_dialogs.setUrlOpener(std::move(opener));
}

void MainWindow::setStopGracePeriod(int milliseconds)
{
    m_runs->setStopGracePeriod(milliseconds);
}

bool MainWindow::running() const
{
    return m_runs->running();
}

void MainWindow::startTask(bool testMode)
{
    m_runs->start(testMode);
}

void MainWindow::stopTask()
{
    m_runs->stop();
}

void MainWindow::startPlan()
{
    m_plans->start();
}

bool MainWindow::planning() const
{
    return m_plans->planning();
}

QString MainWindow::settingsFilePath() const
{
    return m_project->path();
}

bool MainWindow::saveSettings(const QString& path, const QJsonObject& settings)
{
    return m_project->saveSettings(path, settings);
}

bool MainWindow::saveProject()
{
    return m_project->save();
}

bool MainWindow::saveProjectAs(const QString& path)
{
    return m_project->saveAs(path);
}

bool MainWindow::openProject(const QString& path)
{
    return !running() && m_project->open(path);
}

void MainWindow::newProject()
{
    if (!running())
        m_project->startNew();
}

void MainWindow::chooseAndOpenProject()
{
    const QString path = m_project->chooseToOpen();
    if (!path.isEmpty())
        openProject(path);
}

// ---- layout ---------------------------------------------------------------

void MainWindow::buildWindow()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(kWindowMargin, kWindowMargin, kWindowMargin, kWindowMargin);
    layout->addWidget(buildHeaderRow());

    // Above the moveable divider the form with the task controls, below it
    // the log beside the picture of the last image.
    auto* upper = new QWidget(central);
    auto* upperLayout = new QVBoxLayout(upper);
    upperLayout->setContentsMargins(0, 0, 0, 0);
    m_form = new SettingsForm(m_programDir, upper);
    upperLayout->addWidget(m_form, 1);
    upperLayout->addWidget(buildButtonsRow());
    upperLayout->addWidget(buildProgressRow());

    auto* divider = new QSplitter(Qt::Vertical, central);
    divider->setObjectName(QStringLiteral("mainSplitter"));
    divider->addWidget(upper);
    divider->addWidget(buildLogRow());
    // A taller window gives room to both: the field list grows up to the
    // fields it holds, and the log.
    divider->setStretchFactor(0, 3);
    divider->setStretchFactor(1, 2);
    divider->setCollapsible(0, false);
    divider->setCollapsible(1, false);
    layout->addWidget(divider, 1);
    setCentralWidget(central);

    connectParts();
    m_runs->updateButtons();
    setReadingTabOrder(central);
}

// The run before the plan: the renderer's process is the window's first.
void MainWindow::buildControllers()
{
    m_project = new ProjectController(m_programDir, this, m_form, m_logView, &m_dialogs);
    const RunControls controls{m_startButton, m_testButton, m_stopButton, m_saveButton,
                               m_frameBar,    m_imageBar,   m_statusLabel};
    m_runs = new RunController(m_programDir, {m_form, m_logView, m_preview, &m_dialogs, m_project, controls}, this);
    m_plans = new PlanController(m_programDir, {m_form, m_preview, &m_dialogs, m_runs}, this);
}

void MainWindow::connectParts()
{
    connect(m_form, &SettingsForm::numbersEdited, m_runs, &RunController::updateButtons);
    connect(m_form, &SettingsForm::message, this,
            [this](QMessageBox::Icon icon, const QString& title, const QString& text) {
                m_dialogs.showMessage(icon, title, text);
            });
    connect(m_form, &SettingsForm::logLine, m_logView, &LogView::appendLine);
    connect(m_form, &SettingsForm::pathsChanged, m_plans, &PlanController::schedule);
    connect(m_project, &ProjectController::titleChanged, this, &MainWindow::setWindowTitle);
    connect(m_project, &ProjectController::shown, m_plans, &PlanController::schedule);
    connect(m_runs, &RunController::started, m_plans, &PlanController::setRunOutputFolder);
    connect(m_runs, &RunController::ended, m_plans, &PlanController::showRunResults);
    connect(m_runs, &RunController::closeRequested, this, &MainWindow::close);
}

QWidget* MainWindow::buildLogRow()
{
    auto* row = new QSplitter(Qt::Horizontal);
    row->setObjectName(QStringLiteral("logSplitter"));
    m_logView = new LogView(row);
    m_logView->setObjectName(QStringLiteral("logView"));
    m_preview = new PreviewPane(row);
    m_preview->setObjectName(QStringLiteral("previewPane"));
    m_preview->setUrlOpener([this](const QUrl& url) { m_dialogs.openUrl(url); });
    // The picture of the last image and the map of the parcels share a place.
    m_lowerTabs = new QTabWidget(row);
    m_lowerTabs->setObjectName(QStringLiteral("lowerTabs"));
    m_lowerTabs->addTab(m_preview, QStringLiteral("最新图片"));
    // The parts have their widgets now; the plan builds its map here, in
    // its place in the tab order.
    buildControllers();
    m_lowerTabs->addTab(m_plans->buildPane(m_lowerTabs), QStringLiteral("图斑地图"));
    row->addWidget(m_logView);
    row->addWidget(m_lowerTabs);
    row->setStretchFactor(0, 3);
    row->setStretchFactor(1, 2);
    return row;
}

QWidget* MainWindow::buildHeaderRow()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* title = new QLabel(QStringLiteral("Tavrin"), row);
    QFont titleFont = font();
    titleFont.setPointSize(16);
    titleFont.setWeight(QFont::Bold);
    title->setFont(titleFont);
    layout->addWidget(title);
    layout->addWidget(buildProjectButton(row));
    layout->addStretch();

    // "帮助" shows the help text; its menu also holds the feedback address.
    auto* help = new QToolButton(row);
    help->setObjectName(QStringLiteral("helpButton"));
    help->setText(QStringLiteral("帮助"));
    help->setPopupMode(QToolButton::MenuButtonPopup);
    help->setToolButtonStyle(Qt::ToolButtonTextOnly);
    auto* helpMenu = new QMenu(help);
    helpMenu->setObjectName(QStringLiteral("helpMenu"));
    helpMenu->addAction(QStringLiteral("使用说明"), this, &MainWindow::showHelp);
    helpMenu->addAction(QStringLiteral("问题反馈"), this, &MainWindow::openFeedbackForm);
    helpMenu->addAction(QStringLiteral("设置反馈地址…"), this, &MainWindow::setFeedbackAddress);
    help->setMenu(helpMenu);

    auto* feedback = new QPushButton(QStringLiteral("问题反馈"), row);
    feedback->setObjectName(QStringLiteral("feedbackButton"));
    auto* openOutput = new QPushButton(QStringLiteral("打开输出目录"), row);
    openOutput->setObjectName(QStringLiteral("openOutputButton"));
    layout->addWidget(help);
    layout->addWidget(feedback);
    layout->addWidget(openOutput);
    connect(help, &QToolButton::clicked, this, &MainWindow::showHelp);
    connect(feedback, &QPushButton::clicked, this, &MainWindow::openFeedbackForm);
    connect(openOutput, &QPushButton::clicked, this, &MainWindow::openOutputFolder);
    return row;
}

QWidget* MainWindow::buildProjectButton(QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QStringLiteral("projectButton"));
    button->setText(QStringLiteral("项目"));
    button->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(button);
    menu->setObjectName(QStringLiteral("projectMenu"));
    menu->addAction(QStringLiteral("新建项目"), QKeySequence::New, this, &MainWindow::newProject);
    menu->addAction(QStringLiteral("打开项目…"), QKeySequence::Open, this, &MainWindow::chooseAndOpenProject);
    menu->addAction(QStringLiteral("保存项目"), this, &MainWindow::saveProject);
    menu->addAction(QStringLiteral("另存为…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), this,
                    [this] { m_project->chooseAndSaveAs(); });
    m_recentMenu = menu->addMenu(QStringLiteral("最近的项目"));
    m_recentMenu->setObjectName(QStringLiteral("recentMenu"));
    connect(m_recentMenu, &QMenu::aboutToShow, this, &MainWindow::fillRecentMenu);
    // The shortcuts work without opening the menu.
    addActions(menu->actions());
    button->setMenu(menu);
    return button;
}

void MainWindow::fillRecentMenu()
{
    m_recentMenu->clear();
    for (const QString& path : recentProjects(m_programDir)) {
        QAction* action = m_recentMenu->addAction(cleanNativePath(path), this, [this, path] { openProject(path); });
        action->setEnabled(QFileInfo::exists(path));
    }
    if (m_recentMenu->isEmpty())
        m_recentMenu->addAction(QStringLiteral("（无）"))->setEnabled(false);
}

QWidget* MainWindow::buildButtonsRow()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);

    m_startButton = new QPushButton(QStringLiteral("开始批量截图"), row);
    m_startButton->setObjectName(QStringLiteral("startButton"));
    m_testButton = new QPushButton(QStringLiteral("测试导出"), row);
    m_testButton->setObjectName(QStringLiteral("testButton"));
    m_stopButton = new QPushButton(QStringLiteral("停止"), row);
    m_stopButton->setObjectName(QStringLiteral("stopButton"));
    m_stopButton->setEnabled(false);
    m_saveButton = new QPushButton(QStringLiteral("保存项目"), row);
    m_saveButton->setObjectName(QStringLiteral("saveButton"));

    layout->addWidget(m_startButton);
    layout->addWidget(m_testButton);
    layout->addWidget(m_stopButton);
    layout->addSpacing(12);
    layout->addWidget(m_form->runOptions());
    layout->addStretch();
    layout->addWidget(m_saveButton);

    setButtonKey(m_startButton, QKeySequence(Qt::Key_F5), QStringLiteral("导出全部图斑"));
    setButtonKey(m_testButton, QKeySequence(Qt::CTRL | Qt::Key_T),
                 QStringLiteral("只导出前几个图斑，数量见“测试导出图斑数”"));
    setButtonKey(m_stopButton, QKeySequence(Qt::Key_Escape),
                 QStringLiteral("停止任务：渲染器完成当前图片并写出报告后退出"));
    setButtonKey(m_saveButton, QKeySequence::Save, QStringLiteral("把全部设置保存到项目文件"));

    connect(m_startButton, &QPushButton::clicked, this, [this] { startTask(false); });
    connect(m_testButton, &QPushButton::clicked, this, [this] { startTask(true); });
    connect(m_stopButton, &QPushButton::clicked, this, &MainWindow::stopTask);
    connect(m_saveButton, &QPushButton::clicked, this, &MainWindow::saveProject);
    return row;
}

QWidget* MainWindow::buildProgressRow()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);

    m_frameBar = new QProgressBar(row);
    m_frameBar->setObjectName(QStringLiteral("frameBar"));
    m_frameBar->setValue(0);
    m_imageBar = new QProgressBar(row);
    m_imageBar->setObjectName(QStringLiteral("imageBar"));
    m_imageBar->setValue(0);
    m_statusLabel = new QLabel(row);
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_statusLabel->setFixedWidth(m_statusLabel->fontMetrics().horizontalAdvance(QString::fromUtf8(kWidestStatus)) + 8);

    layout->addWidget(new QLabel(QStringLiteral("图斑"), row));
    layout->addWidget(m_frameBar, 1);
    layout->addWidget(new QLabel(QStringLiteral("图片"), row));
    layout->addWidget(m_imageBar, 1);
    layout->addWidget(m_statusLabel);
    return row;
}

void MainWindow::showHelp()
{
    const QStringList lines = {
        QStringLiteral("照片名称模板支持 <字段名>、<left(字段,数量)>、<right(字段,数量)>、<mid(字段,起点,数量)>。"),
        QStringLiteral("去掉字段前导 0 可使用 <int(字段)> 或 <number(字段)>，例如 0003 输出为 3。"),
        QStringLiteral("模板中的反斜杠会创建子文件夹，# 会在同一文件夹内自动编号。"),
        QStringLiteral("测试导出图斑数只对测试导出生效，正式批量截图会导出全部图斑。"),
        QStringLiteral("测试导出写入输出目录下的“测试导出”文件夹，不改动批量任务的任务日志、报告和图片。"),
        QStringLiteral("SHP 若带 37000000 等度带，默认会自动识别并向左平移回模型坐标。"),
        QStringLiteral("如需提交问题反馈，请点击主界面的“问题反馈”。"),
    };
    m_dialogs.showMessage(QMessageBox::Information, QStringLiteral("帮助"), lines.join(QLatin1Char('\n')));
}

void MainWindow::openFeedbackForm()
{
    const QSettings state(uiStatePathFor(m_programDir), QSettings::IniFormat);
    const QString address =
        state.value(QStringLiteral("feedback/address"), QString::fromUtf8(kBuiltInFeedbackUrl)).toString().trimmed();
    if (!address.isEmpty()) {
        m_dialogs.openUrl(feedbackUrl(address));
        return;
    }
    const QStringList lines = {
        QStringLiteral("尚未设置反馈地址。"),
        QStringLiteral("请在项目的问题跟踪系统中提交问题（见 README 的“Reporting problems”一节），并附上："),
        QStringLiteral("· 程序目录 logs 下最新的 render_*.log 日志；"),
        QStringLiteral("· 本次运行的配置 config/render_qt_run.json；"),
        QStringLiteral("· 任务结束时的提示（退出码与原因）。"),
        QStringLiteral("单位有自己的反馈网页时，可在“帮助”菜单的“设置反馈地址…”中填写。"),
    };
    m_dialogs.showMessage(QMessageBox::Information, QStringLiteral("问题反馈"), lines.join(QLatin1Char('\n')));
}

void MainWindow::setFeedbackAddress()
{
    QSettings state(uiStatePathFor(m_programDir), QSettings::IniFormat);
    bool accepted = false;
    const QString address = QInputDialog::getText(
        this, QStringLiteral("设置反馈地址"), QStringLiteral("反馈网页或邮箱地址（留空则显示反馈说明）："),
        QLineEdit::Normal, state.value(QStringLiteral("feedback/address")).toString(), &accepted);
    if (accepted)
        state.setValue(QStringLiteral("feedback/address"), address.trimmed());
}

void MainWindow::openOutputFolder()
{
    const QString folder = m_form->outputFolder();
    QDir().mkpath(folder);
    m_dialogs.openUrl(QUrl::fromLocalFile(folder));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!running()) {
        if (m_project->confirmUnsavedEdits(QStringLiteral("配置已修改但尚未保存。关闭前保存吗？"))) {
            m_project->remember();
            event->accept();
        } else {
            event->ignore();
        }
        return;
    }
    event->ignore();
    if (m_runs->closing())
        return;  // already stopping; the window closes when the renderer has ended
    if (m_runs->askToStopForClose())
        event->accept();  // the task ended while the question was open
}

void MainWindow::openDroppedPath(const QString& path)
{
    const QFileInfo file(path);
    if (running() || !file.exists())
        return;
    if (isVectorSource(file))
        m_form->setFramesPath(file.absoluteFilePath());
    else if (file.suffix().compare(QLatin1String("json"), Qt::CaseInsensitive) == 0)
        openProject(file.absoluteFilePath());
    else if (file.isDir() || file.suffix().compare(QLatin1String("osgb"), Qt::CaseInsensitive) == 0)
        m_form->setModelPath(file.absoluteFilePath());
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!running() && event->mimeData()->hasUrls() && event->mimeData()->urls().first().isLocalFile())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            openDroppedPath(url.toLocalFile());
    }
    event->acceptProposedAction();
}
