// Starting, following and stopping the renderer, with a shell script in its
// place that prints scripted lines and ends with a chosen exit code.

#include "FrontendTestSupport.h"

#include "DefaultSettings.h"
#include "PlanMap.h"
#include "PreviewPane.h"
#include "RendererLocation.h"
#include "RendererRun.h"
#include "RunLogText.h"
#include "RunOutputReader.h"
#include "TimeText.h"

#include "core/PlanProtocol.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QtTest>

#include <cerrno>
#include <csignal>

// Holds the script until the test creates the named file.
static QByteArray waitFor(const char* file)
{
    return QByteArray("while [ ! -f ") + file + " ]; do sleep 0.05; done\n";
}

class RendererRunTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_window.reset(); }
    void timeText();
    void protocolLinesInChinese();
    void outlineImagesCountedWithoutASummary();
    void writesBothFilesAndPassesTheRunFile();
    void progressFromOneChunkOfLines();
    void linesAndCharactersSplitAcrossReads();
    void endOfTheTask_data();
    void endOfTheTask();
    void endBoxLeadsToTheResults();
    void stop_data();
    void stop();
    void runWithoutAWindow();
    void closingDuringARunAsksAndStops();
    void formIsLockedWhileRunning();
    void previewShowsTheLastWrittenImage();
    void shardAndResumeInTheStatus();
    void feedbackWithoutAnAddress();
    void checksBeforeStarting();
    void testExportLeavesTheBatchAlone();
    void resumedRunTimeLeftAndMissingTiles();
    void planMapShowsTheParcelsAndTheirResults();
    void rendererThatCannotStart();
    void closingTheWindowEndsTheRenderer();
    void forcedStopIsConfirmed();
    void runEndingDuringTheCloseQuestion();
    void keyboard();

private:
    QString path(const QString& name) const { return QDir(m_dir->path()).filePath(name); }
    void click(const char* name) { QTest::mouseClick(widget<QPushButton>(*m_window, name), Qt::LeftButton); }
    QStringList log() const;
    QString status() const { return widget<QLabel>(*m_window, "statusLabel")->text(); }
    QString statusToolTip() const { return widget<QLabel>(*m_window, "statusLabel")->toolTip(); }
    bool idle() const;
    bool waitForEnd();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainWindow> m_window;
    std::shared_ptr<QList<UserMessage>> m_messages;
};

void RendererRunTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_window = std::make_unique<MainWindow>(m_dir->path());
    m_messages = captureMessages(*m_window);
    QDir().mkpath(path(u"data/city"_s));
    writeFile(path(u"data/parcels.shp"_s), "");
    widget<QLineEdit>(*m_window, "modelPathEdit")->setText(path(u"data/city"_s));
    widget<QLineEdit>(*m_window, "shapefileEdit")->setText(path(u"data/parcels.shp"_s));
    widget<QLineEdit>(*m_window, "outputDirEdit")->setText(path(u"data/out"_s));
}

QStringList RendererRunTest::log() const
{
    const QString text = widget<QPlainTextEdit>(*m_window, "logView")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(u'\n');
}

bool RendererRunTest::idle() const
{
    return widget<QPushButton>(*m_window, "startButton")->isEnabled()
        && widget<QPushButton>(*m_window, "testButton")->isEnabled()
        && !widget<QPushButton>(*m_window, "stopButton")->isEnabled()
        && m_window->findChild<QProcess*>() == nullptr;
}

// Waits for the "任务结束" message and for the window to be idle again.
bool RendererRunTest::waitForEnd()
{
    return QTest::qWaitFor([this] { return !m_messages->isEmpty() && m_messages->last().title == u"任务结束"_s; }, 15000)
        && QTest::qWaitFor([this] { return idle(); }, 2000);
}

void RendererRunTest::timeText()
{
    // The time text of the status; the other cases show in the runs below.
    QCOMPARE(formatDuration(3725.9), u"01:02:05"_s);
    QCOMPARE(formatDuration(360000), u"100:00:00"_s);
}

void RendererRunTest::protocolLinesInChinese()
{
    const QList<std::pair<QString, QString>> lines = {
        {u"[t][INFO] Wrote /out/A/top.png"_s, u"[t][INFO] 已写出 /out/A/top.png"_s},
        {u"[t][INFO] Wrote HTML report: /out/render_report.html"_s, u"[t][INFO] 已写出报告页：/out/render_report.html"_s},
        {u"[t][WARN] SKIP_FRAME name=A reason=x y"_s, u"[t][WARN] 跳过图斑 A：x y"_s},
        {u"[t][INFO] FRAME_PROGRESS frame=2 total_frames=9 name=宗地 2"_s, u"[t][INFO] 图斑 2/9：宗地 2"_s},
        {u"[t][INFO] IMAGE_PROGRESS image=3 total_images=18 frame=2 total_frames=9 elapsed=1.00 eta=2.00 angle=north "
         "success=0"_s,
         u"[t][INFO] 图片 3/18（图斑 2/9，北侧）未成功"_s},
        {u"[t][INFO] Render finished. Success 5/6, skipped 1, failed 0 (shard 2 of 3, shard_index 1)"_s,
         u"[t][INFO] 完成：成功 5 张，跳过 1 张，失败 0 张（共 6 张），分片 2/3"_s},
        {u"[t][INFO] Render finished. Success 5/6, skipped 1, failed 0, hidden 2, partly outside 1"_s,
         u"[t][INFO] 完成：成功 5 张，跳过 1 张，失败 0 张（共 6 张）；其中图斑大部分被遮挡 2 张，部分在模型范围外 1 张"_s},
        {u"[t][ERROR] Failed to write image: /o/a.png: No space left on device"_s,
         u"[t][ERROR] 图片写入失败：/o/a.png: 磁盘空间不足"_s},
        {u"[t][ERROR] Task failed: filesystem error: create_directories: Permission denied [/out]"_s,
         u"[t][ERROR] 任务出错：文件系统错误：create_directories: 权限不足 [/out]"_s},
        {u"Config error: width and height must be positive."_s, u"配置错误：图片宽度和高度必须为正数。"_s},
        // A frame the pre-check skipped: its image is skipped, not failed.
        {u"[t][INFO] IMAGE_PROGRESS image=4 total_images=18 frame=7 total_frames=9 elapsed=1.00 eta=2.00 angle=top "
         "success=0"_s,
         u"[t][INFO] 图片 4/18（图斑 7/9，正射）跳过"_s},
        // A stopped run names what it did not reach.
        {u"[t][INFO] Render finished. Success 5/40, skipped 0, failed 0, not done 35"_s,
         u"[t][INFO] 已停止：成功 5 张，跳过 0 张，失败 0 张，未完成 35 张（共 40 张）"_s},
        // Informational lines, also the usage on standard error.
        {u"[t][INFO] Loading OSGB/scene: /c/Data/Tile_1/Tile_1.osgb"_s,
         u"[t][INFO] 正在加载 OSGB 模型：/c/Data/Tile_1/Tile_1.osgb"_s},
        {u"[t][INFO] Sampled model heights for 3/4 frames. Z range=(1.5, 20)"_s,
         u"[t][INFO] 已为 3/4 个图斑取得模型高度，高度范围 (1.5, 20)"_s},
        {u"[t][WARN] GDAL: bad ring (and 3 more like it, not logged)"_s,
         u"[t][WARN] GDAL 错误：bad ring（另有 3 条同类消息未记录）"_s},
        {QString::fromUtf8(vistrel::kUsageLine.data()), u"用法：Vistrel <配置文件，如 config/render.json>（或 Vistrel --plan <配置文件>：预检一次任务会做什么）"_s},
        {u"Size: 320x180"_s, u"图片尺寸：320×180"_s},
        // Not of the protocol, or broken: as it came.
        {u"[t][INFO] IMAGE_PROGRESS image=3 total_images=4"_s, u"[t][INFO] IMAGE_PROGRESS image=3 total_images=4"_s},
        {u"  free text "_s, u"  free text "_s},
    };
    for (const auto& [line, chinese] : lines)
        QCOMPARE(logPaneText(line, 7), chinese);
}

