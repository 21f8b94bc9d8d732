#include "shell/DesktopApp.h"

#include "briefing/AppCoordinator.h"
#include "library/LibraryCommands.h"
#include "linux/instance/DesktopStart.h"
#include "linux/instance/SingleInstance.h"
#include "linux/session/UnixSignalWatcher.h"
#include "linux/speech/SpeechDispatcherEngine.h"
#include "news/NewsService.h"
#include "settings/AppSettings.h"
#include "shell/DesktopShell.h"
#include "shell/LibraryRequests.h"
#include "shell/RemoteCommands.h"
#include "shell/StatusIcon.h"
#include "speech/Speaker.h"
#include "time/Clock.h"

#include <QApplication>

#include <csignal>

namespace vardelle {

namespace {

int runAccessory(SingleInstance& instance)
{
    Speaker::setSharedEngine(std::make_unique<SpeechDispatcherEngine>());

    // The own feeds and the watch list, edited from the settings window and from `vardelle feeds`
    // and `vardelle watch` in a terminal, against this process's preferences.
    LibraryCommands library(AppSettings::shared(), NewsService::shared());
    DesktopShell shell;
    shell.setFeedLibrary(&library);
    // A second start and `vardelle brief` in a terminal reach this process.
    RemoteCommands remote(AppCoordinator::shared(), Speaker::shared(), Clock::system(),
                          [&shell] { shell.reopen(); });
    QObject::connect(&instance, &SingleInstance::requested, &remote, &RemoteCommands::serve);
    LibraryRequests libraryRequests(library);
    remote.serveLibraryWith(&libraryRequests);

    // A logout's SIGTERM and Ctrl+C end the application the way "Quit Vardelle" does, so the
    // bubble's position is kept.
    UnixSignalWatcher interrupts({SIGINT, SIGTERM});
    QObject::connect(&interrupts, &UnixSignalWatcher::received, qApp, &QCoreApplication::quit);

    shell.launch();
    return QApplication::exec();
}

} // namespace

int runDesktop(int& argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vardelle"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARDELLE_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("vardelle"));
    QGuiApplication::setWindowIcon(applicationIcon());
    // An accessory: closing the settings window leaves it running in the tray.
    QGuiApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance;
    return runDesktopOrForward(instance, [&instance] { return runAccessory(instance); });
}

} // namespace vardelle
