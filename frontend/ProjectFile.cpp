#include "ProjectFile.h"

#include "DefaultSettings.h"
#include "SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSettings>

namespace {

constexpr char kProjectKey[] = "project";
constexpr char kGeometryKey[] = "window_geometry";
constexpr int kRecentCount = 8;

QString nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// Moves a damaged file aside; says where it went, or that it stayed.
QString keepDamaged(const QString& path, const QString& reason)
{
    const QString bad = path + QStringLiteral(".bad");
    QFile::remove(bad);
    if (QFile::rename(path, bad))
        return QStringLiteral("文件 %1 已损坏（%2），未能读取；原文件已保留为 %3。")
            .arg(nativePath(path), reason, nativePath(bad));
    return QStringLiteral("文件 %1 已损坏（%2），未能读取；也无法把它改名保留，请先复制一份再保存。")
        .arg(nativePath(path), reason);
}

// A file name beside `path` that no file has yet: render_project.json,
// render_project-2.json, …
QString unusedPath(const QString& path)
{
    const QFileInfo info(path);
    QString candidate = path;
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate =
            info.dir().filePath(QStringLiteral("%1-%2.%3").arg(info.completeBaseName()).arg(n).arg(info.suffix()));
    return candidate;
}

QJsonObject withDefaults(const QJsonObject& settings)
{
    QJsonObject all = defaultSettings();
    for (auto it = settings.begin(); it != settings.end(); ++it)
        all.insert(it.key(), it.value());
    return all;
}

// render_gui.json of an older Tavrin held the settings themselves: they
// become a project file, and render_gui.json names it.
void migrateOldState(const QString& programDir, const QJsonObject& old, StartupProject& start)
{
    start.path = unusedPath(defaultProjectPath(programDir));
    QString error;
    if (!writeSettingsFile(start.path, old, &error)) {
        start.problems.append(QStringLiteral("未能把旧的配置转为项目文件：") + error);
        start.path = defaultProjectPath(programDir);
    } else {
        start.notes.append(QStringLiteral("旧版 render_gui.json 中的配置已转为项目文件：") + nativePath(start.path));
    }
    start.settings = withDefaults(old);
}

void readLastProject(StartupProject& start)
{
    const ProjectRead project = readProjectFile(start.path);
    if (!project.problem.isEmpty())
        start.problems.append(project.problem);
    else if (!project.read && start.path != start.defaultPath)
        start.notes.append(QStringLiteral("找不到上次的项目文件 %1，使用默认设置。").arg(nativePath(start.path)));
    start.settings = withDefaults(project.settings);
}

}  // namespace

ProjectRead readProjectFile(const QString& path)
{
    ProjectRead out;
    QFile file(path);
    if (!file.exists())
        return out;
    if (!file.open(QIODevice::ReadOnly)) {
        out.problem = QStringLiteral("无法读取文件 %1：%2").arg(nativePath(path), file.errorString());
        return out;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    file.close();
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        const QString reason = error.error != QJsonParseError::NoError
                                   ? QStringLiteral("第 %1 个字节处：%2").arg(error.offset).arg(error.errorString())
                                   : QStringLiteral("不是 JSON 对象");
        out.problem = keepDamaged(path, reason);
        return out;
    }
    out.settings = document.object();
    out.read = true;
    return out;
}

QString defaultProjectPath(const QString& programDir)
{
    return QDir(configFolderFor(programDir)).absoluteFilePath(QStringLiteral("render_project.json"));
}

StartupProject openStartupProject(const QString& programDir)
{
    StartupProject start;
    start.defaultPath = defaultProjectPath(programDir);
    if (usesUserConfigFolder(programDir))
        start.notes.append(
            QStringLiteral("程序目录的配置文件夹 %1 无法写入，配置改存在 %2。")
                .arg(nativePath(programConfigFolder(programDir)), nativePath(configFolderFor(programDir))));
    // In the user's folder at first: what the program's folder holds.
    QString statePath = settingsFilePathFor(programDir);
    if (!QFileInfo::exists(statePath) && usesUserConfigFolder(programDir))
        statePath = QDir(programConfigFolder(programDir)).absoluteFilePath(QStringLiteral("render_gui.json"));
    const ProjectRead state = readProjectFile(statePath);
    if (!state.problem.isEmpty())
        start.problems.append(state.problem);
    start.geometry = QByteArray::fromBase64(state.settings.value(QLatin1String(kGeometryKey)).toString().toLatin1());
    const QString last = state.settings.value(QLatin1String(kProjectKey)).toString();
    QJsonObject old = state.settings;
    old.remove(QLatin1String(kGeometryKey));
    old.remove(QLatin1String(kProjectKey));
    if (!last.isEmpty()) {
        start.path = last;
        readLastProject(start);
    } else if (!old.isEmpty()) {
        migrateOldState(programDir, old, start);
        QString error;
        writeGuiState(programDir, start.path, start.geometry, &error);
    } else {
        start.path = defaultProjectPath(programDir);
        readLastProject(start);
        if (!QFileInfo::exists(start.path) && start.problems.isEmpty())
            start.settings = readStartupSettings(programDir);
    }
    return start;
}

bool writeGuiState(const QString& programDir, const QString& project, const QByteArray& geometry, QString* errorText)
{
    QJsonObject state{{QLatin1String(kProjectKey), project}};
    if (!geometry.isEmpty())
        state.insert(QLatin1String(kGeometryKey), QString::fromLatin1(geometry.toBase64()));
    return writeSettingsFile(settingsFilePathFor(programDir), state, errorText);
}

QStringList recentProjects(const QString& programDir)
{
    const QSettings state(uiStatePathFor(programDir), QSettings::IniFormat);
    return state.value(QStringLiteral("projects/recent")).toStringList();
}

void addRecentProject(const QString& programDir, const QString& path)
{
    QStringList recent = recentProjects(programDir);
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    recent.removeAll(clean);
    recent.prepend(clean);
    QSettings state(uiStatePathFor(programDir), QSettings::IniFormat);
    state.setValue(QStringLiteral("projects/recent"), QStringList(recent.mid(0, kRecentCount)));
}