// A killed run has no summary line; its images are counted as the summary
// counts them, the outline image beside the vertical view included.
void RendererRunTest::outlineImagesCountedWithoutASummary()
{
    RunOutputReader reader(true);
    const QStringList lines = {
        u"[t][INFO] FRAME_PROGRESS frame=1 total_frames=3 name=A"_s, u"[t][INFO] Wrote /o/A/top.png"_s,
        u"[t][INFO] Wrote /o/A/top_range.png"_s,
        u"[t][INFO] IMAGE_PROGRESS image=1 total_images=6 frame=1 total_frames=3 elapsed=1 eta=1 angle=top success=1"_s,
        u"[t][INFO] Wrote /o/A/north.png"_s,
        u"[t][INFO] IMAGE_PROGRESS image=2 total_images=6 frame=1 total_frames=3 elapsed=1 eta=1 angle=north success=1"_s,
        u"[t][INFO] FRAME_PROGRESS frame=2 total_frames=3 name=B"_s, u"[t][WARN] SKIP_FRAME name=B reason=empty"_s,
        u"[t][INFO] IMAGE_PROGRESS image=3 total_images=6 frame=2 total_frames=3 elapsed=1 eta=1 angle=top success=0"_s,
        u"[t][INFO] IMAGE_PROGRESS image=4 total_images=6 frame=2 total_frames=3 elapsed=1 eta=1 angle=north success=0"_s,
        // The view written, its outline image not.
        u"[t][INFO] FRAME_PROGRESS frame=3 total_frames=3 name=C"_s, u"[t][INFO] Wrote /o/C/top.png"_s,
        u"[t][INFO] IMAGE_PROGRESS image=5 total_images=6 frame=3 total_frames=3 elapsed=1 eta=1 angle=top success=0"_s,
    };
    for (const QString& line : lines)
        reader.readLine(line);
    const RunSummary& run = reader.summary();
    QCOMPARE((QList<int>{run.succeeded, run.skipped, run.failed, run.totalImages}), (QList<int>{4, 3, 1, 9}));
    QCOMPARE(run.skipReasons, QStringList{u"B：empty"_s});
}

void RendererRunTest::writesBothFilesAndPassesTheRunFile()
{
    writeFakeRenderer(m_dir->path(), "echo \"$#\" > argc.txt; printf '%s' \"$1\" > arg.txt; pwd > cwd.txt");
    widget<QSpinBox>(*m_window, "previewSpin")->setValue(7);
    const QString guiFile = m_window->settingsFilePath(), runFile = path(u"config/render_qt_run.json"_s);

    click("testButton");
    QVERIFY(waitForEnd());
    QCOMPARE(readJsonFile(runFile).keys(), defaultSettings().keys());
    QCOMPARE(readJsonFile(runFile)[u"preview_limit"_s].toInt(), 7);
    QCOMPARE(readJsonFile(guiFile)[u"preview_limit"_s].toInt(), 0);
    QCOMPARE(readJsonFile(guiFile)[u"tavrin_preview_limit"_s].toInt(), 7);
    QVERIFY(!readJsonFile(runFile).contains(u"tavrin_preview_limit"_s));
    QCOMPARE(readFile(path(u"argc.txt"_s)), QByteArray("1\n"));
    QCOMPARE(QString::fromUtf8(readFile(path(u"arg.txt"_s))), runFile);
    QCOMPARE(QDir(QString::fromUtf8(readFile(path(u"cwd.txt"_s)).trimmed())).canonicalPath(),
             QDir(m_dir->path()).canonicalPath());

    click("startButton");
    QVERIFY(waitForEnd());
    QCOMPARE(readJsonFile(runFile)[u"preview_limit"_s].toInt(), 0);
}

