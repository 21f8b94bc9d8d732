#include "linux/session/LogindEventSource.h"
#include "support/PrivateBus.h"
#include "support/TestData.h"
#include "system/SystemEventMonitor.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace vardelle;
using namespace Qt::StringLiterals;

namespace {

constexpr int patience = 30000; // ms; only a bound on waiting, never a requirement

const QString loginService = u"org.freedesktop.login1"_s;
const QString managerPath = u"/org/freedesktop/login1"_s;
const QString managerInterface = u"org.freedesktop.login1.Manager"_s;
const QString sessionInterface = u"org.freedesktop.login1.Session"_s;
const QString propertiesInterface = u"org.freedesktop.DBus.Properties"_s;
const QString screenSaverInterface = u"org.freedesktop.ScreenSaver"_s;

// The sessions of the fake logind, by the id GetSession takes.
const QString sessionByPid = u"/org/freedesktop/login1/session/c1"_s;
const QString sessionAuto = u"/org/freedesktop/login1/session/_32"_s;
const QString sessionFromEnvironment = u"/org/freedesktop/login1/session/_37"_s;

// Waits until the bus has handled every message sent so far on `connection`: a call's reply comes
// after everything queued before it, and a signal is routed to its receivers before the bus takes
// the next message of the same sender.
bool flush(const QDBusConnection& connection)
{
    const QDBusMessage reply = connection.call(
        QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                       u"org.freedesktop.DBus"_s, u"GetId"_s));
    return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace

// logind's manager as far as the event source uses it.
class FakeManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    bool pidHasSession = true;
    bool autoWorks = true;
    bool holdNextReply = false;
    QList<QDBusMessage> heldCalls;
    QList<uint> pidsAsked;

public slots:
    QDBusObjectPath GetSessionByPID(uint pid)
    {
        pidsAsked.append(pid);
        if (pid != QCoreApplication::applicationPid() || !pidHasSession)
            return fail(u"org.freedesktop.login1.NoSessionForPID"_s);
        return answer(sessionByPid);
    }

    QDBusObjectPath GetSession(const QString& id)
    {
        if (id == u"auto"_s && autoWorks)
            return answer(sessionAuto);
        if (id == u"7"_s)
            return answer(sessionFromEnvironment);
        return fail(u"org.freedesktop.login1.NoSuchSession"_s);
    }

private:
    QDBusObjectPath answer(const QString& path)
    {
        if (holdNextReply) {
            holdNextReply = false;
            setDelayedReply(true);
            heldCalls.append(message().createReply(QVariant::fromValue(QDBusObjectPath(path))));
        }
        return QDBusObjectPath(path);
    }

    QDBusObjectPath fail(const QString& name)
    {
        sendErrorReply(name, u"none"_s);
        return {};
    }
};

// A logind session; its properties answer org.freedesktop.DBus.Properties.Get.
class FakeSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
    Q_PROPERTY(bool Active READ active)

public:
    bool isActive = true;
    bool active() const { return isActive; }
};

class LogindEventsTest : public QObject {
    Q_OBJECT

public:
    // What the fake system sends, and from where.
    enum class Send {
        sleepStarts,
        sleepEnds,
        unlock,
        unlockOfAnotherSession,
        unlockFromImpostor,
        lock,
        becameActive,
        becameInactive,
        activeInvalidatedWhileActive,
        activeInvalidatedWhileInactive,
        idleHintChanged,
        activeOfAnotherInterface,
        lockedHintSet,
        lockedHintCleared,
        gnomeScreenSaverStops,
        screenSaverStarts,
        screenSaverStops,
        screenSaverStopsElsewhere,
    };
    Q_ENUM(Send)

private:
    QTemporaryDir m_home;
    test::PrivateBus m_systemBus;
    test::PrivateBus m_sessionBus;
    QString m_absentAddress;
    FakeManager m_manager;
    FakeSession m_sessions[3];
    bool m_busesUp = false;

    // A monitor with a record of the reasons it was handed.
    struct Observed {
        QStringList reasons;
        LogindEventSource* source = nullptr; // owned by monitor
        std::unique_ptr<SystemEventMonitor> monitor;
    };

