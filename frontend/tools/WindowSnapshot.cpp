// Takes pictures of the Tavrin window for the README. Run it under an X
// server (for example Xvfb) from a program folder whose config/render_gui.json
// names the data and which holds Vistrel:
//
//   tavrin_window_snapshot <program folder> <output.png> [seconds]
//   tavrin_window_snapshot <program folder> <output.png> end
//   tavrin_window_snapshot <program folder> <output.png> form
//
// With seconds (10 if left out) it starts 开始批量截图 and takes the picture
// once that time has passed and the preview shows an image; then the task is
// stopped as 停止 does. With "end" it lets the run go to its end and takes
// the picture of the window with the end box over it, as the user sees it
// (the numbers and the buttons after a whole run, the reason after a failed
// one); then the box is closed without pressing any of its buttons. With
// "form" it takes the picture of the window before any run (the layout at
// the screen's size and scaling).
#include "MainWindow.h"
#include "PreviewPane.h"
#include "QtTranslations.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

// The whole screen as the X server shows it, cut to the given rectangle:
// the window and any box over it.
bool saveScreenPart(const QRect& part, const QString& output)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen->grabWindow(0, part.x(), part.y(), part.width(), part.height()).save(output, "PNG");
}

// Waits for the end box, takes the picture and closes the box. Any other box
// (a missing path, a missing renderer) is reported and fails the picture.
void snapshotEndBox(QApplication& app, MainWindow& window, const QString& output)
{
    window.startTask(false);
    auto* poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, &window, [&app, &window, output, poll] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            if (!window.running()) {
                std::fprintf(stderr, "the task ended without an end box\n");
                app.exit(1);
            }
            return;
        }
        poll->stop();
        if (box->windowTitle() != QStringLiteral("任务结束")) {
            std::fprintf(stderr, "unexpected box: %s\n", qPrintable(box->text()));
            box->reject();
            app.exit(1);
            return;
        }
        // Give the box time to be drawn before the screen is read.
        QTimer::singleShot(500, box, [&app, &window, output, box] {
            const bool saved = saveScreenPart(window.frameGeometry().united(box->frameGeometry()), output);
            box->accept();
            QTimer::singleShot(0, &app, [&app, saved] { app.exit(saved ? 0 : 1); });
        });
    });
    poll->start(100);
}

// Takes the picture during the run once the preview shows an image, then
// stops the task.
void snapshotRun(QApplication& app, MainWindow& window, const QString& output, int seconds)
{
    window.setMessageHandler([](const UserMessage&) { return true; });  // no modal boxes in an unattended run
    auto* preview = window.findChild<PreviewPane*>(QStringLiteral("previewPane"));
    window.startTask(false);
    auto* poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, &window, [&app, &window, output, poll, preview] {
        if (!window.running()) {
            std::fprintf(stderr, "the task ended before the picture was taken\n");
            app.exit(1);
            return;
        }
        if (preview->shownPath().isEmpty() || preview->loading())
            return;
        poll->stop();
        const bool saved = saveScreenPart(window.frameGeometry(), output);
        window.stopTask();
        auto* waitEnd = new QTimer(&window);
        QObject::connect(waitEnd, &QTimer::timeout, &window, [&app, &window, saved] {
            if (!window.running())
                app.exit(saved ? 0 : 1);
        });
        waitEnd->start(100);
    });
    QTimer::singleShot(seconds * 1000, &window, [poll] { poll->start(100); });
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: tavrin_window_snapshot <program folder> <output.png> [seconds | end]\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Tavrin");
    QApplication::setApplicationName("Tavrin");
    QApplication::setWindowIcon(QIcon(":/icons/tavrin.png"));
    installQtTranslations(app);
    const QString programDir = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    const bool endBox = argc > 3 && std::strcmp(argv[3], "end") == 0;
    const bool formOnly = argc > 3 && std::strcmp(argv[3], "form") == 0;
    const int seconds = argc > 3 && !endBox && !formOnly ? std::atoi(argv[3]) : 10;

    MainWindow window(programDir);
    window.setWindowIcon(QApplication::windowIcon());
    window.move(0, 0);
    window.show();
    QTimer::singleShot(formOnly ? 1500 : 500, &window, [&] {
        if (formOnly)
            app.exit(saveScreenPart(window.frameGeometry(), output) ? 0 : 1);
        else if (endBox)
            snapshotEndBox(app, window, output);
        else
            snapshotRun(app, window, output, seconds);
    });
    return app.exec();
}
