#include "MainWindow.h"

#include "FormChoices.h"
#include "SettingsFile.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int kWindowMargin = 14;
constexpr int kLogLineLimit = 3000;

QString cleanNativePath(const QString& path)
{
    return QDir::toNativeSeparators(QDir::cleanPath(path));
}

} // namespace

MainWindow::MainWindow(const QString& programDir, QWidget* parent)
    : QMainWindow(parent)
    , m_programDir(programDir)
    , m_settingsPath(settingsFilePathFor(programDir))
{
    setWindowTitle(QStringLiteral("Tavrin"));
    resize(1120, 780);
    buildWindow();
    rebuildFieldPicker({QString::fromUtf8(kDefaultField)}, {QString::fromUtf8(kDefaultField)});
    loadSettings(readStartupSettings(m_programDir));
}

MainWindow::~MainWindow()
{
    // The process is a child of the window and would otherwise be killed in
    // the base class destructor, where its finished signal would reach a
    // window that is already half destroyed.
    if (m_process) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(3000);
    }
}

void MainWindow::setMessageHandler(MessageHandler handler)
{
    m_messageHandler = std::move(handler);
}

QString MainWindow::settingsFilePath() const
{
    return m_settingsPath;
}

void MainWindow::showMessage(QMessageBox::Icon icon, const QString& title, const QString& text)
{
    if (m_messageHandler) {
        m_messageHandler(UserMessage{icon, title, text});
        return;
    }
    QMessageBox box(icon, title, text, QMessageBox::Ok, this);
    box.exec();
}

void MainWindow::appendLog(const QString& line)
{
    m_logView->appendPlainText(line);
}

// ---- layout ---------------------------------------------------------------

void MainWindow::buildWindow()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(kWindowMargin, kWindowMargin, kWindowMargin, kWindowMargin);

    layout->addWidget(buildHeaderRow());
    layout->addWidget(buildPathBox());

    auto* splitter = new QSplitter(Qt::Horizontal, central);
    splitter->addWidget(buildNamingPanel());
    splitter->addWidget(buildScenePanel());
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    layout->addWidget(splitter, 1);

    layout->addWidget(buildButtonsRow());
    layout->addWidget(buildProgressRow());

    m_logView = new QPlainTextEdit(central);
    m_logView->setObjectName(QStringLiteral("logView"));
    m_logView->setReadOnly(true);
    m_logView->setMaximumBlockCount(kLogLineLimit);
    layout->addWidget(m_logView, 1);

    setCentralWidget(central);
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

    auto* help = new QPushButton(QStringLiteral("帮助"), row);
    auto* feedback = new QPushButton(QStringLiteral("问题反馈"), row);
    auto* openOutput = new QPushButton(QStringLiteral("打开输出目录"), row);
    layout->addWidget(help);
    layout->addWidget(feedback);
    layout->addWidget(openOutput);
    connect(help, &QPushButton::clicked, this, &MainWindow::showHelp);
    connect(feedback, &QPushButton::clicked, this, &MainWindow::openFeedbackForm);
    connect(openOutput, &QPushButton::clicked, this, &MainWindow::openOutputFolder);
    return row;
}

QWidget* MainWindow::buildPathBox()
{
    auto* box = new QGroupBox(QStringLiteral("数据路径"), this);
    auto* grid = new QGridLayout(box);

    const auto addRow = [box, grid](int row, const QString& label, const char* name,
                                    QLineEdit** edit) {
        grid->addWidget(new QLabel(label, box), row, 0);
        *edit = new QLineEdit(box);
        (*edit)->setObjectName(QString::fromLatin1(name));
        grid->addWidget(*edit, row, 1);
        auto* browse = new QPushButton(QStringLiteral("浏览"), box);
        browse->setObjectName(QString::fromLatin1(name) + QStringLiteral("Browse"));
        grid->addWidget(browse, row, 2);
        return browse;
    };
    connect(addRow(0, QStringLiteral("OSGB 模型目录/文件"), "modelPathEdit", &m_modelPathEdit),
            &QPushButton::clicked, this, &MainWindow::browseModelPath);
    connect(addRow(1, QStringLiteral("SHP 图斑文件"), "shapefileEdit", &m_shapefileEdit),
            &QPushButton::clicked, this, &MainWindow::browseShapefile);
    connect(addRow(2, QStringLiteral("输出目录"), "outputDirEdit", &m_outputDirEdit),
            &QPushButton::clicked, this, &MainWindow::browseOutputFolder);
    return box;
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

    layout->addWidget(m_startButton);
    layout->addWidget(m_testButton);
    layout->addWidget(m_stopButton);
    layout->addStretch();
    layout->addWidget(m_saveButton);

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
    m_statusLabel = new QLabel(QStringLiteral("就绪"), row);
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));

    layout->addWidget(new QLabel(QStringLiteral("图斑"), row));
    layout->addWidget(m_frameBar);
    layout->addWidget(new QLabel(QStringLiteral("图片"), row));
    layout->addWidget(m_imageBar);
    layout->addWidget(m_statusLabel);
    return row;
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

void MainWindow::openFeedbackForm()
{
    QDesktopServices::openUrl(QUrl(QStringLiteral(TAVRIN_FEEDBACK_URL)));
}

void MainWindow::openOutputFolder()
{
    QString folder = m_outputDirEdit->text();
    if (folder.isEmpty())
        folder = QDir(m_programDir).filePath(QStringLiteral("output"));
    QDir().mkpath(folder);
    QDesktopServices::openUrl(QUrl::fromLocalFile(QDir(folder).absolutePath()));
}

void MainWindow::browseModelPath()
{
    const QString path = QFileDialog::getExistingDirectory(
        this, QStringLiteral("OSGB 模型目录/文件"), QString(), QFileDialog::ShowDirsOnly);
    if (!path.isEmpty())
        m_modelPathEdit->setText(cleanNativePath(path));
}

void MainWindow::browseShapefile()
{
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("SHP 图斑文件"), QString(),
        QStringLiteral("SHP 文件 (*.shp);;所有文件 (*.*)"));
    if (path.isEmpty())
        return;
    m_shapefileEdit->setText(cleanNativePath(path));
    discoverShapefileFields(m_shapefileEdit->text());
}

void MainWindow::browseOutputFolder()
{
    const QString path = QFileDialog::getExistingDirectory(
        this, QStringLiteral("输出目录"), QString(), QFileDialog::ShowDirsOnly);
    if (!path.isEmpty())
        m_outputDirEdit->setText(cleanNativePath(path));
}

void MainWindow::saveCurrentSettings()
{
    if (saveSettings(m_settingsPath, collectSettings(false)))
        appendLog(QStringLiteral("配置已保存：") + cleanNativePath(m_settingsPath));
}
