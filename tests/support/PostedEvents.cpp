#include "support/PostedEvents.h"

#include <QCoreApplication>
#include <QObject>
#include <QTest>

namespace vardelle::test {

bool deliverPostedEvents(int hops)
{
    QObject marker;
    for (int hop = 0; hop < hops; ++hop) {
        bool arrived = false;
        QMetaObject::invokeMethod(
            &marker, [&arrived] { arrived = true; }, Qt::QueuedConnection);
        // Bounded only so that a test never hangs: the marker comes on the next turns.
        if (!QTest::qWaitFor([&arrived] { return arrived; }, 60000))
            return false;
    }
    return true;
}

} // namespace vardelle::test
