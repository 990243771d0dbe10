// The window at its start size on a 1366 x 768 screen with a task bar, at
// 100 % and 125 % scaling: the offscreen platform is given a screen of the
// free area (768 less a 40 px task bar) before the application starts.

#include "FrontendTestSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

class SmallScreenTest : public QObject
{
    Q_OBJECT

private slots:
    void windowAndWidgetsFitTheScreen();
};

void SmallScreenTest::windowAndWidgetsFitTheScreen()
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QTemporaryDir dir;
    MainWindow window(dir.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.move(screen.topLeft() + (window.pos() - window.frameGeometry().topLeft()));
    QTRY_VERIFY2(screen.contains(window.frameGeometry()),
                 qPrintable(u"window %1x%2 at %3,%4 on %5x%6"_s.arg(window.frameGeometry().width())
                                .arg(window.frameGeometry().height()).arg(window.frameGeometry().x())
                                .arg(window.frameGeometry().y()).arg(screen.width()).arg(screen.height())));

    // Every shown widget lies inside the window (a scroll area shows what
    // its view holds; widgets scrolled out of it are not counted).
    const QRect inside = window.rect();
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (!child->isVisible() || child->isWindow() || child->visibleRegion().isEmpty())
            continue;
        const QRect shown = child->visibleRegion().boundingRect().translated(child->mapTo(&window, QPoint()));
        QVERIFY2(inside.contains(shown),
                 qPrintable(u"%1 (%2) reaches out of the window"_s.arg(child->objectName(),
                                                                       QLatin1String(child->metaObject()->className()))));
    }

    // The fields of every job are whole without scrolling; the others wait
    // in closed sections.
    for (const char* name : {"modelPathEdit", "shapefileEdit", "outputDirEdit", "widthSpin", "heightSpin", "formatCombo",
                             "fieldList", "templateEdit", "angleBox", "startButton", "testButton"}) {
        auto* everyday = widget<QWidget>(window, name);
        QVERIFY2(everyday->visibleRegion().boundingRect() == everyday->rect(), name);
    }

    // The template's placeholder is not cut.
    auto* templateEdit = widget<QLineEdit>(window, "templateEdit");
    QVERIFY(templateEdit->fontMetrics().horizontalAdvance(templateEdit->placeholderText())
            <= templateEdit->width() - 8);
}

// A screen of the given scaling; the rest as QTEST_MAIN.
int main(int argc, char* argv[])
{
    // Windows scales by the screen's dots per inch: 120 for 125 %.
    const int dpi = qRound(96 * qEnvironmentVariable("TAVRIN_TEST_SCALE", u"1"_s).toDouble());
    QTemporaryDir configDir;
    const QString config = configDir.filePath(u"screens.json"_s);
    writeFile(config, u"{\"screens\": [{\"name\": \"small\", \"x\": 0, \"y\": 0, \"width\": 1366, "
                      u"\"height\": 728, \"logicalDpi\": %1, \"logicalBaseDpi\": 96}]}"_s.arg(dpi).toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toUtf8());
    QApplication app(argc, argv);
    SmallScreenTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SmallScreenTest.moc"
