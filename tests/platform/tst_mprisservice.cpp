#include "linux/mpris/MprisService.h"

#include "briefing/BriefingServices.h"
#include "linux/speech/SpeechDispatcherEngine.h"
#include "speech/SpeechEngine.h"
#include "support/FeedMirror.h"
#include "support/PostedEvents.h"
#include "support/PrivateBus.h"
#include "support/SpeechServer.h"
#include "support/TestData.h"
#include "time/Clock.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDateTime>
#include <QLocale>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace vardelle;
using namespace Qt::StringLiterals;

namespace {

constexpr int patience = test::SpeechServer::timeoutMs;

const QString properties = u"org.freedesktop.DBus.Properties"_s;

// A title long enough that the speech service is still at it when the test acts on it.
QString longTitle(const QString& name)
{
    QString title = name + u':';
    while (title.size() < 900)
        title += u" a patched gateway was found exposed on many networks again"_s;
    return title;
}

// An RSS feed of stories with links, published within the last hour.
QByteArray feed(const QStringList& names, const QString& link)
{
    QByteArray xml = "<?xml version=\"1.0\"?><rss><channel><title>Fixture</title>";
    const QString date = QLocale::c().toString(QDateTime::currentDateTimeUtc().addSecs(-600),
                                               u"ddd, dd MMM yyyy HH:mm:ss +0000"_s);
    for (const QString& name : names) {
        xml += "<item><guid>" + name.toUtf8() + "</guid><title>" + longTitle(name).toUtf8() +
               "</title><link>" + link.arg(name).toUtf8() + "</link><pubDate>" + date.toUtf8() +
               "</pubDate></item>";
    }
    return xml + "</channel></rss>";
}

// What the player announced with PropertiesChanged, newest last.
class ChangeRecorder : public QObject {
    Q_OBJECT

public:
    QList<QVariantMap> changes;

    // The last value announced for `name`, with a{sv} values made maps.
    QVariant last(const QString& name) const
    {
        for (auto it = changes.crbegin(); it != changes.crend(); ++it) {
            if (it->contains(name))
                return it->value(name);
        }
        return {};
    }

public slots:
    void changed(const QString& interface, const QVariantMap& values, const QStringList&)
    {
        if (interface != MprisService::playerInterface)
            return;
        QVariantMap plain = values;
        for (auto it = plain.begin(); it != plain.end(); ++it) {
            if (it->canConvert<QDBusArgument>())
                *it = qdbus_cast<QVariantMap>(it->value<QDBusArgument>());
        }
        changes.append(plain);
    }
};

} // namespace

class MprisServiceTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    test::PrivateBus m_bus;
    test::SpeechServer m_speech;
    std::unique_ptr<test::FeedMirror> m_mirror;
    std::unique_ptr<BriefingServices> m_services;
    std::unique_ptr<MprisService> m_player;
    QDBusConnection m_client{QString()};
    ChangeRecorder m_recorder;

    AppCoordinator& coordinator() const { return m_services->coordinator; }

    QDBusMessage call(const QString& interface, const QString& method,
                      const QVariantList& arguments = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            MprisService::serviceName, MprisService::objectPath, interface, method);
        message.setArguments(arguments);
        // The player answers from this thread: wait with the event loop running.
        return m_client.call(message, QDBus::BlockWithGui);
    }
    QVariantMap all(const QString& interface)
    {
        const QDBusMessage reply = call(properties, u"GetAll"_s, {interface});
        if (reply.type() != QDBusMessage::ReplyMessage)
            return {};
        return qdbus_cast<QVariantMap>(reply.arguments().constFirst().value<QDBusArgument>());
    }
    QVariant property(const QString& name)
    {
        const QDBusMessage reply =
            call(properties, u"Get"_s, {MprisService::playerInterface, name});
        if (reply.type() != QDBusMessage::ReplyMessage)
            return {};
        QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
        if (value.canConvert<QDBusArgument>())
            value = qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
        return value;
    }
    bool player(const QString& method)
    {
        return call(MprisService::playerInterface, method).type() == QDBusMessage::ReplyMessage;
    }
    qsizetype readingIndex() const
    {
        const auto reading = coordinator().reading();
        return reading ? reading->index : -1;
    }
    // Plays a new briefing and waits until its first story is being read.
    void playToFirstStory()
    {
        QVERIFY(player(u"Play"_s));
        QTRY_VERIFY_WITH_TIMEOUT(readingIndex() >= 1, patience);
    }

