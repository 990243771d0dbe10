// Takes a picture of the Tavrin window while it runs a task, for the README.
// Run it under an X server (for example Xvfb) from a program folder whose
// config/render_gui.json names the data and which holds Vistrel:
//
//   tavrin_window_snapshot <program folder> <output.png> [seconds]
#include "MainWindow.h"

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
    const QString programDir = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 10;

    MainWindow window(programDir);
    window.setMessageHandler([](const UserMessage&) { return false; });  // no modal boxes in an unattended run
    window.setWindowIcon(QApplication::windowIcon());
    window.move(0, 0);
    window.show();
    QTimer::singleShot(500, &window, [&window] { window.startTask(false); });
    QTimer::singleShot(seconds * 1000, &window, [&] {
        // The whole screen as the X server shows it, cut to the window.
        QScreen* screen = QGuiApplication::primaryScreen();
        const QRect frame = window.frameGeometry();
        const QPixmap shot = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        const bool saved = shot.save(output, "PNG");
        window.stopTask();
        app.exit(saved ? 0 : 1);
    });
    return app.exec();
}
