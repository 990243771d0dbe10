// The window runs the real renderer on the sample city: a test export of two
// frames, two angles each, at a tiny size.

#include "FrontendTestSupport.h"

#include "PlanMap.h"
#include "PreviewPane.h"

#include <QDirIterator>
#include <QtEndian>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void testExportOfTwoFrames();
    void stopWritesTheReportOfTheImagesDone();
    void framesAwayFromTheModelWriteNothing();
};

namespace {

const QString kRenderer = QStringLiteral(VISTREL_BIN_DIR "/Vistrel");
const QString kCity = QStringLiteral(VISTREL_SAMPLE_DIR "/city");
const QString kParcels = QStringLiteral(VISTREL_SAMPLE_DIR "/parcels.shp");

bool ended(const QList<UserMessage>& messages)
{
    return !messages.isEmpty() && messages.last().title == u"任务结束"_s;
}

// The sample's parcels moved 5 km east, off the model: the polygons of the
// .shp (type 5) are shifted in place, the other files copied.
QString shiftedParcels(const QString& folder)
{
    for (const char* suffix : {".shx", ".dbf", ".prj", ".cpg"}) {
        const QString from = QString(kParcels).replace(u".shp"_s, QLatin1String(suffix));
        QFile::copy(from, folder + u"/away"_s + QLatin1String(suffix));
    }
    QByteArray shp = readFile(kParcels);
    const auto shiftX = [&shp](qsizetype at) {
        double x;
        memcpy(&x, shp.constData() + at, 8);
        x += 5000.0;
        memcpy(shp.data() + at, &x, 8);
    };
    shiftX(36); // file bounding box
    shiftX(52);
    for (qsizetype record = 100; record + 8 < shp.size();) {
        const qsizetype content = record + 8;
        const qint32 words = qFromBigEndian<qint32>(shp.constData() + record + 4);
        shiftX(content + 4); // record bounding box
        shiftX(content + 20);
        const qint32 parts = qFromLittleEndian<qint32>(shp.constData() + content + 36);
        const qint32 points = qFromLittleEndian<qint32>(shp.constData() + content + 40);
        for (qint32 p = 0; p < points; ++p)
            shiftX(content + 44 + 4 * parts + 16 * p);
        record = content + 2 * qsizetype(words);
    }
    writeFile(folder + u"/away.shp"_s, shp);
    return folder + u"/away.shp"_s;
}

} // namespace

