#include "system/SystemEventMonitor.h"

#include "support/FakeSystemEventSource.h"

#include <QCoreApplication>
#include <QThread>
#include <QtTest>

#include <memory>
#include <thread>

using namespace vardelle;
using namespace Qt::StringLiterals;
using Event = test::FakeSystemEventSource::Event;

namespace {

enum class From { sourceThread, otherThread };

// Fires each event, either on the test's own thread or on a worker thread that has finished by
// the time this returns (its deliveries are then queued to the monitor's thread).
void fireAll(test::FakeSystemEventSource& source, const QList<Event>& events, From from)
{
    if (from == From::sourceThread) {
        for (Event event : events)
            source.fire(event);
        return;
    }
    std::thread worker([&] {
        for (Event event : events)
            source.fire(event);
    });
    worker.join();
}

} // namespace

class SystemEventMonitorTest : public QObject {
    Q_OBJECT

private:
    // What the handler was called with, and whether every call ran on the test's thread.
    QStringList m_calls;
    bool m_allOnMainThread = true;
    test::FakeSystemEventSource* m_source = nullptr; // owned by m_monitor
    std::unique_ptr<SystemEventMonitor> m_monitor;

private slots:
    void init()
    {
        m_calls.clear();
        m_allOnMainThread = true;
        auto source = std::make_unique<test::FakeSystemEventSource>();
        m_source = source.get();
        m_monitor = std::make_unique<SystemEventMonitor>(
            [this](AnnounceReason reason) {
                m_calls.append(identifier(reason));
                m_allOnMainThread &= QThread::currentThread() == qApp->thread();
            },
            std::move(source));
    }

    void cleanup()
    {
        m_monitor.reset();
        m_source = nullptr;
    }

    void oneCallPerEventInOrder_data()
    {
        QTest::addColumn<From>("from");
        QTest::addColumn<QList<Event>>("events");
        QTest::addColumn<QStringList>("expected");

        const QList<std::tuple<const char*, QList<Event>, QStringList>> cases{
            {"screen unlocked", {Event::screenUnlocked}, {u"unlock"_s}},
            {"screen saver stopped", {Event::screenSaverStopped}, {u"unlock"_s}},
            {"woke from sleep", {Event::wokeFromSleep}, {u"wake"_s}},
            {"session activated", {Event::sessionActivated}, {u"sessionActive"_s}},
            // One unlock that the system reports twice is two calls; dropping the second is the
            // handler's business.
            {"one unlock reported twice",
             {Event::screenSaverStopped, Event::screenUnlocked},
             {u"unlock"_s, u"unlock"_s}},
            {"wake then unlock",
             {Event::wokeFromSleep, Event::screenUnlocked},
             {u"wake"_s, u"unlock"_s}},
            {"repeats are not coalesced",
             {Event::sessionActivated, Event::sessionActivated, Event::wokeFromSleep,
              Event::sessionActivated},
             {u"sessionActive"_s, u"sessionActive"_s, u"wake"_s, u"sessionActive"_s}},
        };
        for (const auto& [name, events, expected] : cases) {
            QTest::addRow("%s", name) << From::sourceThread << events << expected;
            QTest::addRow("%s, from another thread", name)
                << From::otherThread << events << expected;
        }
    }

    void oneCallPerEventInOrder()
    {
        QFETCH(From, from);
        QFETCH(QList<Event>, events);
        QFETCH(QStringList, expected);

        m_monitor->start();
        fireAll(*m_source, events, from);
        QCoreApplication::sendPostedEvents();

        QCOMPARE(m_calls, expected);
        QVERIFY(m_allOnMainThread);
    }

    void startBeginsObserving()
    {
        m_source->fire(Event::screenUnlocked);
        QCOMPARE(m_source->startCount(), 0);
        QCOMPARE(m_calls, QStringList());

        m_monitor->start();
        QCOMPARE(m_source->startCount(), 1);
        m_source->fire(Event::screenUnlocked);
        QCOMPARE(m_calls, QStringList{u"unlock"_s});
    }

    // A second start must not subscribe a second time: one event would then brief twice.
    void secondStartChangesNothing()
    {
        m_monitor->start();
        m_monitor->start();
        QCOMPARE(m_source->startCount(), 1);

        m_source->fire(Event::wokeFromSleep);
        m_source->fire(Event::screenSaverStopped);
        QCOMPARE(m_calls, (QStringList{u"wake"_s, u"unlock"_s}));
    }

    void destructionDropsQueuedEvents()
    {
        m_monitor->start();
        fireAll(*m_source,
                {Event::screenUnlocked, Event::screenSaverStopped, Event::wokeFromSleep,
                 Event::sessionActivated},
                From::otherThread);

        m_monitor.reset();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();

        QCOMPARE(m_calls, QStringList());
    }

    void emptyHandlerIsHarmless()
    {
        auto source = std::make_unique<test::FakeSystemEventSource>();
        auto* fake = source.get();
        SystemEventMonitor monitor({}, std::move(source));
        monitor.start();
        fake->fire(Event::sessionActivated);
        QCOMPARE(fake->startCount(), 1);
    }
};

QTEST_GUILESS_MAIN(SystemEventMonitorTest)
#include "tst_systemeventmonitor.moc"
