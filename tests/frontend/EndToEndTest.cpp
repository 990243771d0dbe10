// The window runs the real renderer on the sample city: a test export of two
// frames, two angles each, at a tiny size.

#include "FrontendTestSupport.h"

#include <QDirIterator>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void testExportOfTwoFrames();
};

void EndToEndTest::testExportOfTwoFrames()
{
    const QString renderer = QStringLiteral(VISTREL_BIN_DIR "/Vistrel");
    const QString city = QStringLiteral(VISTREL_SAMPLE_DIR "/city");
    const QString parcels = QStringLiteral(VISTREL_SAMPLE_DIR "/parcels.shp");
    for (const QString& needed : {renderer, city, parcels})
        QVERIFY2(QFileInfo::exists(needed), qPrintable(u"missing: "_s + needed));

    QTemporaryDir programDir;
    QVERIFY(QFile::link(renderer, programDir.filePath(u"Vistrel"_s)));
    const QString output = programDir.filePath(u"output"_s);
    MainWindow window(programDir.path());
    auto messages = captureMessages(window);
    window.loadSettings({{u"osgb_path"_s, city}, {u"shp_path"_s, parcels}, {u"output_dir"_s, output},
                         {u"width"_s, 160}, {u"height"_s, 120}, {u"warmup_frames"_s, 0}, {u"preview_limit"_s, 2},
                         {u"angles"_s, QJsonArray{u"top"_s, u"north"_s}}, {u"output_top_range"_s, false}});
    QTest::mouseClick(widget<QPushButton>(window, "testButton"), Qt::LeftButton);

    const bool ended =
        QTest::qWaitFor([&] { return !messages->isEmpty() && messages->last().title == u"任务结束"_s; }, 300000);
    const QString log = widget<QPlainTextEdit>(window, "logView")->toPlainText();
    QVERIFY2(ended && log.contains(u"==== 任务完成 ===="_s), qPrintable(log.right(4000)));
    QVERIFY(widget<QLabel>(window, "statusLabel")->text().startsWith(u"任务完成，总耗时 "_s));
    auto* frameBar = widget<QProgressBar>(window, "frameBar");
    auto* imageBar = widget<QProgressBar>(window, "imageBar");
    QCOMPARE((QList<int>{frameBar->value(), frameBar->maximum(), imageBar->value(), imageBar->maximum()}),
             (QList<int>{2, 2, 4, 4}));

    int images = 0;
    for (QDirIterator it(output, {u"*.png"_s}, QDir::Files, QDirIterator::Subdirectories); it.hasNext(); it.next())
        ++images;
    QCOMPARE(images, 4);
}

QTEST_MAIN(EndToEndTest)
#include "EndToEndTest.moc"