    static QDBusConnection logind() { return QDBusConnection(u"fake-logind"_s); }
    static QDBusConnection impostor() { return QDBusConnection(u"impostor"_s); }
    static QDBusConnection screenSaver() { return QDBusConnection(u"fake-screensaver"_s); }
    static QDBusConnection otherApp() { return QDBusConnection(u"other-app"_s); }
    QDBusConnection absent() const
    {
        return QDBusConnection::connectToBus(m_absentAddress, u"absent"_s);
    }

    // Starts a monitor over `source` and returns once its subscriptions are live on the buses.
    static std::unique_ptr<Observed> observe(std::unique_ptr<LogindEventSource> source,
                                             bool waitForReady = true)
    {
        auto observed = std::make_unique<Observed>();
        observed->source = source.get();
        QSignalSpy ready(source.get(), &LogindEventSource::ready);
        observed->monitor = std::make_unique<SystemEventMonitor>(
            [record = &observed->reasons](AnnounceReason reason) {
                record->append(identifier(reason));
            },
            std::move(source));
        observed->monitor->start();
        if (waitForReady) {
            if (!ready.wait(patience))
                return nullptr;
            if (!flush(QDBusConnection::systemBus()) || !flush(QDBusConnection::sessionBus()))
                return nullptr;
        }
        return observed;
    }

    static std::unique_ptr<Observed> observeDefault()
    {
        return observe(std::make_unique<LogindEventSource>());
    }

    bool send(Send what)
    {
        const auto signal = [](const QString& path, const QString& interface, const char* name,
                               const QVariantList& arguments) {
            QDBusMessage message =
                QDBusMessage::createSignal(path, interface, QString::fromLatin1(name));
            message.setArguments(arguments);
            return message;
        };
        const auto changed = [&signal](const QString& interface, const QVariantMap& values,
                                       const QStringList& invalidated) {
            return signal(sessionByPid, propertiesInterface, "PropertiesChanged",
                          {interface, values, invalidated});
        };
        QDBusConnection from = logind();
        QDBusMessage message;
        switch (what) {
        case Send::sleepStarts:
            message = signal(managerPath, managerInterface, "PrepareForSleep", {true});
            break;
        case Send::sleepEnds:
            message = signal(managerPath, managerInterface, "PrepareForSleep", {false});
            break;
        case Send::unlock:
            message = signal(sessionByPid, sessionInterface, "Unlock", {});
            break;
        case Send::lock:
            message = signal(sessionByPid, sessionInterface, "Lock", {});
            break;
        case Send::unlockOfAnotherSession:
            message = signal(sessionAuto, sessionInterface, "Unlock", {});
            break;
        case Send::unlockFromImpostor:
            from = impostor();
            message = signal(sessionByPid, sessionInterface, "Unlock", {});
            break;
        case Send::becameActive:
            message = changed(sessionInterface, {{u"Active"_s, true}}, {});
            break;
        case Send::becameInactive:
            message = changed(sessionInterface, {{u"Active"_s, false}}, {});
            break;
        case Send::activeInvalidatedWhileActive:
        case Send::activeInvalidatedWhileInactive:
            // Only the session object of sessionByPid matters here.
            m_sessions[0].isActive = what == Send::activeInvalidatedWhileActive;
            message = changed(sessionInterface, {}, {u"Active"_s});
            break;
        case Send::idleHintChanged:
            message = changed(sessionInterface, {{u"IdleHint"_s, false}}, {u"IdleSinceHint"_s});
            break;
        case Send::activeOfAnotherInterface:
            message = changed(u"org.example.Other"_s, {{u"Active"_s, true}}, {});
            break;
        case Send::lockedHintSet:
            message = changed(sessionInterface, {{u"LockedHint"_s, true}}, {});
            break;
        case Send::lockedHintCleared:
            message = changed(sessionInterface, {{u"LockedHint"_s, false}}, {});
            break;
        case Send::gnomeScreenSaverStops:
            from = otherApp();
            message = signal(u"/org/gnome/ScreenSaver"_s, u"org.gnome.ScreenSaver"_s,
                             "ActiveChanged", {false});
            break;
        case Send::screenSaverStarts:
            from = screenSaver();
            message = signal(u"/org/freedesktop/ScreenSaver"_s, screenSaverInterface,
                             "ActiveChanged", {true});
            break;
        case Send::screenSaverStops:
            from = screenSaver();
            message = signal(u"/org/freedesktop/ScreenSaver"_s, screenSaverInterface,
                             "ActiveChanged", {false});
            break;
        case Send::screenSaverStopsElsewhere:
            from = otherApp();
            message = signal(u"/ScreenSaver"_s, screenSaverInterface, "ActiveChanged", {false});
            break;
        }
        return from.send(message) && flush(from);
    }

private slots:
    void initTestCase()
    {
        const QString daemon = QStandardPaths::findExecutable(u"dbus-daemon"_s);
        if (daemon.isEmpty())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon or dbus-bin)");

