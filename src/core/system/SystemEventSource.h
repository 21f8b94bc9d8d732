#pragma once

#include <QObject>

namespace vardelle {

// Where the system's session events come from: the screen being unlocked, the screen saver
// stopping, the computer waking from sleep and the login session becoming active again, and
// their opposites (the screen locked, the screen saver started, the computer about to sleep). Each
// event is one emission of its signal, on the thread the source lives in. Nothing is emitted
// before start(). An implementation that cannot reach the system's services emits nothing and
// reports no error.
class SystemEventSource : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    ~SystemEventSource() override = default;

    // Begins observing. The monitor calls it once.
    virtual void start() = 0;

signals:
    void screenUnlocked();
    void screenSaverStopped();
    void wokeFromSleep();
    void sessionActivated();
    void screenLocked();
    void screenSaverStarted();
    void goingToSleep();
};

} // namespace vardelle
