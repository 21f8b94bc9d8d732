#pragma once

#include "briefing/AnnouncerState.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace vardelle {

class AppCoordinator;
class AppSettings;
class LibraryCommands;
class BubbleController;
class Clock;
class HeadlineStore;
class Speaker;
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

    DesktopShell(AppCoordinator& coordinator, AppSettings& settings, HeadlineStore& store,
                 Speaker& speaker, const Clock& clock, QObject* parent = nullptr);
    // Over the process-wide coordinator, settings, store and speaker, and the system clock.
    explicit DesktopShell(QObject* parent = nullptr);
    ~DesktopShell() override;

    // The feed and watch-list commands that the settings window's Headlines tab adds through;
    // must outlive the shell.
    void setFeedLibrary(LibraryCommands* library) { m_library = library; }
    // The settings window, made on first use; the desktop's own window unless set.
    void setSettingsWindowFactory(WindowFactory factory)
    {
        m_makeSettingsWindow = std::move(factory);
    }
    // Where unlock and wake come from; logind and the screen saver unless set.
    void setEventSourceFactory(EventSourceFactory factory)
    {
        m_makeEventSource = std::move(factory);
    }
    // Where the screens are, for the bubble; the application's screens unless set.
    void setScreenAreas(ScreenAreas areas) { m_screenAreas = std::move(areas); }

    // The launch sequence: tray icon and menu, bubble, system events, the launch briefing and,
    // on the first run, the settings window. Only the first call does anything.
    void launch();
    // Stops speech and stores the bubble's position. Only the first call does anything.
    void terminate();

    // The status menu's commands.
    void announceNow();
    void announceAll();
    void stopSpeaking();
    void toggleBubble();
    void showSettings();
    // The program was started again while this one runs: the settings window, and the bubble
    // too when it is hidden and there is no tray icon to bring it back with.
    void reopen();

    // Retitles the bubble entry and enables "Stop Speaking" for what is true now; runs each time
    // the status menu opens.
    void refreshMenu();

    QSystemTrayIcon* trayIcon() const { return m_tray; }
    QMenu* statusMenu() const { return m_menu.get(); }
    BubbleController* bubble() const { return m_bubble.get(); }
    QWidget* settingsWindow() const { return m_settingsWindow.get(); }

    static const QString announceLatestTitle;
    static const QString announceTodayTitle;
    static const QString stopSpeakingTitle;
    static const QString showBubbleTitle;
    static const QString hideBubbleTitle;
    static const QString settingsTitle;
    static const QString quitTitle;

private:
    void buildStatusMenu();
    void showState(const AnnouncerState& state);
    void requestQuit();

    AppCoordinator& m_coordinator;
    AppSettings& m_settings;
    HeadlineStore& m_store;
    Speaker& m_speaker;
    const Clock& m_clock;

    WindowFactory m_makeSettingsWindow;
    LibraryCommands* m_library = nullptr;
    EventSourceFactory m_makeEventSource;
    ScreenAreas m_screenAreas;

    QSystemTrayIcon* m_tray = nullptr; // owned by this object
    std::unique_ptr<QMenu> m_menu;
    QAction* m_toggleBubble = nullptr;
    QAction* m_stopSpeaking = nullptr;
    std::unique_ptr<BubbleController> m_bubble;
    std::unique_ptr<QWidget> m_settingsWindow;
    std::unique_ptr<SystemEventMonitor> m_eventMonitor;
    bool m_launched = false;
    bool m_terminated = false;
};

} // namespace vardelle
