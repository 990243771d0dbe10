// The window at its default size, the log view and Qt's own texts.

#include "FrontendTestSupport.h"

#include "LogView.h"
#include "QtTranslations.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>

class WindowLayoutTest : public QObject
{
    Q_OBJECT

private slots:
    void defaultSizeShowsTheWholeForm();
    void statusKeepsItsWidth();
    void logFollowsNewLinesAndColoursProblems();
    void qtDialogsSpeakChinese();
};

void WindowLayoutTest::defaultSizeShowsTheWholeForm()
{
    QTemporaryDir dir;
    MainWindow window(dir.path());
    // The size it takes where the screen has room (SmallScreenTest: where
    // it has not).
    window.resize(1120, 780);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), QSize(1120, 780));

    // No form panel needs its scroll bar, and every angle box is inside its
    // panel's view.
    const QList<QScrollArea*> panels = window.findChildren<QScrollArea*>();
    QCOMPARE(panels.size(), 4);
    for (QScrollArea* panel : panels) {
        QVERIFY2(panel->verticalScrollBar()->maximum() == 0,
                 qPrintable(u"panel needs %1 px more"_s.arg(panel->verticalScrollBar()->maximum())));
        QCOMPARE(panel->horizontalScrollBar()->maximum(), 0);
    }
    auto* angles = widget<QGroupBox>(window, "angleBox");
    QVERIFY(angles->visibleRegion().boundingRect() == angles->rect());

    // The field list shows every field up to about ten, then scrolls; it
    // grows with the room the form gets.
    auto* fields = widget<QListWidget>(window, "fieldList");
    const auto rowsShown = [fields] { return fields->viewport()->height() / fields->sizeHintForRow(0); };
    QStringList names;
    for (int i = 1; i <= 14; ++i)
        names.append(u"F%1"_s.arg(i));
    form(window).fieldPicker()->rebuild(names, {});
    window.resize(1120, 640);
    QTRY_VERIFY(rowsShown() >= 3);
    const int rowsAtStart = rowsShown();
    window.resize(1120, 1000);
    QTRY_VERIFY2(rowsShown() >= 9 && rowsShown() <= 10, qPrintable(QString::number(rowsShown())));
    QVERIFY(fields->verticalScrollBar()->maximum() > 0);
    QVERIFY(rowsShown() > rowsAtStart);
    form(window).fieldPicker()->rebuild(names.mid(0, 6), {});
    QTRY_COMPARE(rowsShown(), 6);
    QCOMPARE(fields->verticalScrollBar()->maximum(), 0);
    window.resize(1120, 780);

    // The log below has room for several lines, and the divider moves.
    auto* log = widget<QPlainTextEdit>(window, "logView");
    auto* divider = widget<QSplitter>(window, "mainSplitter");
    QVERIFY2(log->height() >= 5 * log->fontMetrics().height(), qPrintable(QString::number(log->height())));
    QCOMPARE(divider->orientation(), Qt::Vertical);
    QCOMPARE(divider->indexOf(log->parentWidget()), 1);
}

void WindowLayoutTest::statusKeepsItsWidth()
{
    QTemporaryDir dir;
    writeFakeRenderer(dir.path(),
        "echo '[t][INFO] IMAGE_PROGRESS image=1 total_images=2 frame=1 total_frames=1 elapsed=0.1 eta=0.1 angle=top success=1'\n"
        "echo '[t][INFO] IMAGE_PROGRESS image=12345 total_images=99999 frame=1234 total_frames=9999 elapsed=9.1 "
        "eta=370000.0 angle=top success=1'\n"
        "echo '[t][INFO] RUN_STATE shard_index=11 shard_count=12 resume=1'\n"
        "echo '[t][ERROR] Failed to write image: /a/very/long/path/that/goes/on/and/on/and/on/north.png'\nexit 4");
    MainWindow window(dir.path());
    auto messages = captureMessages(window);
    QDir().mkpath(dir.filePath(u"city"_s));
    writeFile(dir.filePath(u"p.shp"_s), "");
    form(window).loadSettings({{u"osgb_path"_s, dir.filePath(u"city"_s)}, {u"shp_path"_s, dir.filePath(u"p.shp"_s)},
                         {u"output_dir"_s, dir.filePath(u"out"_s)}});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* status = widget<QLabel>(window, "statusLabel");
    auto* bar = widget<QWidget>(window, "imageBar");
    const int statusWidth = status->width();
    const int barWidth = bar->width();

    window.startTask(false);
    QTRY_VERIFY_WITH_TIMEOUT(!window.running(), 15000);
    QCOMPARE(status->width(), statusWidth);
    QCOMPARE(bar->width(), barWidth);
    // A long failure text is cut to the width and whole in the tooltip.
    QVERIFY(status->toolTip().contains(u"north.png"_s));
    QVERIFY(status->fontMetrics().horizontalAdvance(status->text()) <= statusWidth);
}

void WindowLayoutTest::logFollowsNewLinesAndColoursProblems()
{
    LogView log;
    log.resize(400, 200);
    log.show();
    QVERIFY(QTest::qWaitForWindowExposed(&log));
    for (int i = 0; i < 200; ++i)
        log.appendLine(u"[t][INFO] line %1 with some words to wrap when the view is narrow"_s.arg(i));
    QScrollBar* bar = log.verticalScrollBar();
    QCOMPARE(bar->value(), bar->maximum());

    // Narrower: the lines wrap, the range grows, the newest line stays in view.
    log.resize(150, 120);
    QTest::qWait(50);
    log.appendLine(u"[t][WARN] SKIP_FRAME name=A reason=empty"_s);
    log.appendLine(u"[t][ERROR] Failed frame A angle top: boom"_s);
    QTRY_COMPARE(bar->value(), bar->maximum());

    const QTextBlock last = log.document()->lastBlock();
    QCOMPARE(last.charFormat().foreground().color(), LogView::errorColour());
    QCOMPARE(last.previous().charFormat().foreground().color(), LogView::warningColour());
    QVERIFY(last.previous().previous().charFormat().foreground().color() != LogView::warningColour());

    // Scrolled up by the user, it stays where the user is.
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    QTest::qWait(20);
    log.appendLine(u"[t][INFO] one more"_s);
    QCOMPARE(bar->value(), 0);
}

void WindowLayoutTest::qtDialogsSpeakChinese()
{
    QVERIFY(installQtTranslations(*QCoreApplication::instance()));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), u"取消"_s);
}

QTEST_MAIN(WindowLayoutTest)
#include "WindowLayoutTest.moc"
