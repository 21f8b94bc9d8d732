#pragma once

#include "system/SystemEventSource.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace vardelle {

// The system events of a Linux desktop, from D-Bus:
// - on the system bus, logind: the caller's session's `Unlock` signal and its `LockedHint`
//   property turning false, which is how screen lockers report an unlock (screenUnlocked); its
//   `Active` property turning true (sessionActivated); and the manager's `PrepareForSleep(false)`
//   (wokeFromSleep); their opposites are the session's `Lock` signal and `LockedHint` turning
//   true (screenLocked), and `PrepareForSleep(true)` (goingToSleep);
// - on the session bus, `ActiveChanged(false)` of `org.freedesktop.ScreenSaver` or
//   `org.gnome.ScreenSaver` from any sender on any path (screenSaverStopped; `true`:
//   screenSaverStarted), since desktops publish it under different names and paths.
//
// The caller's session is looked up without blocking: GetSessionByPID for this process, then
// GetSession("auto"), then GetSession($XDG_SESSION_ID). Until it is found, and if it never is,
// only the sleep and screen-saver events are reported. A bus that is not connected gives none of
// its events and no error. Every report arrives on this object's thread through QtDBus.
class LogindEventSource final : public SystemEventSource {
    Q_OBJECT

public:
    // On the process's system and session buses.
    explicit LogindEventSource(QObject* parent = nullptr);
    LogindEventSource(const QDBusConnection& systemBus, const QDBusConnection& sessionBus,
                      QObject* parent = nullptr);
    ~LogindEventSource() override;

    // Subscribes and starts the session lookup; a second call does nothing.
    void start() override;

    // The logind object path of the session being followed; empty until it is found.
    QString sessionPath() const { return m_sessionPath; }

signals:
    // Every subscription is in place: the session lookup has ended, found or not. Emitted once,
    // after start() has returned.
    void ready();

private slots:
    void onSessionUnlock();
    void onSessionLock();
    void onSessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                    const QStringList& invalidated);
    void onPrepareForSleep(bool starting);
    void onScreenSaverActiveChanged(bool active);

private:
    void lookUpNextCandidate();
    void followSession(const QString& path);
    void fetchActive();

    QDBusConnection m_system;
    QDBusConnection m_session;
    QList<QDBusMessage> m_lookups; // the calls still to try, in order
    QString m_sessionPath;
    bool m_started = false;
};

} // namespace vardelle
