// The project file from the window: the start with the last project, new,
// open, save and save as, and the question about edits not yet saved.

#include "ProjectController.h"

#include "DefaultSettings.h"
#include "LogView.h"
#include "PathDialogs.h"
#include "PathText.h"
#include "ProjectFile.h"
#include "SettingsFile.h"
#include "SettingsForm.h"
#include "UserDialogs.h"

#include <QFileInfo>
#include <QTimer>
#include <QWidget>

ProjectController::ProjectController(const QString& programDir, QWidget* window, SettingsForm* form, LogView* log,
                                     UserDialogs* dialogs)
    : QObject(window), m_programDir(programDir), m_window(window), m_form(form), m_log(log), m_dialogs(dialogs)
{
}

bool ProjectController::saveSettings(const QString& path, const QJsonObject& settings)
{
    QString errorText;
    if (writeSettingsFile(path, settings, &errorText)) {
        if (!m_path.isEmpty() && QFileInfo(path) == QFileInfo(m_path))
            m_savedForm = settings;
        return true;
    }
    m_dialogs->showMessage(QMessageBox::Critical, QStringLiteral("保存配置失败"), errorText);
    return false;
}

void ProjectController::loadStartup()
{
    const StartupProject start = openStartupProject(m_programDir);
    if (!start.geometry.isEmpty())
        m_window->restoreGeometry(start.geometry);
    show(start.path, start.settings);
    for (const QString& note : start.notes)
        m_log->appendLine(note);
    for (const QString& problem : start.problems)
        m_log->appendLine(problem);
    // Told once the window is up (and the caller has set its handlers).
    if (!start.problems.isEmpty())
        QTimer::singleShot(0, this, [this, problems = start.problems] {
            m_dialogs->showMessage(QMessageBox::Warning, QStringLiteral("配置文件损坏"),
                                   problems.join(QLatin1Char('\n')));
        });
}

void ProjectController::show(const QString& path, const QJsonObject& settings)
{
    m_path = path;
    m_form->loadSettings(settings);
    m_savedForm = m_form->collectGuiSettings();
    updateTitle();
    emit shown();
}

void ProjectController::updateTitle()
{
    const QString name = m_path.isEmpty() ? QStringLiteral("未命名项目") : QFileInfo(m_path).completeBaseName();
    emit titleChanged(QStringLiteral("%1 - Tavrin").arg(name));
}

void ProjectController::remember()
{
    QString errorText;
    writeGuiState(m_programDir, m_path, m_window->saveGeometry(), &errorText);
    if (!m_path.isEmpty() && QFileInfo::exists(m_path))
        addRecentProject(m_programDir, m_path);
}

QString ProjectController::folder() const
{
    return m_path.isEmpty() ? configFolderFor(m_programDir) : QFileInfo(m_path).absolutePath();
}

bool ProjectController::save()
{
    if (m_path.isEmpty())
        return chooseAndSaveAs();
    if (!saveSettings(m_path, m_form->collectGuiSettings()))
        return false;
    remember();
    m_log->appendLine(QStringLiteral("项目已保存：") + cleanNativePath(m_path));
    return true;
}

bool ProjectController::saveAs(const QString& path)
{
    const QString previous = std::exchange(m_path, QFileInfo(path).absoluteFilePath());
    if (save()) {
        updateTitle();
        return true;
    }
    m_path = previous;
    return false;
}

bool ProjectController::chooseAndSaveAs()
{
    const QString start = m_path.isEmpty() ? folder() : m_path;
    const QString path = chooseProjectToSave(m_window, start);
    return !path.isEmpty() && saveAs(path);
}

QString ProjectController::chooseToOpen() const
{
    return chooseProjectToOpen(m_window, folder());
}

bool ProjectController::saveForRun()
{
    return m_path.isEmpty() || saveSettings(m_path, m_form->collectGuiSettings());
}

bool ProjectController::confirmUnsavedEdits(const QString& question)
{
    if (m_form->collectGuiSettings() == m_savedForm)
        return true;
    const int choice = m_dialogs->askChoice(QStringLiteral("配置未保存"), question,
                                            {QStringLiteral("保存"), QStringLiteral("不保存"), QStringLiteral("取消")});
    if (choice == 0)
        return save();
    return choice == 1;
}

bool ProjectController::open(const QString& path)
{
    if (!confirmUnsavedEdits(QStringLiteral("当前项目已修改但尚未保存。打开其他项目前保存吗？")))
        return false;
    const ProjectRead project = readProjectFile(path);
    if (!project.read) {
        const QString text =
            project.problem.isEmpty() ? QStringLiteral("找不到项目文件：") + cleanNativePath(path) : project.problem;
        m_log->appendLine(text);
        m_dialogs->showMessage(QMessageBox::Warning, QStringLiteral("无法打开项目"), text);
        return false;
    }
    QJsonObject settings = defaultSettings();
    for (auto it = project.settings.begin(); it != project.settings.end(); ++it)
        settings.insert(it.key(), it.value());
    show(QFileInfo(path).absoluteFilePath(), settings);
    remember();
    m_log->appendLine(QStringLiteral("已打开项目：") + cleanNativePath(m_path));
    return true;
}

void ProjectController::startNew()
{
    if (!confirmUnsavedEdits(QStringLiteral("当前项目已修改但尚未保存。新建项目前保存吗？")))
        return;
    show(QString(), defaultSettings());
    m_log->appendLine(QStringLiteral("已新建项目，保存时选择项目文件。"));
}