void RendererRunTest::progressFromOneChunkOfLines()
{
    writeFakeRenderer(m_dir->path(),
        "printf '[t][INFO] FRAME_PROGRESS frame=1 total_frames=2 name=A\\r\\n"
        "[t][INFO] IMAGE_PROGRESS image=1 total_images=4 frame=1 total_frames=2 elapsed=0.40 eta=1.20 angle=top success=1\\r\\n"
        "[t][INFO] IMAGE_PROGRESS image=2 total_images=4 frame=1 total_frames=2 elapsed=0.80 eta=3725.90 angle=north success=1\\r\\n"
        "[t][WARN] SKIP_FRAME name=B reason=empty\\r\\n"
        "[t][INFO] FRAME_PROGRESS frame=2 total_frames=2 name=B\\r\\n"
        "[t][INFO] IMAGE_PROGRESS image=3 total_images=4 frame=2 total_frames=2 elapsed=1.00\\r\\n'\n"
        + waitFor("go"));
    auto* imageBar = widget<QProgressBar>(*m_window, "imageBar");
    auto* frameBar = widget<QProgressBar>(*m_window, "frameBar");
    QList<int> imageValues;
    const auto recording = connect(imageBar, &QProgressBar::valueChanged, this, [&](int v) { imageValues << v; });

    click("startButton");
    QCOMPARE(status(), u"任务启动中..."_s);
    QVERIFY(!widget<QPushButton>(*m_window, "startButton")->isEnabled());
    QVERIFY(widget<QPushButton>(*m_window, "stopButton")->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(log().size(), 7, 15000);
    disconnect(recording);

    // Every line is logged, none empty; only the complete progress lines
    // move the bars, once each, in order.
    QCOMPARE(log().first(), u"==== 开始任务 ===="_s);
    QCOMPARE(log().at(4), u"[t][WARN] 跳过图斑 B：empty"_s);
    QCOMPARE(imageValues, (QList<int>{1, 2}));
    QCOMPARE((QList<int>{imageBar->value(), imageBar->maximum(), frameBar->value(), frameBar->maximum()}),
             (QList<int>{2, 4, 1, 2}));
    QVERIFY2(QRegularExpression(u"^图片 2/4，图斑 1/2，已用 00:00:\\d\\d，预计剩余 01:02:05$"_s).match(status()).hasMatch(),
             qPrintable(status()));
    writeFile(path(u"go"_s), "");
    QVERIFY(waitForEnd());
}

void RendererRunTest::linesAndCharactersSplitAcrossReads()
{
    // "宗" is E5 AE 97: cut after two bytes; then a progress line cut in two;
    // the last line has no line end at all.
    writeFakeRenderer(m_dir->path(),
        "printf '[t][INFO] FRAME_PROGRESS frame=1 total_frames=1 name=\\345\\256'\n" + waitFor("go1")
        + "printf '\\227地\\n[t][INFO] IMAGE_PROGRESS image=1 total_images=2 fra'\n" + waitFor("go2")
        + "printf 'me=1 total_frames=1 elapsed=0.50 eta=0.50 angle=top success=1\\nlast words'");
    click("startButton");
    QSignalSpy chunks(m_window->findChild<QProcess*>(), &QProcess::readyReadStandardOutput);

    // The first chunk has been read: nothing of it is a whole line yet.
    QVERIFY(chunks.wait(15000));
    QCOMPARE(log(), QStringList{u"==== 开始任务 ===="_s});
    writeFile(path(u"go1"_s), "");
    QTRY_COMPARE_WITH_TIMEOUT(log().size(), 2, 15000);
    QCOMPARE(log().at(1), u"[t][INFO] 图斑 1/1：宗地"_s);
    QCOMPARE(log().size(), 2); // the progress line cut in two waits for its end
    QCOMPARE(status(), u"任务启动中..."_s);

    writeFile(path(u"go2"_s), "");
    QVERIFY(waitForEnd());
    QCOMPARE(log().mid(2), (QStringList{u"[t][INFO] 图片 1/2（图斑 1/1，正射）完成"_s,
                                        u"last words"_s, u"==== 任务完成 ===="_s}));
    QCOMPARE(widget<QProgressBar>(*m_window, "imageBar")->value(), 1);
}

void RendererRunTest::endOfTheTask_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("lastLine");
    QTest::addColumn<QString>("statusPattern");
    QTest::addColumn<QStringList>("boxLines");
    QTest::newRow("success")
        << QByteArray("echo '[t][INFO] Render finished. Success 5/6, skipped 1, failed 0'; exit 0")
        << u"==== 任务完成 ===="_s << u"^任务完成，总耗时 00:00:\\d\\d$"_s
        << QStringList{u"任务完成。"_s, u"成功 5 张，跳过 1 张，失败 0 张（共 6 张）"_s};
    // A renderer that prints no summary: the progress lines are counted.
    QTest::newRow("failed image")
        << QByteArray("echo '[t][INFO] IMAGE_PROGRESS image=1 total_images=2 frame=1 total_frames=1 elapsed=0.10 "
                      "eta=0.10 angle=top success=1'\n"
                      "echo '[t][ERROR] Failed to write image: /out/a/north.png: No space left on device'\n"
                      "echo '[t][INFO] IMAGE_PROGRESS image=2 total_images=2 frame=1 total_frames=1 elapsed=0.20 "
                      "eta=0.00 angle=north success=0'; exit 4")
        << u"==== 任务失败，退出码：4 ===="_s << u"^任务失败：图片写入失败：/out/a/north.png"_s
        << QStringList{u"任务失败（退出码 4：渲染器无法启动、有图片或报告写入失败，或 SHP 中有要素无法读取）。"_s,
                       u"原因：图片写入失败：/out/a/north.png: 磁盘空间不足"_s,
                       u"成功 1 张，跳过 0 张，失败 1 张（共 2 张）"_s};
    // The configuration error, not the "Invalid config." logged after it.
    QTest::newRow("configuration error")
        << QByteArray("echo '[t][INFO] Using config: run.json'\n"
                      "echo 'Config error: width and height must be positive.'\n"
                      "echo '[t][ERROR] Invalid config.'; echo 'Usage: Vistrel <config/render.json>'; exit 1")
        << u"==== 任务失败，退出码：1 ===="_s << u"^任务失败：配置错误：图片宽度和高度必须为正数。$"_s
        << QStringList{u"任务失败（退出码 1：配置错误或任务出错）。"_s, u"原因：配置错误：图片宽度和高度必须为正数。"_s};
    // The bounds of newer keys are translated whole, a key named in the middle kept.
    QTest::newRow("finite number")
        << QByteArray("echo 'Config error: oblique_view_angle must be a finite number.'; exit 1")
        << u"==== 任务失败，退出码：1 ===="_s << u"^任务失败：配置错误：oblique_view_angle 必须是有限的数值"_s
        << QStringList{u"任务失败（退出码 1：配置错误或任务出错）。"_s,
                       u"原因：配置错误：oblique_view_angle 必须是有限的数值（不能是 nan 或 inf）。"_s};
    QTest::newRow("size bound")
        << QByteArray("echo 'Config error: width and height must be at most 16384.'; exit 1")
        << u"==== 任务失败，退出码：1 ===="_s << u"^任务失败：配置错误：图片宽度和高度不能超过 16384。$"_s
        << QStringList{u"任务失败（退出码 1：配置错误或任务出错）。"_s, u"原因：配置错误：图片宽度和高度不能超过 16384。"_s};
    QTest::newRow("no polygons") << QByteArray("exit 3") << u"==== 任务失败，退出码：3 ===="_s
                                 << u"^任务失败：SHP 中没有面状图斑$"_s
                                 << QStringList{u"任务失败（退出码 3：SHP 中没有面状图斑）。"_s};
    // Stopped by a signal the user did not send from here (Ctrl+C, a job engine).
    QTest::newRow("stopped") << QByteArray("echo '[t][INFO] Stopped by signal'; exit 5")
                             << u"==== 任务已停止 ===="_s << u"^已停止$"_s << QStringList{u"任务已停止。"_s};
    // A run that ends well having written nothing is no success.
    QTest::newRow("every frame skipped")
        << QByteArray("echo '[t][INFO] FRAME_PROGRESS frame=1 total_frames=1 name=A'\n"
                      "echo '[t][WARN] SKIP_FRAME name=A reason=正射图斑范围内疑似无有效模型'\n"
                      "echo '[t][INFO] IMAGE_PROGRESS image=1 total_images=1 frame=1 total_frames=1 elapsed=0.10 "
                      "eta=0.00 angle=top success=0'\n"
                      "echo '[t][INFO] Render finished. Success 0/1, skipped 1, failed 0'; exit 0")
        << u"==== 任务结束，没有写出任何图片 ===="_s << u"^没有写出任何图片$"_s
        << QStringList{u"没有写出任何图片。"_s,
                       u"原因：1 个图斑都被跳过：图斑范围内没有模型（SHP 与模型可能不重叠，请检查坐标）。"_s,
                       u"成功 0 张，跳过 1 张，失败 0 张（共 1 张）"_s};
    QTest::newRow("no model tiles")
        << QByteArray("echo '[t][ERROR] No root .osgb files found in: /data/city'; exit 0")
        << u"==== 任务结束，没有写出任何图片 ===="_s << u"^没有写出任何图片$"_s
        << QStringList{u"没有写出任何图片。"_s, u"原因：在以下位置找不到根节点 .osgb 文件：/data/city"_s};
}

