#include "MainWindow.h"

#include "ConfigReference.h"
#include "FormChoices.h"
#include "LogView.h"
#include "PreviewPane.h"
#include "SettingsFile.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
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
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int kWindowMargin = 14;

// Set when building; a feedback address chosen in the help menu replaces it.
constexpr char kBuiltInFeedbackUrl[] = TAVRIN_FEEDBACK_URL;

QString cleanNativePath(const QString& path)
{
    return QDir::toNativeSeparators(QDir::cleanPath(path));
}

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
    const QSize frame(16, 40); // borders and title bar of a framed window
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

} // namespace

MainWindow::MainWindow(const QString& programDir, QWidget* parent)
    : QMainWindow(parent)
    , m_programDir(programDir)
    , m_settingsPath(settingsFilePathFor(programDir))
{
    setWindowTitle(QStringLiteral("Tavrin"));
    m_killTimer.setSingleShot(true);
    m_killTimer.setTimerType(Qt::PreciseTimer); // never before the grace period is over
    connect(&m_killTimer, &QTimer::timeout, this, &MainWindow::stopGraceExpired);
    buildWindow();
    resize(startSize(screen()));
    rebuildFieldPicker({QString::fromUtf8(kDefaultField)}, {QString::fromUtf8(kDefaultField)});
    loadSettings(readStartupSettings(m_programDir));
    m_savedForm = collectGuiSettings();
}

MainWindow::~MainWindow()
{
    // The process is a child of the window and would otherwise be killed in
    // the base class destructor, where its finished signal would reach a
    // window that is already half destroyed. It gets the same chance to end
    // its image and write its report as on 停止.
    if (m_process) {
        m_process->disconnect(this);
        m_process->terminate();
        if (!m_process->waitForFinished(m_stopGraceMs)) {
            m_process->kill();
            m_process->waitForFinished(3000);
        }
    }
}

void MainWindow::setMessageHandler(MessageHandler handler)
{
    m_messageHandler = std::move(handler);
}

void MainWindow::setUrlOpener(UrlOpener opener)
{
    m_urlOpener = std::move(opener);
    m_preview->setUrlOpener([this](const QUrl& url) { openUrl(url); });
}

void MainWindow::setStopGracePeriod(int milliseconds)
{
    m_stopGraceMs = milliseconds;
}

