#include "MainWindow.h"

#include "FieldPicker.h"
#include "FormChoices.h"
#include "LogView.h"
#include "PathText.h"
#include "PreviewPane.h"
#include "RendererRun.h"
#include "SettingsFile.h"
#include "SettingsForm.h"
#include "TabOrder.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
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

}  // namespace

MainWindow::MainWindow(const QString& programDir, QWidget* parent) : QMainWindow(parent), m_programDir(programDir)
{
    m_run = new RendererRun(this);
    buildWindow();
    connectRun();
    resize(startSize(screen()));
    setAcceptDrops(true);
    m_form->fieldPicker()->rebuild({QString::fromUtf8(kDefaultField)}, {QString::fromUtf8(kDefaultField)});
    loadStartupProject();
}

// A renderer still running ends with the run (see ~RendererRun), before the
// widgets its signals would reach are gone.
MainWindow::~MainWindow()
{
    m_run->disconnect(this);
    delete m_run;
}

void MainWindow::setMessageHandler(MessageHandler handler)
{
    m_messageHandler = std::move(handler);
}

void MainWindow::setUrlOpener(UrlOpener opener)
{
    m_urlOpener = std::move(opener);
}

void MainWindow::setStopGracePeriod(int milliseconds)
{
    m_run->setStopGracePeriod(milliseconds);
}

bool MainWindow::running() const
{
    return m_run->running();
}

void MainWindow::showMessage(QMessageBox::Icon icon, const QString& title, const QString& text,
                             const QList<MessageAction>& actions, const QString& details)
{
    if (m_messageHandler) {
        m_messageHandler(UserMessage{icon, title, text, false, actions, {}, details});
        return;
    }
    QMessageBox box(icon, title, text, QMessageBox::Ok, this);
    box.setDetailedText(details);
    QList<QPair<QAbstractButton*, std::function<void()>>> buttons;
    for (const MessageAction& action : actions) {
        QPushButton* button = box.addButton(action.label, QMessageBox::ActionRole);
        button->setEnabled(action.enabled);
        buttons.append({button, action.run});
    }
    box.exec();
    for (const auto& [button, run] : buttons) {
        if (box.clickedButton() == button && run)
            run();
    }
}

// Questions are asked while the renderer may still be running: the end of
// the task closes an open one (m_openQuestion) as answered "no".
bool MainWindow::askQuestion(const QString& title, const QString& text)
{
    if (m_messageHandler)
        return m_messageHandler(UserMessage{QMessageBox::Question, title, text, true, {}, {}, {}}) != 0;
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    m_openQuestion = &box;
    const int answer = box.exec();
    m_openQuestion = nullptr;
    return answer == QMessageBox::Yes;
}

// The last choice cancels; Esc and closing the box choose it.
int MainWindow::askChoice(const QString& title, const QString& text, const QStringList& choices)
{
    const int cancel = int(choices.size()) - 1;
    if (m_messageHandler) {
        const int chosen = m_messageHandler(UserMessage{QMessageBox::Question, title, text, true, {}, choices, {}});
        return chosen >= 0 && chosen < cancel ? chosen : cancel;
    }
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, this);
    QList<QAbstractButton*> buttons;
    for (int i = 0; i < choices.size(); ++i) {
        const auto role =
            i == cancel ? QMessageBox::RejectRole : (i == 0 ? QMessageBox::AcceptRole : QMessageBox::DestructiveRole);
        buttons.append(box.addButton(choices[i], role));
    }
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    box.setEscapeButton(buttons.last());
    box.exec();
    const int chosen = int(buttons.indexOf(box.clickedButton()));
    return chosen >= 0 ? chosen : cancel;
}

void MainWindow::openUrl(const QUrl& url)
{
    if (m_urlOpener)
        m_urlOpener(url);
    else
        QDesktopServices::openUrl(url);
}

void MainWindow::appendLog(const QString& line)
{
    m_logView->appendLine(line);
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

    connect(m_form, &SettingsForm::numbersEdited, this, &MainWindow::updateRunButtons);
    connect(
        m_form, &SettingsForm::message, this,
        [this](QMessageBox::Icon icon, const QString& title, const QString& text) { showMessage(icon, title, text); });
    connect(m_form, &SettingsForm::logLine, this, &MainWindow::appendLog);
    updateRunButtons();
    setReadingTabOrder(central);
}

