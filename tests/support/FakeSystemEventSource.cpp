#include "support/FakeSystemEventSource.h"

namespace vardelle::test {

void FakeSystemEventSource::fire(Event event)
{
    switch (event) {
    case Event::screenUnlocked:
        emit screenUnlocked();
        break;
    case Event::screenSaverStopped:
        emit screenSaverStopped();
        break;
    case Event::wokeFromSleep:
        emit wokeFromSleep();
        break;
    case Event::sessionActivated:
        emit sessionActivated();
        break;
    case Event::screenLocked:
        emit screenLocked();
        break;
    case Event::screenSaverStarted:
        emit screenSaverStarted();
        break;
    case Event::goingToSleep:
        emit goingToSleep();
        break;
    }
}

} // namespace vardelle::test
