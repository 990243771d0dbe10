#include "DefaultSettings.h"

#include "core/ConfigKeys.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

QJsonValue toQJsonValue(const nlohmann::json& value)
{
    // Wrapped in an array, any value is a document Qt can read.
    const std::string text = "[" + value.dump() + "]";
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).array().at(0);
}

}  // namespace

QJsonValue defaultSetting(const char* key)
{
    return defaultSettings().value(QLatin1String(key));
}

QJsonObject defaultSettings()
{
    QJsonObject settings;
    for (const vistrel::ConfigKey& key : vistrel::configKeyTable()) {
        if (key.writtenByTavrin)
            settings.insert(QLatin1String(key.name), toQJsonValue(vistrel::tavrinDefault(key)));
    }
    return settings;
}

QString textOrDefault(const QJsonObject& settings, const char* key)
{
    const QString fallback = defaultSetting(key).toString();
    const QJsonValue value = settings.value(QLatin1String(key));
    return value.isString() ? value.toString() : fallback;
}
