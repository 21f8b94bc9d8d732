#pragma once

#include <QObject>
#include <QString>

class QAction;
class QEvent;

namespace vardelle {

class AppCoordinator;

// The commands a user can give from several places (the status menu, the bubble's menu, the
// settings window's buttons), each one QAction with one title, one shortcut and one enabling
// rule, so every place reads and behaves the same.
//
// The briefing commands act on the coordinator themselves: the announce commands ask for a
// manual briefing as a task on the main thread (the menu that asked has closed by then), Stop
// and Replay go to the coordinator at once, and Stop is enabled exactly while the coordinator is
// not idle. Settings, Show/Hide Bubble and Quit only emit triggered(): their owner connects them.
//
// The shortcuts (Ctrl+, and Ctrl+Q) work while any window or menu of the application has the
// keyboard: the status menu is a popup of its own, where Qt's window shortcuts never reach.
//
// Main thread only.
class DesktopActions : public QObject {
    Q_OBJECT

public:
    static const QString announceLatestTitle;
    static const QString announceTodayTitle;
    static const QString stopSpeakingTitle;
    static const QString replayTitle;
    static const QString showBubbleTitle;
    static const QString hideBubbleTitle;
    static const QString settingsTitle;
    static const QString quitTitle;

    explicit DesktopActions(AppCoordinator& coordinator, QObject* parent = nullptr);
    ~DesktopActions() override;

    QAction* announceLatest() const { return m_announceLatest; }
    QAction* announceToday() const { return m_announceToday; }
    QAction* stopSpeaking() const { return m_stopSpeaking; }
    QAction* replay() const { return m_replay; }
    QAction* settings() const { return m_settings; }
    QAction* toggleBubble() const { return m_toggleBubble; }
    QAction* quit() const { return m_quit; }

    // Titles the bubble command for a bubble that is on screen ("Hide Bubble") or not.
    void setBubbleVisible(bool visible);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* add(const QString& title);
    QAction* actionForKey(const QEvent& event) const;

    AppCoordinator& m_coordinator;
    QAction* m_announceLatest = nullptr;
    QAction* m_announceToday = nullptr;
    QAction* m_stopSpeaking = nullptr;
    QAction* m_replay = nullptr;
    QAction* m_settings = nullptr;
    QAction* m_toggleBubble = nullptr;
    QAction* m_quit = nullptr;
};

} // namespace vardelle
