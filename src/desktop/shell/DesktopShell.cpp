#include "shell/DesktopShell.h"

#include "briefing/AppCoordinator.h"
#include "bubble/BubbleController.h"
#include "bubble/BubblePanel.h"
#include "linux/desktop/AutostartEntry.h"
#include "linux/session/LogindEventSource.h"
#include "settings/AppSettings.h"
#include "settings/HeadlineSettingsTab.h"
#include "settings/SettingsWindow.h"
#include "shell/StatusIcon.h"
#include "speech/Speaker.h"
#include "store/HeadlineStore.h"
#include "system/SystemEventMonitor.h"
#include "time/Clock.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QLoggingCategory>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace vardelle {

namespace {

// Off unless asked for (QT_LOGGING_RULES="vardelle.shell.debug=true"): every state the shell
// shows, for following a session from the terminal.
Q_LOGGING_CATEGORY(shellLog, "vardelle.shell", QtWarningMsg)

const char* stateName(AnnouncerState::Kind kind)
{
    switch (kind) {
    case AnnouncerState::Kind::idle:
        return "idle";
    case AnnouncerState::Kind::gathering:
        return "gathering";
    case AnnouncerState::Kind::speaking:
        return "speaking";
    case AnnouncerState::Kind::failed:
        return "failed";
    }
    return "unknown";
}

} // namespace

const QString DesktopShell::announceLatestTitle = QStringLiteral("Announce Latest Headlines");
const QString DesktopShell::announceTodayTitle = QStringLiteral("Announce Everything from Today");
const QString DesktopShell::stopSpeakingTitle = QStringLiteral("Stop Speaking");
const QString DesktopShell::showBubbleTitle = QStringLiteral("Show Bubble");
const QString DesktopShell::hideBubbleTitle = QStringLiteral("Hide Bubble");
const QString DesktopShell::settingsTitle = QStringLiteral("Settings\u2026");
const QString DesktopShell::quitTitle = QStringLiteral("Quit Vardelle");

DesktopShell::DesktopShell(AppCoordinator& coordinator, AppSettings& settings, HeadlineStore& store,
                           Speaker& speaker, const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_coordinator(coordinator)
    , m_settings(settings)
    , m_store(store)
    , m_speaker(speaker)
    , m_clock(clock)
{
}

// The coordinator first, then the settings, as their shared instances come to be.
DesktopShell::DesktopShell(QObject* parent)
    : DesktopShell(AppCoordinator::shared(), AppSettings::shared(), HeadlineStore::shared(),
                   Speaker::shared(), Clock::system(), parent)
{
}

DesktopShell::~DesktopShell() = default;

void DesktopShell::launch()
{
    if (m_launched)
        return;
    m_launched = true;

    // 1. The tray icon and its menu.
    m_tray = new QSystemTrayIcon(statusIcon(AnnouncerState::Kind::idle), this);
    m_tray->setToolTip(QStringLiteral("Vardelle"));
    buildStatusMenu();
    m_tray->setContextMenu(m_menu.get());
    // A left click opens the same menu: the icon has no action of its own.
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    m_menu->popup(QCursor::pos());
            });
    m_tray->show();

    // 2. The bubble.
    m_bubble = std::make_unique<BubbleController>(m_coordinator, m_settings, m_store, m_clock);
    if (m_screenAreas)
        m_bubble->setScreenAreas(m_screenAreas);
    QPointer<DesktopShell> self(this);
    m_bubble->setOpenSettingsHandler([self] {
        if (self)
            self->showSettings();
    });
    m_bubble->setQuitHandler([self] {
        if (self)
            self->requestQuit();
    });

    // 3. Shown unless the user hid it.
    if (!m_settings.bubbleHidden())
        m_bubble->show();

    // 4. Unlock and wake ask for a briefing; the coordinator decides whether one is due.
    auto source = m_makeEventSource ? m_makeEventSource() : std::make_unique<LogindEventSource>();
    m_eventMonitor = std::make_unique<SystemEventMonitor>(
        [self](AnnounceReason reason) {
            if (!self)
                return;
            QMetaObject::invokeMethod(
                self, [self, reason] { self->m_coordinator.announce(reason, std::nullopt); },
                Qt::QueuedConnection);
        },
        std::move(source));
    m_eventMonitor->start();

    // 5. The tray icon follows every state the coordinator publishes, the current one first.
    connect(&m_coordinator, &AppCoordinator::stateChanged, this, &DesktopShell::showState);
    showState(m_coordinator.state());

    // 6. The launch briefing, if the coordinator finds one due.
    QMetaObject::invokeMethod(
        this, [this] { m_coordinator.announce(AnnounceReason::launch, std::nullopt); },
        Qt::QueuedConnection);

    // 7. The first run opens the settings window once.
    if (m_settings.isFirstRun()) {
        m_settings.setIsFirstRun(false);
        showSettings();
    }

    // However the application ends, the bubble keeps its place.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &DesktopShell::terminate);
}

