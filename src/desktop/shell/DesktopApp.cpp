#include "shell/DesktopApp.h"

#include "linux/SpeechDispatcherEngine.h"
#include "linux/UnixSignalWatcher.h"
#include "shell/AppDelegate.h"
#include "shell/StatusIcon.h"
#include "speech/Speaker.h"

#include <QApplication>

#include <csignal>

namespace vardelle {

int runDesktop(int& argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vardelle"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARDELLE_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("vardelle"));
    QGuiApplication::setWindowIcon(applicationIcon());
    // An accessory: closing the settings window leaves it running in the tray.
    QGuiApplication::setQuitOnLastWindowClosed(false);

    Speaker::setSharedEngine(std::make_unique<SpeechDispatcherEngine>());

    AppDelegate delegate;
    // A logout's SIGTERM and Ctrl+C end the application the way "Quit Vardelle" does, so the
    // bubble's position is kept.
    UnixSignalWatcher interrupts({SIGINT, SIGTERM});
    QObject::connect(&interrupts, &UnixSignalWatcher::received, &app, &QCoreApplication::quit);

    delegate.launch();
    return QApplication::exec();
}

} // namespace vardelle
