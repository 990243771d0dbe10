#include "SettingsFile.h"

#include "DefaultSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>

QString settingsFilePathFor(const QString& programDir)
{
    return QDir(programDir).absoluteFilePath(QStringLiteral("config/render_gui.json"));
}

QString runFilePathFor(const QString& programDir)
{
    return QDir(programDir).absoluteFilePath(QStringLiteral("config/render_qt_run.json"));
}

QString uiStatePathFor(const QString& programDir)
{
    return QDir(programDir).absoluteFilePath(QStringLiteral("config/tavrin.ini"));
}

QJsonObject readStartupSettings(const QString& programDir)
{
    QJsonObject settings = defaultSettings();

    QString path = settingsFilePathFor(programDir);
    if (!QFileInfo::exists(path))
        path = QDir(programDir).absoluteFilePath(QStringLiteral("config/render.json"));

    QFile file(path);
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

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *errorText = file.errorString();
        return false;
    }
    // QJsonObject keeps its keys sorted, so the file lists them in order.
    const QByteArray text = QJsonDocument(settings).toJson(QJsonDocument::Indented);
    if (file.write(text) != text.size() || !file.flush()) {
        *errorText = file.errorString();
        return false;
    }
    return true;
}