void RendererRunTest::endOfTheTask()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, lastLine);
    QFETCH(QString, statusPattern);
    QFETCH(QStringList, boxLines);
    writeFakeRenderer(m_dir->path(), script);
    click("startButton");
    QVERIFY(waitForEnd());
    QCOMPARE(log().last(), lastLine);
    QVERIFY2(QRegularExpression(statusPattern).match(statusToolTip()).hasMatch(), qPrintable(statusToolTip()));
    QCOMPARE(m_messages->size(), 1);
    const UserMessage& box = m_messages->last();
    const QMessageBox::Icon icon = lastLine.contains(u"失败"_s) ? QMessageBox::Critical
        : lastLine.contains(u"没有写出"_s)                        ? QMessageBox::Warning
                                                                 : QMessageBox::Information;
    QCOMPARE(box.icon, icon);
    // The renderer's English is kept under "详细信息" when the reason is a translation.
    if (box.text.contains(u"找不到根节点"_s) || box.text.contains(u"图片写入失败"_s))
        QVERIFY2(box.details.startsWith(u"No root .osgb"_s) || box.details.startsWith(u"Failed to write image"_s),
                 qPrintable(box.details));
    const QStringList lines = box.text.split(u'\n');
    QVERIFY2(lines.mid(0, boxLines.size()) == boxLines, qPrintable(box.text));
    QVERIFY2(box.text.contains(u"总耗时 00:00:"_s), qPrintable(box.text));
}

void RendererRunTest::endBoxLeadsToTheResults()
{
    // The output folder is made relative to the run file's folder, as the
    // renderer does; the renderer writes the contact sheet there.
    widget<QLineEdit>(*m_window, "outputDirEdit")->setText(u"../results"_s);
    writeFakeRenderer(m_dir->path(), "mkdir -p results; echo '<html></html>' > results/render_report.html\n"
                                     "echo \"[t][INFO] Wrote HTML report: $PWD/results/render_report.html\"; exit 0");
    auto urls = captureUrls(*m_window);
    click("startButton");
    QVERIFY(waitForEnd());
    const QList<MessageAction> actions = m_messages->last().actions;
    QCOMPARE(actions.size(), 2);
    QCOMPARE(actions[0].label, u"打开输出目录"_s);
    QCOMPARE(actions[1].label, u"打开报告页"_s);
    QVERIFY(actions[0].enabled && actions[1].enabled);
    actions[0].run();
    actions[1].run();
    QCOMPARE(*urls, (QList<QUrl>{QUrl::fromLocalFile(path(u"results"_s)),
                                 QUrl::fromLocalFile(path(u"results/render_report.html"_s))}));

    // A run that writes no contact sheet has its button off, though the
    // page of the run before is still there; "打开输出目录" in the header
    // opens the same folder.
    writeFakeRenderer(m_dir->path(), "exit 0");
    click("startButton");
    QVERIFY(waitForEnd());
    QVERIFY(!m_messages->last().actions[1].enabled);
    click("openOutputButton");
    QCOMPARE(urls->last(), QUrl::fromLocalFile(path(u"results"_s)));
    widget<QLineEdit>(*m_window, "outputDirEdit")->clear();
    click("openOutputButton");
    QCOMPARE(urls->last(), QUrl::fromLocalFile(path(u"output"_s)));

    // A run that wrote dossier sheets offers the book, or else its last sheet.
    widget<QLineEdit>(*m_window, "outputDirEdit")->setText(u"../results"_s);
    writeFakeRenderer(m_dir->path(), "mkdir -p out/a; : > out/a/a_照片.pdf; : > out/照片册.pdf\n"
                                     "echo \"[t][INFO] Wrote $PWD/out/a/a_照片.pdf\"\n"
                                     "echo \"[t][INFO] Wrote $PWD/out/照片册.pdf\"; exit 0");
    click("startButton");
    QVERIFY(waitForEnd());
    const QList<MessageAction> withSheets = m_messages->last().actions;
    QCOMPARE(withSheets.size(), 3);
    QCOMPARE(withSheets[2].label, u"打开照片页"_s);
    withSheets[2].run();
    QCOMPARE(urls->last(), QUrl::fromLocalFile(path(u"out/照片册.pdf"_s)));
}

void RendererRunTest::stop_data()
{
    QTest::addColumn<QByteArray>("trap");
    QTest::addColumn<bool>("killed");
    // Killed, the renderer writes no report; the end says so.
    // The renderer's way: finish the image, write the report, exit 5.
    QTest::newRow("renderer ends its image")
        << QByteArray("trap 'echo got TERM; sleep 0.3; echo \"[t][INFO] Stopped by signal\"; exit 5' TERM")
        << false;
    QTest::newRow("killed after the grace period") << QByteArray("trap 'echo got TERM' TERM") << true;
}

void RendererRunTest::stop()
{
    QFETCH(QByteArray, trap);
    QFETCH(bool, killed);
    m_window->setStopGracePeriod(1500);
    writeFakeRenderer(m_dir->path(), trap + "\necho $$ > pid.txt\necho started\nwhile :; do sleep 0.05; done");
    auto* run = m_window->findChild<RendererRun*>();
    QSignalSpy graceExpired(run, &RendererRun::graceExpired);
    QList<RunEnd> ends;
    connect(run, &RendererRun::finished, this, [&ends](const RunEnd& end) { ends.append(end); });
    click("startButton");
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(u"started"_s), 15000);
    const pid_t pid = readFile(path(u"pid.txt"_s)).trimmed().toInt();

    // The click returns at once: the renderer is still running, asked to stop.
    click("stopButton");
    QVERIFY(m_window->running());
    QCOMPARE(status(), u"正在停止..."_s);
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(u"got TERM"_s), 5000); // SIGTERM first
    if (killed) {
        // Not killed within the grace period (no event is handled between
        // the two checks, so the kill cannot come between them).
        QVERIFY(graceExpired.isEmpty());
        QCOMPARE(::kill(pid, 0), 0);
    }
    QVERIFY(waitForEnd());
    QCOMPARE(graceExpired.size(), killed ? 1 : 0);
    QCOMPARE(ends.size(), 1);
    QCOMPARE(ends.first().outcome, killed ? RunOutcome::Killed : RunOutcome::Stopped);
    QCOMPARE(log().last(), killed ? u"==== 任务已强制结束 ===="_s : u"==== 任务已停止 ===="_s);
    QCOMPARE(status(), killed ? u"已强制结束"_s : u"已停止"_s);
    QCOMPARE(m_messages->last().text.split(u'\n').first(),
             killed ? u"已强制结束，报告未写出"_s : u"任务已停止。"_s);
    QCOMPARE(m_messages->last().icon, killed ? QMessageBox::Warning : QMessageBox::Information);
}

