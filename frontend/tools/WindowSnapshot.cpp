// Takes a picture of the Tavrin window while it runs a task, for the README.
// Run it under an X server (for example Xvfb) from a program folder whose
// config/render_gui.json names the data and which holds Vistrel:
//
//   tavrin_window_snapshot <program folder> <output.png> [seconds]
//
// The picture is taken once the given seconds have passed and the preview
// shows an image; then the task is stopped as 停止 does.
#include "MainWindow.h"
#include "PreviewPane.h"
#include "QtTranslations.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: tavrin_window_snapshot <program folder> <output.png> [seconds]\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Tavrin");
    QApplication::setApplicationName("Tavrin");
    QApplication::setWindowIcon(QIcon(":/icons/tavrin.png"));
    installQtTranslations(app);
    const QString programDir = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 10;

    MainWindow window(programDir);
    window.setMessageHandler([](const UserMessage&) { return true; }); // no modal boxes in an unattended run
    window.setWindowIcon(QApplication::windowIcon());
    window.move(0, 0);
    window.show();
    auto* preview = window.findChild<PreviewPane*>(QStringLiteral("previewPane"));

    bool saved = false;
    QTimer::singleShot(500, &window, [&window] { window.startTask(false); });
    auto* poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, &window, [&] {
        if (!window.running()) {
            std::fprintf(stderr, "the task ended before the picture was taken\n");
            app.exit(1);
            return;
        }
        if (preview->shownPath().isEmpty() || preview->loading())
            return;
        poll->stop();
        // The whole screen as the X server shows it, cut to the window.
        QScreen* screen = QGuiApplication::primaryScreen();
        const QRect frame = window.frameGeometry();
        const QPixmap shot = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        saved = shot.save(output, "PNG");
        window.stopTask();
        auto* waitEnd = new QTimer(&window);
        QObject::connect(waitEnd, &QTimer::timeout, &window, [&] {
            if (!window.running())
                app.exit(saved ? 0 : 1);
        });
        waitEnd->start(100);
    });
    QTimer::singleShot(seconds * 1000, &window, [poll] { poll->start(100); });
    return app.exec();
}
