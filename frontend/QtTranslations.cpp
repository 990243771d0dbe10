#include "QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool installQtTranslations(QCoreApplication& app)
{
    // The program speaks Chinese whatever the system's language; a Chinese
    // locale (zh_TW, zh_HK, ...) picks its own variant.
    const QLocale system = QLocale::system();
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);

    auto* translator = new QTranslator(&app);
    const bool loaded = (system.language() == QLocale::Chinese &&
                         translator->load(system, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) ||
                        translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"), folder);
    if (!loaded) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