QWidget* MainWindow::buildLogRow()
{
    auto* row = new QSplitter(Qt::Horizontal);
    row->setObjectName(QStringLiteral("logSplitter"));
    m_logView = new LogView(row);
    m_logView->setObjectName(QStringLiteral("logView"));
    m_preview = new PreviewPane(row);
    m_preview->setObjectName(QStringLiteral("previewPane"));
    m_preview->setUrlOpener([this](const QUrl& url) { openUrl(url); });
    // The picture of the last image and the map of the parcels share a place.
    m_lowerTabs = new QTabWidget(row);
    m_lowerTabs->setObjectName(QStringLiteral("lowerTabs"));
    m_lowerTabs->addTab(m_preview, QStringLiteral("最新图片"));
    m_lowerTabs->addTab(buildPlanPane(m_lowerTabs), QStringLiteral("图斑地图"));
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
    setStatus(QStringLiteral("就绪"));

    layout->addWidget(new QLabel(QStringLiteral("图斑"), row));
    layout->addWidget(m_frameBar, 1);
    layout->addWidget(new QLabel(QStringLiteral("图片"), row));
    layout->addWidget(m_imageBar, 1);
    layout->addWidget(m_statusLabel);
    return row;
}

// Long texts (a failure reason, the shard state) are cut to the label's
// fixed width; the whole text is the label's tooltip.
void MainWindow::setStatus(const QString& text)
{
    m_statusLabel->setText(m_statusLabel->fontMetrics().elidedText(text, Qt::ElideRight, m_statusLabel->width()));
    m_statusLabel->setToolTip(text);
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
    showMessage(QMessageBox::Information, QStringLiteral("帮助"), lines.join(QLatin1Char('\n')));
}

void MainWindow::openFeedbackForm()
{
    const QSettings state(uiStatePathFor(m_programDir), QSettings::IniFormat);
    const QString address =
        state.value(QStringLiteral("feedback/address"), QString::fromUtf8(kBuiltInFeedbackUrl)).toString().trimmed();
    if (!address.isEmpty()) {
        openUrl(feedbackUrl(address));
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
    showMessage(QMessageBox::Information, QStringLiteral("问题反馈"), lines.join(QLatin1Char('\n')));
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
    openUrl(QUrl::fromLocalFile(folder));
}

bool MainWindow::saveSettings(const QString& path, const QJsonObject& settings)
{
    QString errorText;
    if (writeSettingsFile(path, settings, &errorText)) {
        if (!m_projectPath.isEmpty() && QFileInfo(path) == QFileInfo(m_projectPath))
            m_savedForm = settings;
        return true;
    }
    showMessage(QMessageBox::Critical, QStringLiteral("保存配置失败"), errorText);
    return false;
}

// Closing, opening another project or starting a new one asks to save edits
// not yet saved.
bool MainWindow::confirmUnsavedEdits(const QString& question)
{
    if (m_form->collectGuiSettings() == m_savedForm)
        return true;
    const int choice = askChoice(QStringLiteral("配置未保存"), question,
                                 {QStringLiteral("保存"), QStringLiteral("不保存"), QStringLiteral("取消")});
    if (choice == 0)
        return saveProject();
    return choice == 1;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!m_run->running()) {
        if (confirmUnsavedEdits(QStringLiteral("配置已修改但尚未保存。关闭前保存吗？"))) {
            rememberProject();
            event->accept();
        } else {
            event->ignore();
        }
        return;
    }
    event->ignore();
    if (m_closeAfterStop || m_askingToClose)
        return;  // already stopping; the window closes when the renderer has ended
    if (askToStopForClose())
        event->accept();  // the task ended while the question was open
}

// True when the task ended while the question was open.
bool MainWindow::askToStopForClose()
{
    m_askingToClose = true;
    const bool stop =
        askQuestion(QStringLiteral("任务正在运行"), QStringLiteral("渲染器正在运行。停止任务并退出吗？\n"
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