// The run on its own, without a window: its signals carry the lines, the
// images, the progress and the end.
void RendererRunTest::runWithoutAWindow()
{
    writeFakeRenderer(m_dir->path(),
        "echo '[t][INFO] FRAME_PROGRESS frame=1 total_frames=1 name=A'\n"
        "echo '[t][INFO] Wrote /o/A/top.png'\n"
        "echo '[t][INFO] IMAGE_PROGRESS image=1 total_images=1 frame=1 total_frames=1 elapsed=0.1 eta=0 angle=top "
        "success=1'\n"
        "printf 'no line end'; exit 0");
    RendererRun run;
    QSignalSpy lines(&run, &RendererRun::lineRead);
    QSignalSpy progress(&run, &RendererRun::progress);
    QList<WrittenImage> images;
    QList<RunEnd> ends;
    connect(&run, &RendererRun::imageWritten, this, [&images](const WrittenImage& image) { images.append(image); });
    connect(&run, &RendererRun::finished, this, [&ends](const RunEnd& end) { ends.append(end); });
    run.start(path(u"Vistrel"_s), u"run.json"_s, m_dir->path(), false);
    QVERIFY(run.running());
    QTRY_COMPARE_WITH_TIMEOUT(ends.size(), 1, 15000);
    QVERIFY(!run.running());
    QCOMPARE(ends.first().outcome, RunOutcome::Done);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.last().first().toString(), u"no line end"_s);
    QCOMPARE(progress.size(), 1);
    QCOMPARE(images.size(), 1);
    QCOMPARE(images.first().path, u"/o/A/top.png"_s);
    QCOMPARE(images.first().frameName, u"A"_s);
    QCOMPARE(run.summary().succeeded, 1);
}

void RendererRunTest::closingDuringARunAsksAndStops()
{
    m_window->setStopGracePeriod(1500);
    m_window->show();
    writeFakeRenderer(m_dir->path(), "trap 'echo got TERM; sleep 0.3; exit 5' TERM\n"
                                     "echo started\nwhile :; do sleep 0.05; done");
    click("startButton");
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(u"started"_s), 15000);

    // "No" keeps the run and the window.
    m_messages = captureMessages(*m_window, false);
    QVERIFY(!m_window->close());
    QCOMPARE(m_messages->size(), 1);
    QVERIFY(m_messages->first().question);
    QVERIFY(m_window->running() && m_window->isVisible());
    QVERIFY(!m_window->findChild<RendererRun*>()->stopRequested());

    // "Yes" stops the renderer the gentle way and closes once it has ended.
    m_messages = captureMessages(*m_window, true);
    m_window->close();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVisible(), 5000);
    QVERIFY(log().contains(u"got TERM"_s));
    QVERIFY(!m_window->running());
    QCOMPARE(m_messages->size(), 1); // the question; no end box
}

void RendererRunTest::checksBeforeStarting()
{
    click("startButton");
    QCOMPARE(m_messages->size(), 1);
    QCOMPARE(m_messages->first().icon, QMessageBox::Critical);
    QCOMPARE(m_messages->first().title, u"缺少渲染器"_s);
    QCOMPARE(m_messages->first().text, u"找不到 Vistrel："_s + QDir::toNativeSeparators(path(u"Vistrel"_s)));

    writeFakeRenderer(m_dir->path(), "exit 0");
    widget<QLineEdit>(*m_window, "shapefileEdit")->clear();
    click("testButton");
    QCOMPARE(m_messages->size(), 2);
    QCOMPARE(m_messages->last().icon, QMessageBox::Warning);
    QCOMPARE(m_messages->last().title, u"参数不完整"_s);
    QCOMPARE(m_messages->last().text, u"请先选择 SHP。"_s);

    // A model folder that does not exist is named below the paths.
    widget<QLineEdit>(*m_window, "shapefileEdit")->setText(path(u"data/parcels.shp"_s));
    widget<QLineEdit>(*m_window, "modelPathEdit")->setText(path(u"data/town"_s));
    click("startButton");
    QCOMPARE(m_messages->size(), 2);
    auto* problem = widget<QLabel>(*m_window, "pathProblemLabel");
    QVERIFY(problem->isVisibleTo(m_window.get()));
    QCOMPARE(problem->text(), u"找不到 OSGB/3D Tiles 模型："_s + QDir::toNativeSeparators(path(u"data/town"_s)));
    // The report follows the path as it changes.
    auto* model = widget<QLineEdit>(*m_window, "modelPathEdit");
    model->setText(path(u"data/village"_s));
    QCOMPARE(problem->text(), u"找不到 OSGB/3D Tiles 模型："_s + QDir::toNativeSeparators(path(u"data/village"_s)));
    model->setText(path(u"data/city"_s));
    QVERIFY(problem->isHidden());
    QVERIFY(model->styleSheet().isEmpty());

    // A relative output folder is shown as the absolute folder it stands for.
    auto* resolved = widget<QLabel>(*m_window, "outputResolvedLabel");
    QVERIFY(resolved->isHidden());
    widget<QLineEdit>(*m_window, "outputDirEdit")->setText(u"out"_s);
    QVERIFY(!resolved->isHidden());
    QVERIFY2(resolved->text().endsWith(QDir::toNativeSeparators(path(u"config/out"_s))), qPrintable(resolved->text()));

    // Nothing was written or started and the window stays as it was.
    QVERIFY(!QFileInfo::exists(path(u"config"_s)));
    QVERIFY(log().isEmpty());
    QCOMPARE(status(), u"就绪"_s);
    QVERIFY(idle());

    // A renderer beside the front end comes before the build folders.
    const QString programDir = path(u"a/b"_s);
    QDir().mkpath(programDir);
    QDir().mkpath(path(u"a/build-vcpkg/Release"_s));
    writeFile(path(u"a/build-vcpkg/Release/Vistrel"_s), "");
    QCOMPARE(locateRenderer(programDir), path(u"a/build-vcpkg/Release/Vistrel"_s));
    writeFile(programDir + u"/Vistrel"_s, "");
    QCOMPARE(locateRenderer(programDir), programDir + u"/Vistrel"_s);
}

void RendererRunTest::rendererThatCannotStart()
{
    writeFakeRenderer(m_dir->path(), "exit 0", false);
    click("startButton");
    QTRY_VERIFY_WITH_TIMEOUT(!m_messages->isEmpty(), 15000);
    QCOMPARE(m_messages->first().icon, QMessageBox::Critical);
    QCOMPARE(m_messages->first().title, u"无法启动渲染器"_s);
    QVERIFY(m_messages->first().text.contains(path(u"Vistrel"_s)));
    QVERIFY(log().last().startsWith(u"==== 任务失败，无法启动渲染器"_s));
    QCOMPARE(status(), u"任务失败"_s);
    QTRY_VERIFY(idle());

    writeFakeRenderer(m_dir->path(), "echo '[t][INFO] Render finished. Success 1/1, skipped 0, failed 0'");
    click("startButton");
    QVERIFY(waitForEnd());
    QCOMPARE(log().last(), u"==== 任务完成 ===="_s);
}

