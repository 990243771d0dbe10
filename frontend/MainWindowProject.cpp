// The project file from the window: the start with the last project, new,
// open, save and save as, the recent projects and files dropped on the
// window.

#include "MainWindow.h"

#include "DefaultSettings.h"
#include "LogView.h"
#include "PathDialogs.h"
#include "PathText.h"
#include "ProjectFile.h"
#include "RendererRun.h"
#include "SettingsFile.h"
#include "SettingsForm.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QTimer>
#include <QToolButton>

namespace {

// The vector sources the frames may come from, by suffix.
bool isVectorSource(const QFileInfo& file)
{
    static const QStringList suffixes = {QStringLiteral("shp"), QStringLiteral("gpkg"), QStringLiteral("geojson"),
                                         QStringLiteral("kml"), QStringLiteral("gdbtable")};
    return suffixes.contains(file.suffix().toLower()) ||
           (file.isDir() && file.suffix().compare(QLatin1String("gdb"), Qt::CaseInsensitive) == 0);
}

}  // namespace

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
                    &MainWindow::chooseAndSaveProjectAs);
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

void MainWindow::loadStartupProject()
{
    const StartupProject start = openStartupProject(m_programDir);
    if (!start.geometry.isEmpty())
        restoreGeometry(start.geometry);
    showProject(start.path, start.settings);
    for (const QString& note : start.notes)
        appendLog(note);
    for (const QString& problem : start.problems)
        appendLog(problem);
    // Told once the window is up (and the caller has set its handlers).
    if (!start.problems.isEmpty())
        QTimer::singleShot(0, this, [this, problems = start.problems] {
            showMessage(QMessageBox::Warning, QStringLiteral("配置文件损坏"), problems.join(QLatin1Char('\n')));
        });
}

void MainWindow::showProject(const QString& path, const QJsonObject& settings)
{
    m_projectPath = path;
    m_form->loadSettings(settings);
    m_savedForm = m_form->collectGuiSettings();
    updateTitle();
    schedulePlan();
}

void MainWindow::updateTitle()
{
    const QString name =
        m_projectPath.isEmpty() ? QStringLiteral("未命名项目") : QFileInfo(m_projectPath).completeBaseName();
    setWindowTitle(QStringLiteral("%1 - Tavrin").arg(name));
}

// render_gui.json names the project and keeps the window's state; the
// project joins the recent ones.
void MainWindow::rememberProject()
{
    QString errorText;
    writeGuiState(m_programDir, m_projectPath, saveGeometry(), &errorText);
    if (!m_projectPath.isEmpty() && QFileInfo::exists(m_projectPath))
        addRecentProject(m_programDir, m_projectPath);
}

QString MainWindow::projectFolder() const
{
    return m_projectPath.isEmpty() ? configFolderFor(m_programDir) : QFileInfo(m_projectPath).absolutePath();
}

bool MainWindow::saveProject()
{
    if (m_projectPath.isEmpty())
        return chooseAndSaveProjectAs();
    if (!saveSettings(m_projectPath, m_form->collectGuiSettings()))
        return false;
    rememberProject();
    appendLog(QStringLiteral("项目已保存：") + cleanNativePath(m_projectPath));
    return true;
}

bool MainWindow::saveProjectAs(const QString& path)
{
    const QString previous = std::exchange(m_projectPath, QFileInfo(path).absoluteFilePath());
    if (saveProject()) {
        updateTitle();
        return true;
    }
    m_projectPath = previous;
    return false;
}

bool MainWindow::chooseAndSaveProjectAs()
{
    const QString start = m_projectPath.isEmpty() ? projectFolder() : m_projectPath;
    const QString path = chooseProjectToSave(this, start);
    return !path.isEmpty() && saveProjectAs(path);
}

void MainWindow::chooseAndOpenProject()
{
    const QString path = chooseProjectToOpen(this, projectFolder());
    if (!path.isEmpty())
        openProject(path);
}

bool MainWindow::openProject(const QString& path)
{
    if (running() || !confirmUnsavedEdits(QStringLiteral("当前项目已修改但尚未保存。打开其他项目前保存吗？")))
        return false;
    const ProjectRead project = readProjectFile(path);
    if (!project.read) {
        const QString text =
            project.problem.isEmpty() ? QStringLiteral("找不到项目文件：") + cleanNativePath(path) : project.problem;
        appendLog(text);
        showMessage(QMessageBox::Warning, QStringLiteral("无法打开项目"), text);
        return false;
    }
    QJsonObject settings = defaultSettings();
    for (auto it = project.settings.begin(); it != project.settings.end(); ++it)
        settings.insert(it.key(), it.value());
    showProject(QFileInfo(path).absoluteFilePath(), settings);
    rememberProject();
    appendLog(QStringLiteral("已打开项目：") + cleanNativePath(m_projectPath));
    return true;
}

void MainWindow::newProject()
{
    if (running() || !confirmUnsavedEdits(QStringLiteral("当前项目已修改但尚未保存。新建项目前保存吗？")))
        return;
    showProject(QString(), defaultSettings());
    appendLog(QStringLiteral("已新建项目，保存时选择项目文件。"));
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
