// Starting, following and stopping the renderer, with a shell script in its
// place that prints scripted lines and ends with a chosen exit code.

#include "FrontendTestSupport.h"

#include "RendererLocation.h"
#include "TimeText.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
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
    void writesBothFilesAndPassesTheRunFile();
    void progressFromOneChunkOfLines();
    void linesAndCharactersSplitAcrossReads();
    void endOfTheTask_data();
    void endOfTheTask();
    void stop_data();
    void stop();
    void checksBeforeStarting();
    void rendererThatCannotStart();
    void closingTheWindowEndsTheRenderer();

private:
    QString path(const QString& name) const { return QDir(m_dir->path()).filePath(name); }
    void click(const char* name) { QTest::mouseClick(widget<QPushButton>(*m_window, name), Qt::LeftButton); }
    QStringList log() const;
    QString status() const { return widget<QLabel>(*m_window, "statusLabel")->text(); }
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
    widget<QLineEdit>(*m_window, "modelPathEdit")->setText(u"/data/city"_s);
    widget<QLineEdit>(*m_window, "shapefileEdit")->setText(u"/data/parcels.shp"_s);
    widget<QLineEdit>(*m_window, "outputDirEdit")->setText(u"/data/out"_s);
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

void RendererRunTest::writesBothFilesAndPassesTheRunFile()
{
    writeFakeRenderer(m_dir->path(), "echo \"$#\" > argc.txt; printf '%s' \"$1\" > arg.txt; pwd > cwd.txt");
    widget<QSpinBox>(*m_window, "previewSpin")->setValue(7);
    const QString guiFile = path(u"config/render_gui.json"_s), runFile = path(u"config/render_qt_run.json"_s);

    click("testButton");
    QVERIFY(waitForEnd());
    QCOMPARE(readJsonFile(runFile).size(), 37);
    QCOMPARE(readJsonFile(runFile)[u"preview_limit"_s].toInt(), 7);
    QCOMPARE(readJsonFile(guiFile)[u"preview_limit"_s].toInt(), 0);
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
    QVERIFY(log().at(4).endsWith(u"SKIP_FRAME name=B reason=empty"_s));
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

    QTest::qWait(400);
    QCOMPARE(log(), QStringList{u"==== 开始任务 ===="_s});
    writeFile(path(u"go1"_s), "");
    QTRY_COMPARE_WITH_TIMEOUT(log().size(), 2, 15000);
    QCOMPARE(log().at(1), u"[t][INFO] FRAME_PROGRESS frame=1 total_frames=1 name=宗地"_s);
    QTest::qWait(400);
    QCOMPARE(log().size(), 2);
    QCOMPARE(status(), u"任务启动中..."_s);

    writeFile(path(u"go2"_s), "");
    QVERIFY(waitForEnd());
    QCOMPARE(log().mid(2), (QStringList{u"[t][INFO] IMAGE_PROGRESS image=1 total_images=2 frame=1 total_frames=1 "
                                        "elapsed=0.50 eta=0.50 angle=top success=1"_s,
                                        u"last words"_s, u"==== 任务完成 ===="_s}));
    QCOMPARE(widget<QProgressBar>(*m_window, "imageBar")->value(), 1);
}

void RendererRunTest::endOfTheTask_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("lastLine");
    QTest::addColumn<QString>("statusPattern");
    QTest::newRow("success") << 0 << u"==== 任务完成 ===="_s << u"^任务完成，总耗时 00:00:\\d\\d$"_s;
    QTest::newRow("failure") << 4 << u"==== 任务失败，退出码：4 ===="_s << u"^任务失败$"_s;
}

void RendererRunTest::endOfTheTask()
{
    QFETCH(int, exitCode);
    QFETCH(QString, lastLine);
    QFETCH(QString, statusPattern);
    writeFakeRenderer(m_dir->path(), "echo working; exit " + QByteArray::number(exitCode));
    click("startButton");
    QVERIFY(waitForEnd());
    QCOMPARE(log(), (QStringList{u"==== 开始任务 ===="_s, u"working"_s, lastLine}));
    QVERIFY2(QRegularExpression(statusPattern).match(status()).hasMatch(), qPrintable(status()));
    QCOMPARE(m_messages->size(), 1);
    QCOMPARE(m_messages->last().icon, QMessageBox::Information);
    QCOMPARE(m_messages->last().text, status());
}

void RendererRunTest::stop_data()
{
    QTest::addColumn<QByteArray>("trap");
    QTest::addColumn<int>("signal");
    QTest::newRow("terminate") << QByteArray() << int(SIGTERM);
    QTest::newRow("kill after 3 s") << QByteArray("trap '' TERM") << int(SIGKILL);
}

void RendererRunTest::stop()
{
    QFETCH(QByteArray, trap);
    QFETCH(int, signal);
    writeFakeRenderer(m_dir->path(), trap + "\necho started\nwhile :; do sleep 0.1; done");
    click("startButton");
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(u"started"_s), 15000);

    QElapsedTimer timer;
    timer.start();
    click("stopButton");
    QVERIFY(signal == SIGKILL ? timer.elapsed() >= 2900 : timer.elapsed() < 2500);
    QVERIFY(waitForEnd());
    QVERIFY(log().contains(u"正在停止任务..."_s));
    QCOMPARE(log().last(), u"==== 任务失败，退出码：%1 ===="_s.arg(signal));
    QCOMPARE(status(), u"任务失败"_s);
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
    QCOMPARE(m_messages->last().text, u"请先选择 OSGB、SHP 和输出目录。"_s);

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

    writeFakeRenderer(m_dir->path(), "exit 0");
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

QTEST_MAIN(RendererRunTest)
#include "RendererRunTest.moc"