void RendererRunTest::closingTheWindowEndsTheRenderer()
{
    writeFakeRenderer(m_dir->path(), "echo $$ > pid.txt\necho started\nwhile :; do sleep 0.1; done");
    click("startButton");
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(u"started"_s), 15000);
    const pid_t pid = readFile(path(u"pid.txt"_s)).trimmed().toInt();
    QVERIFY(pid > 0);

    m_window.reset();
    QVERIFY(m_messages->isEmpty());
    QCOMPARE(::kill(pid, 0), -1);
    QCOMPARE(errno, ESRCH);
}

void RendererRunTest::formIsLockedWhileRunning()
{
    writeFakeRenderer(m_dir->path(), "echo started\n" + waitFor("go"));
    const QList<QWidget*> form = {widget<QLineEdit>(*m_window, "modelPathEdit"),
                                  widget<QSpinBox>(*m_window, "widthSpin"),
                                  widget<QWidget>(*m_window, "fieldList"),
                                  widget<QWidget>(*m_window, "angle_top"),
                                  widget<QPushButton>(*m_window, "saveButton")};
    click("startButton");
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(u"started"_s), 15000);
    for (QWidget* part : form)
        QVERIFY2(!part->isEnabled(), qPrintable(part->objectName()));
    QVERIFY(widget<QPushButton>(*m_window, "stopButton")->isEnabled());
    QVERIFY(widget<QPushButton>(*m_window, "openOutputButton")->isEnabled());
    // An empty locked template shows its placeholder lighter than the text
    // of a locked field, as placeholders are when unlocked.
    const auto shade = [](const QPalette& palette, QPalette::ColorGroup group, QPalette::ColorRole role) {
        const QColor c = palette.color(group, role);
        const QColor base = palette.color(group, QPalette::Base);
        return c.alphaF() * c.lightnessF() + (1 - c.alphaF()) * base.lightnessF();
    };
    auto* templateEdit = widget<QLineEdit>(*m_window, "templateEdit");
    QVERIFY(templateEdit->text().isEmpty() && !templateEdit->isEnabled());
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Disabled})
        QVERIFY(shade(templateEdit->palette(), group, QPalette::PlaceholderText)
                > shade(templateEdit->palette(), group, QPalette::Text));
    writeFile(path(u"go"_s), "");
    QVERIFY(waitForEnd());
    for (QWidget* part : form)
        QVERIFY(part->isEnabled());
}

void RendererRunTest::previewShowsTheLastWrittenImage()
{
    // Twelve frames written in one burst, each "top" with its outline image,
    // as the renderer logs them; the CSV report line is no picture.
    QByteArray lines;
    QStringList written;
    for (int frame = 1; frame <= 12; ++frame) {
        const QByteArray number = QByteArray::number(frame);
        lines += "[t][INFO] FRAME_PROGRESS frame=" + number + " total_frames=12 name=宗地" + number + "\n";
        // The second frame named 宗地12 is written to its folder 宗地12_02.
        const QString folder = path(frame == 12 ? u"data/out/宗地12_02"_s : u"data/out/宗地%1"_s.arg(frame));
        QDir().mkpath(folder);
        for (const char* angle : {"top", "top_range"}) {
            QImage picture(640, 360, QImage::Format_RGB32);
            picture.fill(QColor::fromHsv(frame * 25, 200, 200));
            const QString file = folder + u"/"_s + QLatin1String(angle) + u".png"_s;
            QVERIFY(picture.save(file));
            written.append(file);
            lines += "[t][INFO] Wrote " + file.toUtf8() + "\n";
        }
        lines += "[t][INFO] IMAGE_PROGRESS image=" + number + " total_images=12 frame=" + number
            + " total_frames=12 elapsed=1.00 eta=1.00 angle=top success=1\n";
    }
    lines += "[t][INFO] Wrote CSV report: " + path(u"data/out/render_report.csv"_s).toUtf8() + "\n";
    writeFile(path(u"lines.txt"_s), lines);
    writeFakeRenderer(m_dir->path(), "cat lines.txt\n" + waitFor("go"));

    auto* preview = m_window->findChild<PreviewPane*>(u"previewPane"_s);
    QVERIFY(preview);
    QStringList shown;
    connect(preview, &PreviewPane::imageShown, this, [&shown](const QString& file) { shown.append(file); });
    auto urls = captureUrls(*m_window);
    click("startButton");

    // While the run goes on, the newest picture arrives; those that came in
    // while one was loading were skipped, not queued.
    QTRY_COMPARE_WITH_TIMEOUT(preview->shownPath(), written.last(), 15000);
    QVERIFY(!preview->loading());
    QVERIFY2(shown.size() < 12, qPrintable(shown.join(u", "_s)));
    QCOMPARE(preview->caption(), u"宗地12_02 · 范围线正射"_s);
    QTest::mouseClick(preview, Qt::LeftButton);
    QCOMPARE(urls->last(), QUrl::fromLocalFile(written.last()));

    writeFile(path(u"go"_s), "");
    QVERIFY(waitForEnd());
}

void RendererRunTest::shardAndResumeInTheStatus()
{
    writeFakeRenderer(m_dir->path(),
        "echo '[t][INFO] RUN_STATE shard_index=1 shard_count=3 resume=1'\n"
        "echo '[t][INFO] FRAME_PROGRESS frame=1 total_frames=4 name=A'\n"
        "echo '[t][INFO] Resumed /out/A/top.png'\n"
        "echo '[t][INFO] IMAGE_PROGRESS image=1 total_images=4 frame=1 total_frames=4 elapsed=0.00 eta=0.00 angle=top success=1'\n"
        + waitFor("go"));
    click("startButton");
    QTRY_VERIFY_WITH_TIMEOUT(statusToolTip().startsWith(u"图片 1/4，"_s), 15000);
    QVERIFY2(statusToolTip().endsWith(u"（分片 2/3，续跑，已接续 1 张）"_s), qPrintable(statusToolTip()));
    writeFile(path(u"go"_s), "");
    QVERIFY(waitForEnd());
    QVERIFY(m_messages->last().text.contains(u"其中 1 张接续自上次任务。"_s));
}

void RendererRunTest::feedbackWithoutAnAddress()
{
    // No address (whatever the build put in): the button says where to report.
    QDir().mkpath(path(u"config"_s));
    writeFile(path(u"config/tavrin.ini"_s), "[feedback]\naddress=\n");
    auto urls = captureUrls(*m_window);
    click("feedbackButton");
    QCOMPARE(m_messages->size(), 1);
    QVERIFY(m_messages->first().text.contains(u"Reporting problems"_s));
    QVERIFY(urls->isEmpty());

    writeFile(path(u"config/tavrin.ini"_s), "[feedback]\naddress=https://gis.example.org/issues\n");
    click("feedbackButton");
    QCOMPARE(*urls, QList<QUrl>{QUrl(u"https://gis.example.org/issues"_s)});
    writeFile(path(u"config/tavrin.ini"_s), "[feedback]\naddress=gis-support@example.org\n");
    click("feedbackButton");
    QCOMPARE(urls->last(), QUrl(u"mailto:gis-support@example.org"_s));
}