QString MainWindow::settingsFilePath() const
{
    return m_settingsPath;
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
        const auto role = i == cancel ? QMessageBox::RejectRole
                                      : (i == 0 ? QMessageBox::AcceptRole : QMessageBox::DestructiveRole);
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
    layout->addWidget(buildPathBox());

    // Above the moveable divider the form with the task controls, below it
    // the log beside the picture of the last image.
    auto* upper = new QWidget(central);
    auto* upperLayout = new QVBoxLayout(upper);
    upperLayout->setContentsMargins(0, 0, 0, 0);
    auto* panels = new QSplitter(Qt::Horizontal, upper);
    panels->setObjectName(QStringLiteral("formSplitter"));
    panels->setChildrenCollapsible(false);
    for (QWidget* panel : {buildPicturePanel(), buildNamingPanel(), buildScenePanel(), buildAnglePanel()})
        panels->addWidget(wrapPanel(panel));
    // Shares of the width (at the default size, in pixels); the panels never
    // get narrower than their content.
    const QList<int> panelShare = {240, 330, 270, 237};
    for (int i = 0; i < panelShare.size(); ++i)
        panels->setStretchFactor(i, panelShare[i] / 10);
    panels->setSizes(panelShare);
    upperLayout->addWidget(panels, 1);
    upperLayout->addWidget(buildButtonsRow());
    upperLayout->addWidget(buildProgressRow());

    auto* lower = new QSplitter(Qt::Horizontal, central);
    lower->setObjectName(QStringLiteral("logSplitter"));
    m_logView = new LogView(lower);
    m_logView->setObjectName(QStringLiteral("logView"));
    m_preview = new PreviewPane(lower);
    m_preview->setObjectName(QStringLiteral("previewPane"));
    m_preview->setUrlOpener([this](const QUrl& url) { openUrl(url); });
    lower->addWidget(m_logView);
    lower->addWidget(m_preview);
    lower->setStretchFactor(0, 3);
    lower->setStretchFactor(1, 2);

    auto* divider = new QSplitter(Qt::Vertical, central);
    divider->setObjectName(QStringLiteral("mainSplitter"));
    divider->addWidget(upper);
    divider->addWidget(lower);
    // A taller window gives room to both: the field list grows up to the
    // fields it holds, and the log.
    divider->setStretchFactor(0, 1);
    divider->setStretchFactor(1, 1);
    divider->setCollapsible(0, false);
    divider->setCollapsible(1, false);
    layout->addWidget(divider, 1);

    setCentralWidget(central);
    watchNumberFields();
    keepPlaceholdersGrey();
    setKeyOrder();
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

QWidget* MainWindow::buildPathBox()
{
    auto* box = new QGroupBox(QStringLiteral("数据路径"), this);
    m_formParts.append(box);
    auto* grid = new QGridLayout(box);

    const auto addRow = [this, box, grid](int row, const char* key, const char* name, QLineEdit** edit) {
        auto* label = new QLabel(configLabel(key), box);
        label->setToolTip(configTooltip(key));
        grid->addWidget(label, row, 0);
        *edit = new QLineEdit(box);
        (*edit)->setObjectName(QString::fromLatin1(name));
        (*edit)->setToolTip(configTooltip(key));
        grid->addWidget(*edit, row, 1);
        auto* browse = new QPushButton(QStringLiteral("浏览"), box);
        browse->setObjectName(QString::fromLatin1(name) + QStringLiteral("Browse"));
        grid->addWidget(browse, row, 2);
        return browse;
    };
    connect(addRow(0, "osgb_path", "modelPathEdit", &m_modelPathEdit), &QPushButton::clicked, this,
            &MainWindow::browseModelPath);
    connect(addRow(1, "shp_path", "shapefileEdit", &m_shapefileEdit), &QPushButton::clicked, this,
            &MainWindow::browseShapefile);
    connect(addRow(2, "output_dir", "outputDirEdit", &m_outputDirEdit), &QPushButton::clicked, this,
            &MainWindow::browseOutputFolder);
    connect(m_shapefileEdit, &QLineEdit::editingFinished, this, [this] { refreshShapefileFields(false); });
    // Paths reported missing are checked again as they change.
    connect(m_modelPathEdit, &QLineEdit::textChanged, this, &MainWindow::refreshPathProblems);
    connect(m_shapefileEdit, &QLineEdit::textChanged, this, &MainWindow::refreshPathProblems);

    // A relative output folder is named as the renderer will take it.
    m_outputResolvedLabel = new QLabel(box);
    m_outputResolvedLabel->setObjectName(QStringLiteral("outputResolvedLabel"));
    m_outputResolvedLabel->setStyleSheet(QStringLiteral("color: palette(placeholder-text);"));
    m_outputResolvedLabel->setWordWrap(true);
    m_outputResolvedLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_outputResolvedLabel->hide();
    grid->addWidget(m_outputResolvedLabel, 3, 1, 1, 2);
    connect(m_outputDirEdit, &QLineEdit::textChanged, this, &MainWindow::showResolvedOutputFolder);

    m_pathProblemLabel = new QLabel(box);
    m_pathProblemLabel->setObjectName(QStringLiteral("pathProblemLabel"));
    m_pathProblemLabel->setStyleSheet(QStringLiteral("color: #c62828;"));
    m_pathProblemLabel->setWordWrap(true);
    m_pathProblemLabel->hide();
    grid->addWidget(m_pathProblemLabel, 4, 1, 1, 2);
    showResolvedOutputFolder();
    return box;
}

void MainWindow::showResolvedOutputFolder()
{
    const QString text = m_outputDirEdit->text().trimmed();
    const bool relative = text.isEmpty() || QDir::isRelativePath(QDir::fromNativeSeparators(text));
    m_outputResolvedLabel->setText(QStringLiteral("实际位置：")
                                   + QDir::toNativeSeparators(resolvedOutputFolder(text)));
    m_outputResolvedLabel->setVisible(relative);
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
    m_saveButton = new QPushButton(QStringLiteral("保存配置"), row);
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    m_formParts.append(m_saveButton);

    layout->addWidget(m_startButton);
    layout->addWidget(m_testButton);
    layout->addWidget(m_stopButton);
    layout->addStretch();
    layout->addWidget(m_saveButton);

    setButtonKey(m_startButton, QKeySequence(Qt::Key_F5), QStringLiteral("导出全部图斑"));
    setButtonKey(m_testButton, QKeySequence(Qt::CTRL | Qt::Key_T), QStringLiteral("只导出前几个图斑，数量见“测试导出图斑数”"));
    setButtonKey(m_stopButton, QKeySequence(Qt::Key_Escape),
                 QStringLiteral("停止任务：渲染器完成当前图片并写出报告后退出"));
    setButtonKey(m_saveButton, QKeySequence::Save, QStringLiteral("保存配置"));

    connect(m_startButton, &QPushButton::clicked, this, [this] { startTask(false); });
    connect(m_testButton, &QPushButton::clicked, this, [this] { startTask(true); });
    connect(m_stopButton, &QPushButton::clicked, this, &MainWindow::stopTask);
    connect(m_saveButton, &QPushButton::clicked, this, &MainWindow::saveCurrentSettings);
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
    m_statusText = text;
    m_statusLabel->setText(m_statusLabel->fontMetrics().elidedText(text, Qt::ElideRight, m_statusLabel->width()));
    m_statusLabel->setToolTip(text);
}


// ---- header and path actions ----------------------------------------------

void MainWindow::showHelp()
{
    const QStringList lines = {
        QStringLiteral("照片名称模板支持 <字段名>、<left(字段,数量)>、<right(字段,数量)>、<mid(字段,起点,数量)>。"),
        QStringLiteral("去掉字段前导 0 可使用 <int(字段)> 或 <number(字段)>，例如 0003 输出为 3。"),
        QStringLiteral("模板中的反斜杠会创建子文件夹，# 会在同一文件夹内自动编号。"),
        QStringLiteral("测试导出图斑数只对测试导出生效，正式批量截图会导出全部图斑。"),
        QStringLiteral("SHP 若带 37000000 等度带，默认会自动识别并向左平移回模型坐标。"),
        QStringLiteral("如需提交问题反馈，请点击主界面的“问题反馈”。"),
    };
    showMessage(QMessageBox::Information, QStringLiteral("帮助"), lines.join(QLatin1Char('\n')));
}

QString MainWindow::uiStatePath() const
{
    return QDir(m_programDir).absoluteFilePath(QStringLiteral("config/tavrin.ini"));
}

void MainWindow::openFeedbackForm()
{
    const QSettings state(uiStatePath(), QSettings::IniFormat);
    const QString address = state.value(QStringLiteral("feedback/address"), QString::fromUtf8(kBuiltInFeedbackUrl))
                                .toString()
                                .trimmed();
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
    QSettings state(uiStatePath(), QSettings::IniFormat);
    bool accepted = false;
    const QString address = QInputDialog::getText(
        this, QStringLiteral("设置反馈地址"), QStringLiteral("反馈网页或邮箱地址（留空则显示反馈说明）："),
        QLineEdit::Normal, state.value(QStringLiteral("feedback/address")).toString(), &accepted);
    if (accepted)
        state.setValue(QStringLiteral("feedback/address"), address.trimmed());
}

QString MainWindow::resolvedRunPath(const QString& text) const
{
    const QString runFolder = QFileInfo(runFilePathFor(m_programDir)).absolutePath();
    return QDir::cleanPath(QDir(runFolder).absoluteFilePath(QDir::fromNativeSeparators(text)));
}

QString MainWindow::resolvedOutputFolder(const QString& outputDirText) const
{
    if (outputDirText.trimmed().isEmpty())
        return QDir::cleanPath(QDir(m_programDir).absoluteFilePath(QStringLiteral("output")));
    return resolvedRunPath(outputDirText.trimmed());
}

void MainWindow::openOutputFolder()
{
    const QString folder = resolvedOutputFolder(m_outputDirEdit->text());
    QDir().mkpath(folder);
    openUrl(QUrl::fromLocalFile(folder));
}

QString MainWindow::browseStartFolder(const char* row) const
{
    const QSettings state(uiStatePath(), QSettings::IniFormat);
    return state.value(QStringLiteral("browse/") + QLatin1String(row)).toString();
}

void MainWindow::rememberBrowseFolder(const char* row, const QString& folder)
{
    QSettings state(uiStatePath(), QSettings::IniFormat);
    state.setValue(QStringLiteral("browse/") + QLatin1String(row), folder);
}

void MainWindow::browseModelPath()
{
    const QString path = QFileDialog::getExistingDirectory(this, configLabel("osgb_path"), browseStartFolder("model"),
                                                           QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (path.isEmpty())
        return;
    m_modelPathEdit->setText(cleanNativePath(path));
    rememberBrowseFolder("model", path);
}

void MainWindow::browseShapefile()
{
    const QString path = QFileDialog::getOpenFileName(this, configLabel("shp_path"), browseStartFolder("shapefile"),
                                                      QStringLiteral("SHP 文件 (*.shp);;所有文件 (*.*)"), nullptr,
                                                      QFileDialog::DontUseNativeDialog);
    if (path.isEmpty())
        return;
    m_shapefileEdit->setText(cleanNativePath(path));
    rememberBrowseFolder("shapefile", QFileInfo(path).absolutePath());
    discoverShapefileFields(m_shapefileEdit->text());
}

void MainWindow::browseOutputFolder()
{
    const QString path = QFileDialog::getExistingDirectory(this, configLabel("output_dir"), browseStartFolder("output"),
                                                           QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (path.isEmpty())
        return;
    m_outputDirEdit->setText(cleanNativePath(path));
    rememberBrowseFolder("output", path);
}

void MainWindow::saveCurrentSettings()
{
    if (saveSettings(m_settingsPath, collectGuiSettings()))
        appendLog(QStringLiteral("配置已保存：") + cleanNativePath(m_settingsPath));
}

bool MainWindow::hasUnsavedEdits() const
{
    return collectGuiSettings() != m_savedForm;
}

bool MainWindow::confirmUnsavedEdits()
{
    if (!hasUnsavedEdits())
        return true;
    const int choice = askChoice(QStringLiteral("配置未保存"), QStringLiteral("配置已修改但尚未保存。关闭前保存吗？"),
                                 {QStringLiteral("保存"), QStringLiteral("不保存"), QStringLiteral("取消")});
    if (choice == 0)
        return saveSettings(m_settingsPath, collectGuiSettings());
    return choice == 1;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!m_process) {
        if (confirmUnsavedEdits())
            event->accept();
        else
            event->ignore();
        return;
    }
    event->ignore();
    if (m_closeAfterStop || m_askingToClose)
        return; // already stopping; the window closes when the renderer has ended
    m_askingToClose = true;
    const bool stop = askQuestion(QStringLiteral("任务正在运行"),
                                  QStringLiteral("渲染器正在运行。停止任务并退出吗？\n"
                                                 "渲染器会先完成当前图片并写出报告，然后程序退出。"));
    m_askingToClose = false;
    if (!m_process) {
        event->accept(); // the task ended while the question was open
        return;
    }
    if (!stop)
        return;
    m_closeAfterStop = true;
    if (!m_stopRequested)
        requestStop();
}
