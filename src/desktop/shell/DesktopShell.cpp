#include "shell/DesktopShell.h"

#include "briefing/AppCoordinator.h"
#include "bubble/BubbleController.h"
#include "bubble/BubblePanel.h"
#include "linux/session/LogindEventSource.h"
#include "settings/AppSettings.h"
#include "settings/HeadlineSettingsTab.h"
#include "settings/SettingsWindow.h"
#include "shell/DesktopActions.h"
#include "shell/StatusIcon.h"
#include "store/HeadlineStore.h"
#include "system/BriefingHold.h"
#include "system/BusySignal.h"
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
// shows and every text it has spoken, for following a session from the terminal.
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

DesktopShell::DesktopShell(AppCoordinator& coordinator, AppSettings& settings, HeadlineStore& store,
                           const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_coordinator(coordinator)
    , m_settings(settings)
    , m_store(store)
    , m_clock(clock)
    , m_actions(std::make_unique<DesktopActions>(coordinator))
{
    connect(m_actions->settings(), &QAction::triggered, this, &DesktopShell::showSettings);
    connect(m_actions->toggleBubble(), &QAction::triggered, this, &DesktopShell::toggleBubble);
    connect(m_actions->quit(), &QAction::triggered, this, &DesktopShell::requestQuit);
}

DesktopShell::~DesktopShell() = default;

void DesktopShell::launch()
{
    if (m_launched)
        return;
    m_launched = true;

    // The tray icon and its menu.
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

    // The bubble,
    m_bubble =
        std::make_unique<BubbleController>(m_coordinator, m_settings, m_store, m_clock, *m_actions);
    if (m_screenAreas)
        m_bubble->setScreenAreas(m_screenAreas);

    // shown unless the user hid it.
    if (!m_settings.bubbleHidden())
        m_bubble->show();

    // Automatic requests wait while the user is busy; the coordinator decides whether one is
    // due when it is let through.
    m_hold = std::make_unique<BriefingHold>(
        [this](AnnounceReason reason) { return m_coordinator.announce(reason) != 0; });
    if (m_makeBusySignals) {
        for (auto& signal : m_makeBusySignals())
            m_hold->addSignal(std::move(signal));
    }
    m_hold->setEnabled(m_settings.holdWhenBusy());
    connect(&m_settings, &AppSettings::holdWhenBusyChanged, m_hold.get(),
            &BriefingHold::setEnabled);
    m_hold->start();

    // Unlock and wake ask for a briefing.
    QPointer<DesktopShell> self(this);
    auto source = m_makeEventSource ? m_makeEventSource() : std::make_unique<LogindEventSource>();
    m_eventMonitor = std::make_unique<SystemEventMonitor>(
        [self](AnnounceReason reason) {
            if (!self)
                return;
            QMetaObject::invokeMethod(
                self, [self, reason] { self->m_hold->request(reason); }, Qt::QueuedConnection);
        },
        std::move(source));
    m_eventMonitor->start();

    // The tray icon follows every state the coordinator publishes, the current one first.
    connect(&m_coordinator, &AppCoordinator::stateChanged, this, &DesktopShell::showState);
    showState(m_coordinator.state());
    connect(&m_coordinator, &AppCoordinator::speaking, this,
            [](AppCoordinator::RunId, const QString& text) {
                qCDebug(shellLog, "speaking: %s", qUtf8Printable(text));
            });
    connect(&m_coordinator, &AppCoordinator::readingChanged, this, [this] {
        if (const auto reading = m_coordinator.reading())
            qCDebug(shellLog, "reading %lld of %lld: %s", qlonglong(reading->index + 1),
                    qlonglong(reading->count), qUtf8Printable(reading->part.text));
    });
    connect(m_hold.get(), &BriefingHold::holdingChanged, this, [](bool holding) {
        qCDebug(shellLog, holding ? "holding automatic briefings" : "holding no more");
    });

    // The launch briefing, if the coordinator finds one due.
    QMetaObject::invokeMethod(
        this, [this] { m_hold->request(AnnounceReason::launch); }, Qt::QueuedConnection);

    // The first run opens the settings window once.
    if (m_settings.isFirstRun()) {
        m_settings.setIsFirstRun(false);
        showSettings();
    }

    // However the application ends, the bubble keeps its place.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &DesktopShell::terminate);
}

const SystemEventSource* DesktopShell::eventSource() const
{
    return m_eventMonitor ? &m_eventMonitor->source() : nullptr;
}

void DesktopShell::buildStatusMenu()
{
    m_menu = std::make_unique<QMenu>();
    m_menu->addAction(m_actions->announceLatest());
    m_menu->addAction(m_actions->announceToday());
    m_menu->addAction(m_actions->stopSpeaking());
    m_menu->addSeparator();
    m_menu->addAction(m_actions->toggleBubble());
    m_menu->addSeparator();
    m_menu->addAction(m_actions->settings());
    m_menu->addSeparator();
    m_menu->addAction(m_actions->quit());
    connect(m_menu.get(), &QMenu::aboutToShow, this, &DesktopShell::refreshMenu);
    refreshMenu();
}

void DesktopShell::refreshMenu()
{
    m_actions->setBubbleVisible(m_bubble && m_bubble->isVisible());
}

void DesktopShell::showState(const AnnouncerState& state)
{
    qCDebug(shellLog, "state: %s", stateName(state.kind));
    if (m_tray)
        m_tray->setIcon(statusIcon(state.kind));
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
    if (!m_settingsWindow && m_makeSettingsWindow)
        m_settingsWindow = m_makeSettingsWindow();
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
    m_coordinator.stop();
    if (m_bubble)
        m_bubble->savePosition();
}

void DesktopShell::requestQuit()
{
    // Queued, so the menu that asked has closed before the application winds down.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

} // namespace vardelle
