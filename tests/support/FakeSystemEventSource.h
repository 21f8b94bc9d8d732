#pragma once

#include "system/SystemEventSource.h"

namespace vardelle::test {

// A source that reports what a test tells it to, from whatever thread calls fire().
class FakeSystemEventSource final : public SystemEventSource {
    Q_OBJECT

public:
    enum class Event {
        screenUnlocked,
        screenSaverStopped,
        wokeFromSleep,
        sessionActivated,
        screenLocked,
        screenSaverStarted,
        goingToSleep,
    };
    Q_ENUM(Event)

    using SystemEventSource::SystemEventSource;

    void start() override { ++m_startCount; }
    int startCount() const { return m_startCount; }

    void fire(Event event);

private:
    int m_startCount = 0;
};

} // namespace vardelle::test
