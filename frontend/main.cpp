#include "MainWindow.h"
#include "QtTranslations.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tavrin"));
    QApplication::setApplicationName(QStringLiteral("Tavrin"));
    QApplication::setApplicationVersion(QStringLiteral(TAVRIN_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tavrin.png")));
    installQtTranslations(app);

    MainWindow window(QCoreApplication::applicationDirPath());
    window.setWindowIcon(QApplication::windowIcon());
    window.show();
    return app.exec();
}