void DesktopShell::buildStatusMenu()
{
    m_menu = std::make_unique<QMenu>();
    m_menu->addAction(announceLatestTitle, this, &DesktopShell::announceNow);
    m_menu->addAction(announceTodayTitle, this, &DesktopShell::announceAll);
    m_stopSpeaking = m_menu->addAction(stopSpeakingTitle, this, &DesktopShell::stopSpeaking);
    m_menu->addSeparator();
    m_toggleBubble = m_menu->addAction(showBubbleTitle, this, &DesktopShell::toggleBubble);
    m_menu->addSeparator();
    QAction* settings = m_menu->addAction(settingsTitle, this, &DesktopShell::showSettings);
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    m_menu->addSeparator();
    QAction* quit = m_menu->addAction(quitTitle, this, &DesktopShell::requestQuit);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setMenuRole(QAction::QuitRole);
    connect(m_menu.get(), &QMenu::aboutToShow, this, &DesktopShell::refreshMenu);
    refreshMenu();
}

void DesktopShell::refreshMenu()
{
    if (m_toggleBubble)
        m_toggleBubble->setText(m_bubble && m_bubble->isVisible() ? hideBubbleTitle
                                                                  : showBubbleTitle);
    if (m_stopSpeaking)
        m_stopSpeaking->setEnabled(m_coordinator.state().kind != AnnouncerState::Kind::idle);
}

void DesktopShell::showState(const AnnouncerState& state)
{
    qCDebug(shellLog, "state: %s", stateName(state.kind));
    if (m_tray)
        m_tray->setIcon(statusIcon(state.kind));
}

void DesktopShell::announceNow()
{
    QMetaObject::invokeMethod(
        this, [this] { m_coordinator.announce(AnnounceReason::manual, std::nullopt); },
        Qt::QueuedConnection);
}

void DesktopShell::announceAll()
{
    // Midnight is taken when the request runs, not when it was asked for.
    QMetaObject::invokeMethod(
        this,
        [this] { m_coordinator.announce(AnnounceReason::manual, startOfLocalDay(m_clock.now())); },
        Qt::QueuedConnection);
}

void DesktopShell::stopSpeaking()
{
    m_coordinator.stopSpeaking();
}

void DesktopShell::toggleBubble()
{
    if (!m_bubble)
        return;
    const bool hide = m_bubble->isVisible();
    if (hide)
        m_bubble->hide();
    else
        m_bubble->show();
    m_settings.setBubbleHidden(hide);
}

void DesktopShell::showSettings()
{
    if (!m_settingsWindow) {
        m_settingsWindow =
            m_makeSettingsWindow
                ? m_makeSettingsWindow()
                : std::make_unique<SettingsWindow>(m_settings, m_coordinator, m_store, m_speaker,
                                                   AutostartEntry::shared());
        if (auto* created = qobject_cast<SettingsWindow*>(m_settingsWindow.get()))
            created->headlineTab()->setLibrary(m_library);
    }
    if (!m_settingsWindow)
        return;
    if (auto* settings = qobject_cast<SettingsWindow*>(m_settingsWindow.get())) {
        settings->present();
        return;
    }
    QWidget& window = *m_settingsWindow;
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

void DesktopShell::reopen()
{
    if (m_bubble && !m_bubble->isVisible() && !QSystemTrayIcon::isSystemTrayAvailable())
        toggleBubble();
    showSettings();
}

void DesktopShell::terminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    m_coordinator.stopSpeaking();
    if (m_bubble)
        m_bubble->savePosition();
}

void DesktopShell::requestQuit()
{
    // Queued, so the menu that asked has closed before the application winds down.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

} // namespace vardelle
