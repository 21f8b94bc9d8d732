#pragma once

#include "briefing/AnnouncerState.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>

#include <functional>
#include <memory>
#include <vector>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace vardelle {

class AppCoordinator;
class AppSettings;
class BriefingHold;
class BubbleController;
class BusySignal;
class Clock;
class DesktopActions;
class HeadlineStore;
class SystemEventMonitor;
class SystemEventSource;

// The desktop accessory's shell: the tray icon with its status menu, the bubble, the settings
// window and the automatic briefings at launch, unlock and wake. launch() builds it all once;
// terminate() stops speech and keeps the bubble's position, and runs by itself when the
// application quits, however it quits (the menu, the bubble, a signal).
//
// Main thread only.
class DesktopShell : public QObject {
    Q_OBJECT

public:
    using WindowFactory = std::function<std::unique_ptr<QWidget>()>;
    using EventSourceFactory = std::function<std::unique_ptr<SystemEventSource>()>;
    using ScreenAreas = std::function<QList<QRect>()>;
    using BusySignalsFactory = std::function<std::vector<std::unique_ptr<BusySignal>>()>;

    DesktopShell(AppCoordinator& coordinator, AppSettings& settings, HeadlineStore& store,
                 const Clock& clock, QObject* parent = nullptr);
    ~DesktopShell() override;

    // The settings window, made on first use; none unless set.
    void setSettingsWindowFactory(WindowFactory factory)
    {
        m_makeSettingsWindow = std::move(factory);
    }
    // Where unlock and wake come from; logind and the screen saver unless set.
    void setEventSourceFactory(EventSourceFactory factory)
    {
        m_makeEventSource = std::move(factory);
    }
    // The signs that the user is busy, which hold automatic briefings while the holdWhenBusy
    // preference is on; none unless set.
    void setBusySignalsFactory(BusySignalsFactory factory)
    {
        m_makeBusySignals = std::move(factory);
    }
    // Where the screens are, for the bubble; the application's screens unless set.
    void setScreenAreas(ScreenAreas areas) { m_screenAreas = std::move(areas); }

    // The launch sequence: tray icon and menu, bubble, system events, the launch briefing and,
    // on the first run, the settings window. Only the first call does anything.
    void launch();
    // Stops speech and stores the bubble's position. Only the first call does anything.
    void terminate();

    // The commands the status menu, the bubble's menu and the settings window share.
    DesktopActions& actions() const { return *m_actions; }

    void toggleBubble();
    void showSettings();
    // The program was started again while this one runs: the settings window, and the bubble
    // too when it is hidden and there is no tray icon to bring it back with.
    void reopen();

    // Retitles the bubble entry for the bubble as it is now; runs each time the status menu
    // opens.
    void refreshMenu();

    QSystemTrayIcon* trayIcon() const { return m_tray; }
    QMenu* statusMenu() const { return m_menu.get(); }
    BubbleController* bubble() const { return m_bubble.get(); }
    // What stands between the automatic requests and the coordinator; made by launch().
    BriefingHold* hold() const { return m_hold.get(); }
    QWidget* settingsWindow() const { return m_settingsWindow.get(); }
    // Where unlock, wake and their opposites come from; none before launch().
    const SystemEventSource* eventSource() const;

private:
    void buildStatusMenu();
    void showState(const AnnouncerState& state);
    void requestQuit();

    AppCoordinator& m_coordinator;
    AppSettings& m_settings;
    HeadlineStore& m_store;
    const Clock& m_clock;

    WindowFactory m_makeSettingsWindow;
    EventSourceFactory m_makeEventSource;
    BusySignalsFactory m_makeBusySignals;
    ScreenAreas m_screenAreas;

    std::unique_ptr<DesktopActions> m_actions;
    QSystemTrayIcon* m_tray = nullptr; // owned by this object
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<BubbleController> m_bubble;
    std::unique_ptr<QWidget> m_settingsWindow;
    std::unique_ptr<BriefingHold> m_hold;
    std::unique_ptr<SystemEventMonitor> m_eventMonitor;
    bool m_launched = false;
    bool m_terminated = false;
};

} // namespace vardelle