void RendererRunTest::forcedStopIsConfirmed()
{
    m_window->setStopGracePeriod(60000);
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    writeFakeRenderer(m_dir->path(), "trap 'echo got TERM' TERM\necho started\nwhile :; do sleep 0.05; done");
    click("startButton");
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(u"started"_s), 15000);

    // A double click on 停止 asks the renderer to stop once; the second click
    // does not reach 强制停止.
    auto* stop = widget<QPushButton>(*m_window, "stopButton");
    click("stopButton");
    click("stopButton");
    QCOMPARE(stop->text(), u"强制停止"_s);
    QVERIFY(m_messages->isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(u"got TERM"_s), 5000);

    // Then it asks first; "no" keeps the renderer running.
    QTRY_VERIFY_WITH_TIMEOUT(stop->isEnabled(), 5000);
    m_messages = captureMessages(*m_window, false);
    click("stopButton");
    QCOMPARE(m_messages->size(), 1);
    QVERIFY(m_messages->first().question);
    QCOMPARE(m_messages->first().title, u"强制停止"_s);
    QVERIFY(m_window->running() && !log().contains(u"强制结束渲染器。"_s));

    // Esc is 停止, with the same question; killed, no report was written.
    m_messages = captureMessages(*m_window, true);
    QTest::keyClick(m_window.get(), Qt::Key_Escape);
    QVERIFY(waitForEnd());
    QCOMPARE(m_messages->first().title, u"强制停止"_s);
    QCOMPARE(m_messages->last().icon, QMessageBox::Warning);
    QCOMPARE(m_messages->last().text.split(u'\n').first(), u"已强制结束，报告未写出"_s);
}

void RendererRunTest::runEndingDuringTheCloseQuestion()
{
    m_window->show();
    writeFakeRenderer(m_dir->path(), "echo started\n" + waitFor("go"));
    click("startButton");
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(u"started"_s), 15000);

    // The run ends while the question is open: the window closes as asked,
    // without an end box.
    bool endedWhileAsking = false;
    m_window->setMessageHandler([this, &endedWhileAsking](const UserMessage& m) {
        m_messages->append(m);
        writeFile(path(u"go"_s), "");
        endedWhileAsking = QTest::qWaitFor([this] { return !m_window->running(); }, 15000);
        return 0;
    });
    m_window->close();
    QVERIFY(endedWhileAsking);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(m_messages->size(), 1);
    QCOMPARE(m_messages->first().title, u"任务正在运行"_s);
}

void RendererRunTest::keyboard()
{
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    writeFakeRenderer(m_dir->path(), "echo started\n" + waitFor("go"));
    widget<QSpinBox>(*m_window, "previewSpin")->setValue(2);
    const QString runFile = path(u"config/render_qt_run.json"_s);

    const QList<QPair<const char*, QString>> keys = {
        {"startButton", u"F5"_s}, {"testButton", u"Ctrl+T"_s}, {"stopButton", u"Esc"_s}, {"saveButton", u"Ctrl+S"_s}};
    for (const auto& [name, key] : keys)
        QVERIFY2(widget<QPushButton>(*m_window, name)->toolTip().contains(key), name);

    QTest::keyClick(m_window.get(), Qt::Key_S, Qt::ControlModifier);
    QTRY_VERIFY(QFileInfo::exists(path(u"config/render_gui.json"_s)));
    QTest::keyClick(m_window.get(), Qt::Key_T, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(u"started"_s), 15000);
    QCOMPARE(readJsonFile(runFile)[u"preview_limit"_s].toInt(), 2);
    writeFile(path(u"go"_s), "");
    QVERIFY(waitForEnd());
    QFile::remove(path(u"go"_s));
    QTest::keyClick(m_window.get(), Qt::Key_F5);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->running(), 15000);
    QCOMPARE(readJsonFile(runFile)[u"preview_limit"_s].toInt(), 0);

    writeFile(path(u"go"_s), "");
    QVERIFY(waitForEnd());

    // Tab goes through the form as it is read.
    const QStringList expected = {u"modelPathEdit"_s, u"shapefileEdit"_s, u"outputDirEdit"_s, u"widthSpin"_s,
        u"heightSpin"_s, u"formatCombo"_s, u"fieldList"_s, u"fieldUpButton"_s, u"templateEdit"_s,
        u"separatorCombo"_s, u"customSeparatorEdit"_s, u"stripGaussCheck"_s, u"gaussPrefixSpin"_s,
        u"depthTestCheck"_s, u"angle_top"_s, u"avoidOcclusionCheck"_s, u"occlusionStepSpin"_s, u"startButton"_s,
        u"testButton"_s, u"stopButton"_s, u"resumeCheck"_s, u"previewSpin"_s, u"saveButton"_s};
    QStringList chain;
    QWidget* next = widget<QWidget>(*m_window, "modelPathEdit");
    for (int i = 0; i < 200 && (chain.isEmpty() || next->objectName() != chain.first()); ++i, next = next->nextInFocusChain()) {
        if (expected.contains(next->objectName()))
            chain.append(next->objectName());
    }
    QCOMPARE(chain, expected);
}

// A test export writes into <output>/测试导出 with its own journal and
// reports: the batch's files stay byte for byte; a count of 0 is refused.
void RendererRunTest::testExportLeavesTheBatchAlone()
{
    // The renderer's part: it writes its journal and report where output_dir says.
    writeFakeRenderer(m_dir->path(),
                      "dir=$(sed -n 's/^ *\"output_dir\": \"\\(.*\\)\",*$/\\1/p' \"$1\")\n"
                      "mkdir -p \"$dir\" && echo test > \"$dir/journal-0-of-1.jsonl\" && echo t > \"$dir/render_report.csv\"");
    const QString out = path(u"data/out"_s);
    QDir().mkpath(out);
    const QByteArray journal = "{\"batch\": 1}\n", report = "序号,图斑编号\n1,A\n";
    writeFile(out + u"/journal-0-of-1.jsonl"_s, journal);
    writeFile(out + u"/render_report.csv"_s, report);

    widget<QSpinBox>(*m_window, "previewSpin")->setValue(0);
    QVERIFY(!widget<QPushButton>(*m_window, "testButton")->isEnabled());
    m_window->startTask(true);
    QCOMPARE(m_messages->size(), 1);
    QVERIFY2(m_messages->last().text.contains(u"测试导出图斑数"_s), qPrintable(m_messages->last().text));

    widget<QSpinBox>(*m_window, "previewSpin")->setValue(2);
    click("testButton");
    QVERIFY(waitForEnd());
    QCOMPARE(readFile(out + u"/journal-0-of-1.jsonl"_s), journal);
    QCOMPARE(readFile(out + u"/render_report.csv"_s), report);
    QCOMPARE(readFile(out + u"/测试导出/journal-0-of-1.jsonl"_s), QByteArray("test\n"));
    QVERIFY2(m_messages->last().text.contains(u"测试导出：仅前 2 个图斑。"_s), qPrintable(m_messages->last().text));

    // A template that writes the batch into the test folder: no test.
    widget<QLineEdit>(*m_window, "templateEdit")->setText(u"测试导出\\<ZDDM>"_s);
    const qsizetype before = m_messages->size();
    click("testButton");
    QCOMPARE(m_messages->last().title, u"无法测试导出"_s);
    QCOMPARE(m_messages->size(), before + 1);
}