void EndToEndTest::testExportOfTwoFrames()
{
    const QString renderer = kRenderer, city = kCity, parcels = kParcels;
    for (const QString& needed : {renderer, city, parcels})
        QVERIFY2(QFileInfo::exists(needed), qPrintable(u"missing: "_s + needed));

    QTemporaryDir programDir;
    QVERIFY(QFile::link(renderer, programDir.filePath(u"Vistrel"_s)));
    const QString output = programDir.filePath(u"output"_s);
    MainWindow window(programDir.path());
    auto messages = captureMessages(window);
    form(window).loadSettings({{u"osgb_path"_s, city}, {u"shp_path"_s, parcels}, {u"output_dir"_s, output},
                         {u"width"_s, 160}, {u"height"_s, 120}, {u"warmup_frames"_s, 0}, {u"preview_limit"_s, 2},
                         {u"angles"_s, QJsonArray{u"top"_s, u"north"_s}}, {u"output_top_range"_s, false}});
    // The plan first: every parcel of the sample lies over the model.
    auto* map = widget<PlanMap>(window, "planMap");
    window.startPlan();
    QVERIFY(QTest::qWaitFor([&] { return !window.planning(); }, 60000));
    QCOMPARE(map->parcelCount(), 20);
    QVERIFY2(widget<QLabel>(window, "planCaption")->text().startsWith(u"20 / 20 个图斑位于模型上"_s),
             qPrintable(widget<QLabel>(window, "planCaption")->text()));
    QVERIFY(!QFileInfo::exists(output));
    QTest::mouseClick(widget<QPushButton>(window, "testButton"), Qt::LeftButton);

    const bool done = QTest::qWaitFor([&] { return ended(*messages); }, 300000);
    const QString log = widget<QPlainTextEdit>(window, "logView")->toPlainText();
    QVERIFY2(done && log.contains(u"==== 任务完成 ===="_s), qPrintable(log.right(4000)));
    QVERIFY(widget<QLabel>(window, "statusLabel")->text().startsWith(u"任务完成，总耗时 "_s));
    auto* frameBar = widget<QProgressBar>(window, "frameBar");
    auto* imageBar = widget<QProgressBar>(window, "imageBar");
    QCOMPARE((QList<int>{frameBar->value(), frameBar->maximum(), imageBar->value(), imageBar->maximum()}),
             (QList<int>{2, 2, 4, 4}));

    QStringList images;
    for (QDirIterator it(output, {u"*.png"_s}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        images.append(it.next());
    QCOMPARE(images.size(), 4);
    QVERIFY2(messages->last().text.contains(u"成功 4 张，跳过 0 张，失败 0 张（共 4 张）\n测试导出：仅前 2 个图斑。"_s),
             qPrintable(messages->last().text));
    // The log pane reads in Chinese.
    QVERIFY2(log.contains(u"][INFO] 图片 4/4（图斑 2/2，正射）完成"_s) && log.contains(u"][INFO] 已写出 "_s)
                 && !log.contains(u"IMAGE_PROGRESS"_s),
             qPrintable(log.right(2000)));
    // Every line the renderer logged reads in Chinese, the informational
    // ones included.
    static const QRegularExpression chinese(u"[\u4e00-\u9fff]"_s);
    for (const QString& line : log.split(u'\n')) {
        if (line.contains(u"][INFO] "_s) || line.contains(u"][WARN] "_s))
            QVERIFY2(line.section(u"] "_s, 1).contains(chinese), qPrintable(line));
    }
    // The test wrote into its own folder.
    QVERIFY2(images.first().startsWith(output + u"/测试导出/"_s), qPrintable(images.first()));
    // The map shows the two parcels of the test by their results.
    QVERIFY(map->reportRow(0) && map->reportRow(0)->result == FrameResult::Written);
    QVERIFY(map->reportRow(1) && map->reportRow(1)->result == FrameResult::Written);
    // The contact sheet is on by default and its button leads to it.
    QVERIFY(messages->last().actions.size() == 2 && messages->last().actions[1].enabled);

    // The preview ends on the last image written: the second frame's
    // vertical view (the angles go in key order: north, top).
    auto* preview = window.findChild<PreviewPane*>(u"previewPane"_s);
    QTRY_VERIFY(!preview->loading());
    QVERIFY2(images.contains(preview->shownPath()) && preview->shownPath().endsWith(u"_0002/top.png"_s),
             qPrintable(preview->shownPath()));
    QVERIFY2(preview->caption().endsWith(u" · 正射"_s), qPrintable(preview->caption()));
}

void EndToEndTest::stopWritesTheReportOfTheImagesDone()
{
    QTemporaryDir programDir;
    QVERIFY(QFile::link(kRenderer, programDir.filePath(u"Vistrel"_s)));
    const QString output = programDir.filePath(u"output"_s);
    MainWindow window(programDir.path());
    auto messages = captureMessages(window);
    // Slow enough to be stopped in the middle: every frame, five views each.
    form(window).loadSettings({{u"osgb_path"_s, kCity}, {u"shp_path"_s, kParcels}, {u"output_dir"_s, output},
                         {u"width"_s, 480}, {u"height"_s, 360}, {u"warmup_frames"_s, 20},
                         {u"angles"_s, QJsonArray{u"top"_s, u"north"_s, u"south"_s, u"east"_s, u"west"_s}}});
    QTest::mouseClick(widget<QPushButton>(window, "startButton"), Qt::LeftButton);
    auto* log = widget<QPlainTextEdit>(window, "logView");
    QVERIFY(QTest::qWaitFor([&] { return log->toPlainText().contains(u"][INFO] 图片 2/"_s) || ended(*messages); },
                            300000));
    QVERIFY2(!ended(*messages), "the run ended before it could be stopped");
    QTest::mouseClick(widget<QPushButton>(window, "stopButton"), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return ended(*messages); }, 120000));

    const QString text = log->toPlainText();
    QCOMPARE(widget<QLabel>(window, "statusLabel")->text(), u"已停止"_s);
    QVERIFY(text.endsWith(u"==== 任务已停止 ===="_s));
    QVERIFY2(text.contains(u"收到停止请求，已停止"_s), qPrintable(text.right(600)));
    QVERIFY(!text.contains(u"完成：成功 100 张"_s));
    const QByteArray report = readFile(output + u"/render_report.csv"_s);
    QVERIFY2(report.contains("441302001001GB00012"), report.left(400).constData());
    QVERIFY2(report.contains("未完成"), report.left(400).constData());
}

// A shapefile that does not overlap the model: Vistrel refuses to render
// (exit 6), and the end box says that nothing was written and why.
void EndToEndTest::framesAwayFromTheModelWriteNothing()
{
    QTemporaryDir programDir;
    QVERIFY(QFile::link(kRenderer, programDir.filePath(u"Vistrel"_s)));
    MainWindow window(programDir.path());
    auto messages = captureMessages(window);
    form(window).loadSettings({{u"osgb_path"_s, kCity}, {u"shp_path"_s, shiftedParcels(programDir.path())},
                         {u"output_dir"_s, programDir.filePath(u"output"_s)}, {u"width"_s, 160}, {u"height"_s, 120},
                         {u"warmup_frames"_s, 0}, {u"angles"_s, QJsonArray{u"top"_s}}});
    QTest::mouseClick(widget<QPushButton>(window, "startButton"), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return ended(*messages); }, 300000));

    const UserMessage& box = messages->last();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QVERIFY2(box.text.startsWith(u"没有写出任何图片（退出码 6："_s), qPrintable(box.text));
    QVERIFY2(box.text.contains(u"检查坐标系、度带前缀或偏移"_s), qPrintable(box.text));
    QVERIFY2(box.text.contains(u"成功 0 张"_s) && !box.text.contains(u"任务完成"_s), qPrintable(box.text));
    QVERIFY(!box.details.isEmpty());
    QCOMPARE(widget<QLabel>(window, "statusLabel")->text(), u"没有写出任何图片"_s);
}

QTEST_MAIN(EndToEndTest)
#include "EndToEndTest.moc"
