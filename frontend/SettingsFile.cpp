#include "SettingsFile.h"

#include "DefaultSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

// Whether a file can be made in the folder (or in the folder it would be
// made in): tried, since permissions alone do not tell (access lists,
// read-only mounts).
bool canWriteInto(const QString& folder)
{
    QString existing = folder;
    while (!QFileInfo::exists(existing)) {
        const QString parent = QFileInfo(existing).absolutePath();
        if (parent == existing)
            return false;
        existing = parent;
    }
    if (!QFileInfo(existing).isDir())
        return false;  // a file where the folder would be
    QTemporaryFile probe(QDir(existing).filePath(QStringLiteral(".tavrin-probe-XXXXXX")));
    return probe.open();
}

}  // namespace

QString programConfigFolder(const QString& programDir)
{
    return QDir(programDir).absoluteFilePath(QStringLiteral("config"));
}

bool usesUserConfigFolder(const QString& programDir)
{
    return !canWriteInto(programConfigFolder(programDir)) &&
           !QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation).isEmpty();
}

QString configFolderFor(const QString& programDir)
{
    if (usesUserConfigFolder(programDir))
        return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    return programConfigFolder(programDir);
}

QString settingsFilePathFor(const QString& programDir)
{
    return QDir(configFolderFor(programDir)).absoluteFilePath(QStringLiteral("render_gui.json"));
}

QString runFilePathFor(const QString& programDir)
{
    return QDir(configFolderFor(programDir)).absoluteFilePath(QStringLiteral("render_qt_run.json"));
}

QString uiStatePathFor(const QString& programDir)
{
    return QDir(configFolderFor(programDir)).absoluteFilePath(QStringLiteral("tavrin.ini"));
}

QJsonObject readStartupSettings(const QString& programDir)
{
    QJsonObject settings = defaultSettings();
    QFile file(QDir(programConfigFolder(programDir)).absoluteFilePath(QStringLiteral("render.json")));
    if (!file.open(QIODevice::ReadOnly))
        return settings;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return settings;

    const QJsonObject stored = document.object();
    for (auto it = stored.begin(); it != stored.end(); ++it)
        settings.insert(it.key(), it.value());
    return settings;
}

bool writeSettingsFile(const QString& path, const QJsonObject& settings, QString* errorText)
{
    QDir().mkpath(QFileInfo(path).absolutePath());

    QSaveFile file(path);
    const auto failed = [&] {
        *errorText = QStringLiteral("无法写入 %1：%2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return failed();
    // QJsonObject keeps its keys sorted, so the file lists them in order.
    const QByteArray text = QJsonDocument(settings).toJson(QJsonDocument::Indented);
    if (file.write(text) != text.size() || !file.commit())
        return failed();
    return true;
}