private slots:
    void initTestCase()
    {
        const QString daemon = QStandardPaths::findExecutable(u"dbus-daemon"_s);
        if (daemon.isEmpty())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon or dbus-bin)");
        if (!test::SpeechServer::isInstalled())
            QSKIP("speech-dispatcher is not installed");
        QVERIFY(m_home.isValid());
        test::useUserFolders(m_home.path());
        QVERIFY(m_bus.start(m_home.path(), daemon));
        const QString error = m_speech.start();
        QVERIFY2(error.isEmpty(), qPrintable(error));

        const QString feeds = m_home.filePath(u"feeds"_s);
        m_mirror = std::make_unique<test::FeedMirror>(feeds);
        test::writeFile(feeds + u"/bleepingcomputer.xml"_s,
                        feed({u"First"_s, u"Second"_s}, u"https://news.example/%1"_s));
        test::writeFile(feeds + u"/talos.xml"_s, feed({u"Third"_s}, u"ftp://files.example/%1"_s));

        m_services = std::make_unique<BriefingServices>(
            std::make_unique<SpeechDispatcherEngine>(
                SpeechDispatcherAddress{m_speech.socketPath(), false}),
            Clock::system());
        m_player = std::make_unique<MprisService>(
            coordinator(), [this] { coordinator().announce(AnnounceReason::manual); });
        QVERIFY(m_player->registerOn(QDBusConnection::connectToBus(m_bus.address(), u"app"_s)));

        m_client = QDBusConnection::connectToBus(m_bus.address(), u"desktop"_s);
        QVERIFY(m_client.connect(MprisService::serviceName, MprisService::objectPath, properties,
                                 u"PropertiesChanged"_s, &m_recorder,
                                 SLOT(changed(QString, QVariantMap, QStringList))));
    }

    // Each test starts stopped, with the stories not yet told.
    void init()
    {
        coordinator().stop();
        coordinator().forgetHistory();
        QTRY_COMPARE(property(u"PlaybackStatus"_s).toString(), u"Stopped"_s);
        m_recorder.changes.clear();
    }

    void cleanupTestCase()
    {
        if (m_services)
            coordinator().stop();
        m_player.reset();
        m_services.reset();
        m_speech.stop();
    }

    void introspection()
    {
        const QDBusMessage reply = call(u"org.freedesktop.DBus.Introspectable"_s, u"Introspect"_s);
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        const QString xml = reply.arguments().constFirst().toString();
        const QStringList expected{
            uR"(<interface name="org.mpris.MediaPlayer2">)"_s,
            uR"(<property name="Identity" type="s" access="read"/>)"_s,
            uR"(<property name="DesktopEntry" type="s" access="read"/>)"_s,
            uR"(<method name="Raise")"_s,
            uR"(<method name="Quit")"_s,
            uR"(<interface name="org.mpris.MediaPlayer2.Player">)"_s,
            uR"(<property name="PlaybackStatus" type="s" access="read"/>)"_s,
            uR"(<property name="Metadata" type="a{sv}" access="read">)"_s,
            uR"(<property name="Position" type="x" access="read"/>)"_s,
            uR"(<property name="CanGoNext" type="b" access="read"/>)"_s,
            uR"(<method name="Next")"_s,
            uR"(<method name="PlayPause")"_s,
            uR"(<method name="Stop")"_s,
            uR"(<method name="Seek")"_s,
            uR"(<signal name="Seeked">)"_s,
        };
        for (const QString& part : expected)
            QVERIFY2(xml.contains(part), qPrintable(part + u" missing from\n"_s + xml));
    }

    void propertiesWhenStopped()
    {
        const QVariantMap root = all(MprisService::rootInterface);
        QCOMPARE(root.value(u"Identity"_s).toString(), u"Vardelle"_s);
        QCOMPARE(root.value(u"DesktopEntry"_s).toString(), u"vardelle"_s);
        QCOMPARE(root.value(u"CanQuit"_s), QVariant(false));
        QCOMPARE(root.value(u"HasTrackList"_s), QVariant(false));
        const QVariantMap player = all(MprisService::playerInterface);
        QCOMPARE(player.value(u"PlaybackStatus"_s).toString(), u"Stopped"_s);
        QCOMPARE(player.value(u"CanGoNext"_s), QVariant(false));
        QCOMPARE(player.value(u"CanPlay"_s), QVariant(true));
        QCOMPARE(player.value(u"CanPause"_s), QVariant(true));
        QCOMPARE(player.value(u"CanControl"_s), QVariant(true));
        QCOMPARE(player.value(u"CanSeek"_s), QVariant(false));
        QVERIFY(property(u"Metadata"_s).toMap().isEmpty());
    }

    // Each method from each playback status.
    void methods_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<bool>("playing"); // before
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("newBriefing");
        QTest::newRow("Play when stopped") << u"Play"_s << false << u"Playing"_s << true;
        QTest::newRow("PlayPause when stopped") << u"PlayPause"_s << false << u"Playing"_s << true;
        QTest::newRow("Play while playing") << u"Play"_s << true << u"Playing"_s << false;
        QTest::newRow("PlayPause while playing") << u"PlayPause"_s << true << u"Stopped"_s << false;
        QTest::newRow("Pause while playing") << u"Pause"_s << true << u"Stopped"_s << false;
        QTest::newRow("Stop while playing") << u"Stop"_s << true << u"Stopped"_s << false;
        QTest::newRow("Pause when stopped") << u"Pause"_s << false << u"Stopped"_s << false;
        QTest::newRow("Stop when stopped") << u"Stop"_s << false << u"Stopped"_s << false;
        QTest::newRow("Next when stopped") << u"Next"_s << false << u"Stopped"_s << false;
        QTest::newRow("Previous while playing") << u"Previous"_s << true << u"Playing"_s << false;
    }
    void methods()
    {
        QFETCH(QString, method);
        QFETCH(bool, playing);
        QFETCH(QString, after);
        QFETCH(bool, newBriefing);
        if (playing)
            playToFirstStory();
        QSignalSpy briefings(&coordinator(), &AppCoordinator::speaking);
        const qsizetype index = readingIndex();

        QVERIFY(player(method));
        if (newBriefing)
            QTRY_COMPARE_WITH_TIMEOUT(briefings.size(), 1, patience);
        QTRY_COMPARE_WITH_TIMEOUT(property(u"PlaybackStatus"_s).toString(), after, patience);
        if (playing || newBriefing) // a change is announced
            QTRY_COMPARE_WITH_TIMEOUT(m_recorder.last(u"PlaybackStatus"_s).toString(), after,
                                      patience);
        if (!newBriefing) {
            QCOMPARE(briefings.size(), 0);
            if (after == u"Playing")
                QCOMPARE(readingIndex(), index); // still the same story
        }
    }

    // Mid-briefing: Next goes on with the next story at once, and the track follows; Stop ends
    // it, and nothing more is read.
    void nextAndStopMidBriefing()
    {
        playToFirstStory();
        const qsizetype story = readingIndex();
        QCOMPARE(property(u"CanGoNext"_s), QVariant(true));
        const QVariantMap before = property(u"Metadata"_s).toMap();
        QCOMPARE(before.value(u"xesam:title"_s).toString(),
                 coordinator().reading()->part.story->title);

        QVERIFY(player(u"Next"_s));
        QTRY_COMPARE_WITH_TIMEOUT(readingIndex(), story + 1, patience);
        const auto reading = coordinator().reading();
        QVERIFY(reading->part.story);
        const QVariantMap track = property(u"Metadata"_s).toMap();
        QCOMPARE(track.value(u"xesam:title"_s).toString(), reading->part.story->title);
        QCOMPARE(track.value(u"xesam:artist"_s).toStringList(),
                 QStringList{reading->part.story->source});
        QCOMPARE(track.value(u"mpris:trackid"_s).value<QDBusObjectPath>().path(),
                 u"/org/vardelle/briefing/%1/%2"_s.arg(reading->run).arg(reading->index));
        const QString link = reading->part.story->link;
        QCOMPARE(track.value(u"xesam:url"_s).toString(),
                 link.startsWith(u"https:"_s) ? link : QString());
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder.last(u"Metadata"_s).toMap(), track, patience);

        QSignalSpy readings(&coordinator(), &AppCoordinator::readingChanged);
        // The speech service's report on the part cut short is what could set off more reading.
        QSignalSpy reports(&m_services->speaker.engine(), &SpeechEngine::cancelled);
        QSignalSpy ends(&m_services->speaker.engine(), &SpeechEngine::finished);
        QVERIFY(player(u"Stop"_s));
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder.last(u"PlaybackStatus"_s).toString(), u"Stopped"_s,
                                  patience);
        QVERIFY(m_recorder.last(u"Metadata"_s).toMap().isEmpty());
        QCOMPARE(m_recorder.last(u"CanGoNext"_s), QVariant(false));
        QTRY_VERIFY_WITH_TIMEOUT(reports.size() + ends.size() > 0, patience);
        QVERIFY(test::deliverPostedEvents());
        QCOMPARE(readings.size(), 1); // the end of reading, and nothing after it
        QVERIFY(!coordinator().reading());
        QVERIFY(!m_services->speaker.isSpeaking());
    }

    // Next on the last story has nowhere to go (the closing is no story): CanGoNext is false
    // and nothing happens.
    void noNextOnTheLastStory()
    {
        QVERIFY(player(u"Play"_s));
        QTRY_VERIFY_WITH_TIMEOUT(coordinator().reading(), patience);
        while (coordinator().hasNextPart()) {
            const qsizetype index = coordinator().reading()->index;
            QVERIFY(player(u"Next"_s));
            QTRY_VERIFY_WITH_TIMEOUT(
                coordinator().reading() && coordinator().reading()->index > index, patience);
        }
        QTRY_COMPARE_WITH_TIMEOUT(property(u"CanGoNext"_s), QVariant(false), patience);
        QVERIFY(player(u"Next"_s));
    }
};

QTEST_GUILESS_MAIN(MprisServiceTest)
#include "tst_mprisservice.moc"