        QVERIFY(m_home.isValid());
        const QString home = m_home.path();
        qputenv("HOME", home.toUtf8());
        test::useUserFolders(home);
        QVERIFY(QDir().mkpath(home + u"/system"_s));
        QVERIFY(QDir().mkpath(home + u"/session"_s));
        QVERIFY(m_systemBus.start(home + u"/system"_s, daemon));
        QVERIFY(m_sessionBus.start(home + u"/session"_s, daemon));
        m_absentAddress = u"unix:path="_s + home + u"/no-bus-here"_s;

        // Before the first use of the process's own buses.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_systemBus.address().toUtf8());
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_sessionBus.address().toUtf8());
        qunsetenv("XDG_SESSION_ID");

        QDBusConnection fake =
            QDBusConnection::connectToBus(m_systemBus.address(), u"fake-logind"_s);
        QVERIFY(fake.isConnected());
        QVERIFY(fake.registerObject(managerPath, &m_manager, QDBusConnection::ExportAllSlots));
        const QString sessionPaths[3] = {sessionByPid, sessionAuto, sessionFromEnvironment};
        for (int i = 0; i < 3; ++i) {
            QVERIFY(fake.registerObject(sessionPaths[i], &m_sessions[i],
                                        QDBusConnection::ExportAllProperties));
        }
        QVERIFY(fake.registerService(loginService));
        QVERIFY(QDBusConnection::connectToBus(m_systemBus.address(), u"impostor"_s).isConnected());

        QDBusConnection saver =
            QDBusConnection::connectToBus(m_sessionBus.address(), u"fake-screensaver"_s);
        QVERIFY(saver.registerService(screenSaverInterface));
        QVERIFY(
            QDBusConnection::connectToBus(m_sessionBus.address(), u"other-app"_s).isConnected());
        m_busesUp = true;
    }

    void init()
    {
        m_manager.pidHasSession = true;
        m_manager.autoWorks = true;
        m_manager.holdNextReply = false;
        m_manager.heldCalls.clear();
        m_manager.pidsAsked.clear();
        for (FakeSession& session : m_sessions)
            session.isActive = true;
    }

    void cleanup() { qunsetenv("XDG_SESSION_ID"); }

    void cleanupTestCase()
    {
        if (!m_busesUp)
            return;
        for (const QString& name :
             {u"fake-logind"_s, u"impostor"_s, u"fake-screensaver"_s, u"other-app"_s, u"absent"_s})
            QDBusConnection::disconnectFromBus(name);
        m_systemBus.stop();
        m_sessionBus.stop();
    }

    void reportsEachEvent_data()
    {
        QTest::addColumn<QList<Send>>("sends");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("wake from sleep")
            << QList{Send::sleepStarts, Send::sleepEnds} << QStringList{u"wake"_s};
        QTest::newRow("session unlocked") << QList{Send::unlock} << QStringList{u"unlock"_s};
        QTest::newRow("wake then unlock") << QList{Send::sleepStarts, Send::sleepEnds, Send::unlock}
                                          << QStringList{u"wake"_s, u"unlock"_s};
        QTest::newRow("session active again, with the value")
            << QList{Send::becameInactive, Send::becameActive} << QStringList{u"sessionActive"_s};
        QTest::newRow("session active again, invalidated")
            << QList{Send::activeInvalidatedWhileActive} << QStringList{u"sessionActive"_s};
        QTest::newRow("session inactive, invalidated")
            << QList{Send::activeInvalidatedWhileInactive} << QStringList{};
        QTest::newRow("other session properties")
            << QList{Send::idleHintChanged, Send::activeOfAnotherInterface} << QStringList{};
        QTest::newRow("another session's unlock")
            << QList{Send::unlockOfAnotherSession} << QStringList{};
        QTest::newRow("unlock from a sender that is not logind")
            << QList{Send::unlockFromImpostor} << QStringList{};
        QTest::newRow("screen saver stops")
            << QList{Send::screenSaverStarts, Send::screenSaverStops} << QStringList{u"unlock"_s};
        QTest::newRow("screen saver of another desktop")
            << QList{Send::screenSaverStopsElsewhere} << QStringList{u"unlock"_s};
        QTest::newRow("the locker clears the session's locked hint")
            << QList{Send::lockedHintSet, Send::lockedHintCleared} << QStringList{u"unlock"_s};
        QTest::newRow("GNOME's screen saver stops")
            << QList{Send::gnomeScreenSaverStops} << QStringList{u"unlock"_s};
        QTest::newRow("every stop counts")
            << QList{Send::screenSaverStops, Send::screenSaverStopsElsewhere,
                     Send::screenSaverStops}
            << QStringList{u"unlock"_s, u"unlock"_s, u"unlock"_s};
    }

    // The rows' sends stay on one bus each, where the bus keeps their order. Each row ends with
    // a wake on the system bus and then a screen-saver stop on the session bus: once both have
    // arrived, anything the row's own sends caused has arrived too.
    void reportsEachEvent()
    {
        QFETCH(QList<Send>, sends);
        QFETCH(QStringList, expected);

        const auto observed = observeDefault();
        QVERIFY(observed);
        QCOMPARE(observed->source->sessionPath(), sessionByPid);

        for (Send what : sends)
            QVERIFY(send(what));
        QTRY_VERIFY_WITH_TIMEOUT(observed->reasons.size() >= expected.size(), patience);

        QVERIFY(send(Send::sleepEnds));
        QTRY_VERIFY_WITH_TIMEOUT(observed->reasons.size() > expected.size(), patience);
        QVERIFY(send(Send::screenSaverStops));
        QTRY_VERIFY_WITH_TIMEOUT(observed->reasons.size() > expected.size() + 1, patience);
        QCOMPARE(observed->reasons, (expected + QStringList{u"wake"_s, u"unlock"_s}));
    }

    // The events that say the user is away: the screen locked, the screen saver started, the
    // computer going to sleep. Each row ends like those above, with a wake and a screen-saver
    // stop, whose arrival shows that the row's own sends have arrived.
    void reportsAwayEvents_data()
    {
        QTest::addColumn<QList<Send>>("sends");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("reasons"); // what the monitor is handed for the sends

        QTest::newRow("going to sleep") << QList{Send::sleepStarts} << QStringList{u"sleep"_s} << 0;
        QTest::newRow("session locked") << QList{Send::lock} << QStringList{u"lock"_s} << 0;
        QTest::newRow("the locker sets the session's locked hint")
            << QList{Send::lockedHintSet} << QStringList{u"lock"_s} << 0;
        QTest::newRow("screen saver starts")
            << QList{Send::screenSaverStarts} << QStringList{u"saver"_s} << 0;
        QTest::newRow("unlock, wake and active are not away")
            << QList{Send::unlock, Send::lockedHintCleared, Send::becameActive,
                     Send::screenSaverStopsElsewhere}
            << QStringList{} << 4;
    }
    void reportsAwayEvents()
    {
        QFETCH(QList<Send>, sends);
        QFETCH(QStringList, expected);
        QFETCH(int, reasons);

        const auto observed = observeDefault();
        QVERIFY(observed);
        QStringList away;
        LogindEventSource* source = observed->source;
        connect(source, &SystemEventSource::goingToSleep, this,
                [&away] { away.append(u"sleep"_s); });
        connect(source, &SystemEventSource::screenLocked, this,
                [&away] { away.append(u"lock"_s); });
        connect(source, &SystemEventSource::screenSaverStarted, this,
                [&away] { away.append(u"saver"_s); });

        for (Send what : sends)
            QVERIFY(send(what));
        QVERIFY(send(Send::sleepEnds));
        QVERIFY(send(Send::screenSaverStops));
        QTRY_COMPARE_WITH_TIMEOUT(observed->reasons.size(), reasons + 2, patience);
        QCOMPARE(away, expected);
    }

    void findsTheCallersSession_data()
    {
        QTest::addColumn<bool>("pidHasSession");
        QTest::addColumn<bool>("autoWorks");
        QTest::addColumn<QByteArray>("sessionId");
        QTest::addColumn<QString>("expectedPath");

        QTest::newRow("by process id") << true << true << QByteArray("7") << sessionByPid;
        QTest::newRow("auto when the process has none")
            << false << true << QByteArray("7") << sessionAuto;
        QTest::newRow("XDG_SESSION_ID last")
            << false << false << QByteArray("7") << sessionFromEnvironment;
        QTest::newRow("none at all") << false << false << QByteArray() << QString();
        QTest::newRow("unknown XDG_SESSION_ID") << false << false << QByteArray("99") << QString();
    }

    void findsTheCallersSession()
    {
        QFETCH(bool, pidHasSession);
        QFETCH(bool, autoWorks);
        QFETCH(QByteArray, sessionId);
        QFETCH(QString, expectedPath);
        m_manager.pidHasSession = pidHasSession;
        m_manager.autoWorks = autoWorks;
        if (!sessionId.isEmpty())
            qputenv("XDG_SESSION_ID", sessionId);

        const auto observed = observeDefault();
        QVERIFY(observed);
        QCOMPARE(m_manager.pidsAsked, QList<uint>{uint(QCoreApplication::applicationPid())});
        QCOMPARE(observed->source->sessionPath(), expectedPath);

        // The followed session's unlock counts; without a session, waking still does.
        QStringList expected;
        if (!expectedPath.isEmpty()) {
            QDBusMessage unlock =
                QDBusMessage::createSignal(expectedPath, sessionInterface, u"Unlock"_s);
            QVERIFY(logind().send(unlock));
            expected.append(u"unlock"_s);
        }
        QVERIFY(send(Send::sleepEnds));
        expected.append(u"wake"_s);
        QTRY_COMPARE_WITH_TIMEOUT(observed->reasons, expected, patience);
    }

    // A bus that cannot be reached takes away its own events and nothing else, without a word.
    void missingBus_data()
    {
        QTest::addColumn<bool>("systemBus");
        QTest::addColumn<bool>("sessionBus");

        QTest::newRow("no system bus") << false << true;
        QTest::newRow("no session bus") << true << false;
        QTest::newRow("neither bus") << false << false;
    }

    void missingBus()
    {
        QFETCH(bool, systemBus);
        QFETCH(bool, sessionBus);
        QTest::failOnWarning(QRegularExpression(u".*"_s));

        // A monitor on both buses is the witness: the events have reached every receiver once
        // they have reached it.
        const auto witness = observeDefault();
        QVERIFY(witness);
        const auto observed = observe(std::make_unique<LogindEventSource>(
            systemBus ? QDBusConnection::systemBus() : absent(),
            sessionBus ? QDBusConnection::sessionBus() : absent()));
        QVERIFY(observed);
        QCOMPARE(observed->source->sessionPath().isEmpty(), !systemBus);

        for (Send what : {Send::sleepEnds, Send::unlock, Send::screenSaverStops})
            QVERIFY(send(what));
        const QStringList all{u"wake"_s, u"unlock"_s, u"unlock"_s};
        QTRY_COMPARE_WITH_TIMEOUT(witness->reasons, all, patience);

        QStringList expected;
        if (systemBus)
            expected << u"wake"_s << u"unlock"_s;
        if (sessionBus)
            expected << u"unlock"_s;
        QCOMPARE(observed->reasons, expected);
    }

    // Gone while its session lookup is still out: the late reply and later events reach nothing.
    void destroyedWhileLookingUp()
    {
        const auto witness = observeDefault();
        QVERIFY(witness);

        m_manager.holdNextReply = true;
        auto doomed = observe(std::make_unique<LogindEventSource>(), false);
        QVERIFY(doomed);
        QTRY_COMPARE_WITH_TIMEOUT(m_manager.heldCalls.size(), 1, patience);
        doomed->monitor.reset(); // the record stays, to be looked at

        QVERIFY(logind().send(m_manager.heldCalls.takeFirst()));
        for (Send what : {Send::sleepEnds, Send::unlock, Send::screenSaverStops})
            QVERIFY(send(what));
        QTRY_COMPARE_WITH_TIMEOUT(witness->reasons,
                                  (QStringList{u"wake"_s, u"unlock"_s, u"unlock"_s}), patience);
        QCOMPARE(doomed->reasons, QStringList());
    }
};

QTEST_GUILESS_MAIN(LogindEventsTest)
#include "tst_logindevents.moc"
