#include "shell/DesktopApp.h"

#include "briefing/BriefingServices.h"
#include "library/Library.h"
#include "linux/busy/FullScreenSignal.h"
#include "linux/busy/NotificationInhibitSignal.h"
#include "linux/busy/PortalBannerSignal.h"
#include "linux/desktop/AutostartEntry.h"
#include "linux/instance/DesktopStart.h"
#include "linux/instance/SingleInstance.h"
#include "linux/mpris/MprisService.h"
#include "linux/session/UnixSignalWatcher.h"
#include "linux/speech/SpeechDispatcherEngine.h"
#include "news/BackgroundRefresh.h"
#include "settings/HeadlineSettingsTab.h"
#include "settings/SettingsWindow.h"
#include "shell/DesktopActions.h"
#include "shell/DesktopShell.h"
#include "shell/LibraryRequests.h"
#include "shell/RemoteCommands.h"
#include "shell/StatusIcon.h"
#include "time/Clock.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>

#include <chrono>
#include <csignal>
#include <optional>

namespace vardelle {

namespace {

int runAccessory(SingleInstance& instance)
{
    // Everything is built here, once, and handed down.
    const Clock& clock = Clock::system();
    BriefingServices services(std::make_unique<SpeechDispatcherEngine>(), clock);
    AutostartEntry loginItem;

    // The feeds and the watch list, edited from the settings window and from `vardelle feeds`
    // and `vardelle watch` in a terminal, against this process's preferences.
    Library library(services.settings, services.news);

    DesktopShell shell(services.coordinator, services.settings, services.store, clock);
    shell.setSettingsWindowFactory([&services, &loginItem, &shell, &library] {
        auto window = std::make_unique<SettingsWindow>(services.settings, services.coordinator,
                                                       services.store, services.speaker, loginItem,
                                                       shell.actions());
        window->headlineTab()->setLibrary(&library);
        return window;
    });
    // Automatic briefings wait while do not disturb is on or a full-screen window is in front.
    shell.setBusySignalsFactory([] {
        std::vector<std::unique_ptr<BusySignal>> signs;
        signs.push_back(std::make_unique<NotificationInhibitSignal>());
        signs.push_back(std::make_unique<PortalBannerSignal>());
        signs.push_back(std::make_unique<FullScreenSignal>());
        return signs;
    });
    // The media keys and the sound menu: Play asks for the latest headlines, as a click does.
    MprisService mediaPlayer(services.coordinator,
                             [&shell] { shell.actions().announceLatest()->trigger(); });
    mediaPlayer.registerOn(QDBusConnection::sessionBus());

    // A second start and `vardelle brief` in a terminal reach this process.
    RemoteCommands remote(services.coordinator, [&shell] { shell.reopen(); });
    QObject::connect(&instance, &SingleInstance::requested, &remote, &RemoteCommands::serve);
    LibraryRequests libraryRequests(library);
    remote.serveLibraryWith(&libraryRequests);

    // A logout's SIGTERM and Ctrl+C end the application the way "Quit Vardelle" does, so the
    // bubble's position is kept.
    UnixSignalWatcher interrupts({SIGINT, SIGTERM});
    QObject::connect(&interrupts, &UnixSignalWatcher::received, qApp, &QCoreApplication::quit);

    shell.launch();

    // The feeds' copies are kept fresh between briefings, so that a click speaks at once.
    BackgroundRefresh warm(services.news, clock,
                           [&settings = services.settings] { return settings.activeSources(); });
    warm.setIntervalMinutes(services.settings.backgroundRefreshMinutes());
    QObject::connect(&services.settings, &AppSettings::backgroundRefreshMinutesChanged, &warm,
                     &BackgroundRefresh::setIntervalMinutes);
    if (const SystemEventSource* session = shell.eventSource())
        warm.followSession(*session);
    warm.followNetwork();
    // The catalogue of known exploited vulnerabilities is kept up to date with the feeds, paused
    // when they are; it asks its server at most once every six hours whatever it is told here.
    std::optional<Instant> catalogueLooked;
    QObject::connect(&warm, &BackgroundRefresh::asked, &warm, [&] {
        const Instant now = clock.now();
        if (!services.settings.knownExploited() || services.knownExploited.isUpdating() ||
            (catalogueLooked && now - *catalogueLooked < std::chrono::minutes(30)))
            return;
        catalogueLooked = now;
        services.knownExploited.update();
    });
    warm.start();

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