// Images taken over from the run before do not make the time left short;
// missing tiles turn the end box into a warning.
void RendererRunTest::resumedRunTimeLeftAndMissingTiles()
{
    writeFakeRenderer(m_dir->path(),
        "printf '[t][INFO] Resumed /o/A/top.png\\n"
        "[t][INFO] IMAGE_PROGRESS image=1 total_images=4 frame=1 total_frames=4 elapsed=0.01 eta=0.03 angle=top success=1\\n"
        "[t][INFO] Resumed /o/B/top.png\\n"
        "[t][INFO] IMAGE_PROGRESS image=2 total_images=4 frame=2 total_frames=4 elapsed=0.02 eta=0.02 angle=top success=1\\n"
        "[t][INFO] IMAGE_PROGRESS image=3 total_images=4 frame=3 total_frames=4 elapsed=60 eta=20 angle=top success=1\\n'\n"
        + waitFor("go") +
        "printf '[t][INFO] Tiles missing: 21, refused: 0 (and 4 more requests for them, answered without reading); "
        "root tiles left out for their bounds: 0\\n"
        "[t][INFO] Render finished. Success 4/4, skipped 0, failed 0\\n'");
    click("startButton");
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith(u"图片 3/4"_s), 15000);
    // 60 s for the one image rendered: one minute for the one left.
    QVERIFY2(status().contains(u"预计剩余 00:01:00"_s), qPrintable(status()));
    writeFile(path(u"go"_s), "");
    QVERIFY(waitForEnd());
    QCOMPARE(m_messages->last().icon, QMessageBox::Warning);
    QVERIFY2(m_messages->last().text.contains(u"缺失或无法读取的瓦片 21 个"_s), qPrintable(m_messages->last().text));
    QVERIFY2(log().join(u'\n').contains(u"缺失瓦片 21 个"_s), qPrintable(log().join(u'\n')));
}

// The plan's parcels on the map, coloured by overlap, with the count over
// the model and the coordinate-system decision; after the run coloured by
// the report, and a parcel clicked shows its row, its picture and folder.
void RendererRunTest::planMapShowsTheParcelsAndTheirResults()
{
    using namespace vistrel;
    const auto square = [](double x) {
        return std::vector<PlanRing>{{false, {{x, 0}, {x + 10, 0}, {x + 10, 10}, {x, 10}, {x, 0}}}};
    };
    PlanSummary summary;
    summary.frames = 3;
    summary.over = 1;
    summary.partly = 1;
    summary.outside = 1;
    summary.imagesPlanned = 3;
    summary.imagesToRender = 3;
    summary.systems = PlanSystems::Transformed;
    summary.from = "EPSG:4326";
    summary.to = "EPSG:4547";
    std::string plan = "[t][INFO] " + formatLine(PlanTile{1, 1, {0, 0, 25, 10}, 0}) + "\n";
    const PlanOverlap overlaps[] = {PlanOverlap::Over, PlanOverlap::Partly, PlanOverlap::Outside};
    for (int i = 0; i < 3; ++i)
        plan += "[t][INFO] " + formatLine(PlanFrame{i + 1, 3, overlaps[i], std::string(1, char('A' + i)), square(i * 20.0)}) + "\n";
    plan += "[t][INFO] " + formatLine(summary) + "\n";
    writeFile(path(u"plan.txt"_s), QByteArray::fromStdString(plan));
    QDir().mkpath(path(u"data/out/A"_s));
    QImage(32, 24, QImage::Format_RGB32).save(path(u"data/out/A/top.png"_s));
    writeFile(path(u"data/out/render_report.csv"_s),
              "\xEF\xBB\xBF序号,图斑编号,文件夹名称,输出文件夹,最小X,最小Y,最大X,最大Y,最低高程,最高高程,中心高程,"
              "正射图片,正射结果,正射耗时秒,正射遮挡评分,正射相机角度,正射备注\n"
              "1,A,A,A,0,0,1,1,0,0,0,top.png,成功,1.000,0,0,\n"
              "2,B,B,B,0,0,1,1,0,0,0,,跳过,0.000,0,0,\"无模型, 已跳过\"\n"
              "3,C,C,C,0,0,1,1,0,0,0,,失败,0.000,0,0,渲染失败\n");
    writeFakeRenderer(m_dir->path(), "if [ \"$1\" = --plan ]; then cat plan.txt; exit 0; fi\n"
                                     "echo '[t][INFO] Render finished. Success 1/3, skipped 1, failed 1'; exit 4");
    auto* map = widget<PlanMap>(*m_window, "planMap");
    m_window->startPlan();
    QTRY_COMPARE_WITH_TIMEOUT(map->parcelCount(), 3, 15000);
    QTRY_VERIFY(!m_window->planning());
    QCOMPARE(map->parcelColour(1), PlanMap::overlapColour(PlanOverlap::Partly));
    QVERIFY2(widget<QLabel>(*m_window, "planCaption")->text().startsWith(u"2 / 3 个图斑位于模型上"_s),
             qPrintable(widget<QLabel>(*m_window, "planCaption")->text()));
    QCOMPARE(widget<QLabel>(*m_window, "crsNoteLabel")->text(), u"坐标系：图斑从 EPSG:4326 转换到模型的 EPSG:4547"_s);

    click("startButton");
    QVERIFY(waitForEnd());
    QCOMPARE(map->parcelColour(0), PlanMap::resultColour(FrameResult::Written));
    QCOMPARE(map->parcelColour(1), PlanMap::resultColour(FrameResult::Skipped));
    QCOMPARE(map->parcelColour(2), PlanMap::resultColour(FrameResult::Failed));
    QCOMPARE(map->reportRow(1)->text, u"正射 跳过（无模型, 已跳过）"_s);

    auto urls = captureUrls(*m_window);
    emit map->parcelClicked(0);
    QCOMPARE(widget<QLabel>(*m_window, "parcelLabel")->text(), u"A：正射 成功"_s);
    QCOMPARE(*urls, QList<QUrl>{QUrl::fromLocalFile(path(u"data/out/A"_s))});
    auto* preview = widget<PreviewPane>(*m_window, "previewPane");
    QTRY_COMPARE(preview->shownPath(), path(u"data/out/A/top.png"_s));
}

QTEST_MAIN(RendererRunTest)
#include "RendererRunTest.moc"
