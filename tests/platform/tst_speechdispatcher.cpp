#include "linux/speech/SpeechDispatcherEngine.h"
#include "linux/speech/SpeechDispatcherVoices.h"
#include "speech/Speaker.h"

#include "support/SpeechServer.h"
#include "support/TestData.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>
#include <memory>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace vardelle;
using Id = SpeechEngine::UtteranceId;

namespace {

// Long enough that a stop always reaches the server while it is still being spoken.
QString longText()
{
    QString text;
    for (int i = 1; i <= 300; ++i)
        text += QStringLiteral("This is sentence number %1 of a rather long briefing. ").arg(i);
    return text;
}

QList<Id> ids(const QSignalSpy& spy)
{
    QList<Id> result;
    for (const QList<QVariant>& arguments : spy)
        result.append(arguments.at(0).value<Id>());
    return result;
}

constexpr int serverTimeoutMs = test::SpeechServer::timeoutMs;

// A server that answers each command line it reads with the next of `replies`, as they stand,
// and closes the connection after the last.
struct ScriptedServer {
    int client = -1;
    std::thread thread;

    explicit ScriptedServer(QList<QByteArray> replies)
    {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
            return;
        client = ends[0];
        thread = std::thread([this, server = ends[1], replies = std::move(replies)] {
            QByteArray read;
            for (const QByteArray& reply : replies) {
                while (!read.contains('\n')) {
                    char chunk[4096];
                    const ssize_t n = ::read(server, chunk, sizeof chunk);
                    if (n <= 0)
                        break;
                    read.append(chunk, n);
                }
                read.remove(0, read.indexOf('\n') + 1);
                for (qsizetype sent = 0; sent < reply.size();) {
                    const ssize_t n = ::send(server, reply.constData() + sent,
                                             size_t(reply.size() - sent), MSG_NOSIGNAL);
                    if (n <= 0)
                        break;
                    sent += n;
                }
            }
            ::close(server);
        });
    }
    ~ScriptedServer()
    {
        if (client >= 0)
            ::shutdown(client, SHUT_RDWR);
        if (thread.joinable())
            thread.join();
        if (client >= 0)
            ::close(client);
    }
};

} // namespace

// Every test that needs the server starts it (once) through this; skips without the program.
#define REQUIRE_SPEECH_DISPATCHER()                                                                \
    do {                                                                                           \
        if (!test::SpeechServer::isInstalled())                                                    \
            QSKIP("speech-dispatcher is not installed");                                           \
        startServer();                                                                             \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

class SpeechDispatcherTest : public QObject {
    Q_OBJECT

private:
    test::SpeechServer m_server;

    SpeechDispatcherAddress address() const { return {m_server.socketPath(), false}; }

    void startServer()
    {
        const QString error = m_server.start();
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

private slots:
    void cleanupTestCase() { m_server.stop(); }

    // The voice list read from the server's replies: every voice of the modules it lets be
    // listed, and no hang or unbounded read on a reply that never ends or is not SSIP.
    void voicesFromReplies_data()
    {
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<QStringList>("voices");
        QTest::addColumn<bool>("failed");

        const QByteArray modules = "250-espeak-ng\r\n250-rhvoice\r\n250 OK MODULE LIST SENT\r\n";
        const QByteArray set = "216 OK OUTPUT MODULE SET\r\n";
        const QByteArray espeak = "249-English (America)+Adam\ten-us\tAdam\r\n"
                                  "249-German\tde\tnone\r\n249 OK VOICE LIST SENT\r\n";
        const QByteArray rhvoice = "249-slt\ten\r\n249 OK VOICE LIST SENT\r\n";
        QTest::newRow("two modules") << QList<QByteArray>{modules, set, espeak, set, rhvoice}
                                     << QStringList{u"espeak-ng/English (America)+Adam"_qs,
                                                    u"espeak-ng/German"_qs, u"rhvoice/slt"_qs}
                                     << false;
        QTest::newRow("a module the server will not choose is passed over")
            << QList<QByteArray>{modules, "410 ERR INTERNAL\r\n", set, rhvoice}
            << QStringList{u"rhvoice/slt"_qs} << false;
        QTest::newRow("no modules")
            << QList<QByteArray>{"250 OK MODULE LIST SENT\r\n"} << QStringList() << false;
        QTest::newRow("the list of modules refused")
            << QList<QByteArray>{"500 ERR UNKNOWN\r\n"} << QStringList() << true;
        QTest::newRow("closed in the middle of a list: what came is kept")
            << QList<QByteArray>{modules, set, espeak, set, "249-slt\ten\r\n249-clb\ten"}
            << QStringList{u"espeak-ng/English (America)+Adam"_qs, u"espeak-ng/German"_qs} << true;
        QTest::newRow("not the protocol")
            << QList<QByteArray>{"HTTP/1.1 200 OK\r\n\r\n"} << QStringList() << true;
        QTest::newRow("a reply without end")
            << QList<QByteArray>{modules, set,
                                 QByteArray("249-Voice\ten\tnone\r\n").repeated(120'000)}
            << QStringList() << true;
        QTest::newRow("one endless line")
            << QList<QByteArray>{QByteArray("250-") + QByteArray(20 * 1024 * 1024, 'x')}
            << QStringList() << true;
    }
    void voicesFromReplies()
    {
        QFETCH(QList<QByteArray>, replies);
        QFETCH(QStringList, voices);
        QFETCH(bool, failed);
        QStringList listed;
        QString error;
        {
            ScriptedServer server(replies);
            QVERIFY(server.client >= 0);
            SsipConversation conversation(server.client, QDeadlineTimer(serverTimeoutMs));
            for (const SpeechVoice& voice : conversation.listVoices())
                listed.append(voice.identifier);
            error = conversation.error();
        }
        QCOMPARE(listed, voices);
        QCOMPARE(!error.isEmpty(), failed);
    }

    // A server that says nothing ends the conversation at its deadline.
    void silentServerEndsAtTheDeadline()
    {
        int ends[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        SsipConversation conversation(ends[0], QDeadlineTimer(200));
        QCOMPARE(conversation.ask("LIST OUTPUT_MODULES"), std::nullopt);
        QCOMPARE(conversation.error(), u"speech-dispatcher did not answer in time"_qs);
        ::close(ends[0]);
        ::close(ends[1]);
    }

    void rateOnTheServerScale_data()
    {
        QTest::addColumn<float>("rate");
        QTest::addColumn<int>("expected");
        QTest::newRow("normal") << 0.5f << 0;
        QTest::newRow("slowest") << 0.0f << -100;
        QTest::newRow("fastest") << 1.0f << 100;
        QTest::newRow("slowest setting") << 0.35f << -30;
        QTest::newRow("default setting") << 0.525f << 5;
        QTest::newRow("fastest setting") << 0.70f << 40;
        QTest::newRow("above the scale") << 3.0f << 100;
        QTest::newRow("below the scale") << -1.0f << -100;
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 0;
    }
    void rateOnTheServerScale()
    {
        QFETCH(float, rate);
        QFETCH(int, expected);
        QCOMPARE(SpeechDispatcherEngine::dispatcherRate(rate), expected);
    }

    void voiceDescription_data()
    {
        QTest::addColumn<QString>("module");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("variant");
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("quality");
        const int standard = int(SpeechVoiceQuality::Default);
        const int enhanced = int(SpeechVoiceQuality::Enhanced);
        const int premium = int(SpeechVoiceQuality::Premium);
        QTest::newRow("espeak-ng base voice") << "espeak-ng"
                                              << "English (America)"
                                              << "en-us"
                                              << "none"
                                              << "espeak-ng/English (America)"
                                              << "English (America)"
                                              << "en-US" << standard;
        QTest::newRow("espeak-ng variant") << "espeak-ng"
                                           << "English (Great Britain)+Adam"
                                           << "en"
                                           << "Adam"
                                           << "espeak-ng/English (Great Britain)+Adam"
                                           << "English (Great Britain), Adam"
                                           << "en" << standard;
        QTest::newRow("numeric region, private use kept lower case")
            << "espeak-ng"
            << "English (Received Pronunciation)"
            << "en-gb-x-rp"
            << "none"
            << "espeak-ng/English (Received Pronunciation)"
            << "English (Received Pronunciation)"
            << "en-GB-x-rp" << standard;
        QTest::newRow("caribbean") << "espeak-ng"
                                   << "English (Caribbean)"
                                   << "en-029"
                                   << "none"
                                   << "espeak-ng/English (Caribbean)"
                                   << "English (Caribbean)"
                                   << "en-029" << standard;
        QTest::newRow("script and underscore") << "espeak-ng"
                                               << "Serbian"
                                               << "sr_latn_rs"
                                               << "none"
                                               << "espeak-ng/Serbian"
                                               << "Serbian"
                                               << "sr-Latn-RS" << standard;
        QTest::newRow("neural module") << "piper"
                                       << "en_US-amy-medium"
                                       << "en-US"
                                       << "none"
                                       << "piper/en_US-amy-medium"
                                       << "en_US-amy-medium"
                                       << "en-US" << premium;
        QTest::newRow("diphone voices") << "espeak-ng-mbrola"
                                        << "en1"
                                        << "en-GB"
                                        << "none"
                                        << "espeak-ng-mbrola/en1"
                                        << "en1"
                                        << "en-GB" << enhanced;
        QTest::newRow("variant that is the whole name") << "flite"
                                                        << "kal"
                                                        << "en"
                                                        << "kal"
                                                        << "flite/kal"
                                                        << "kal"
                                                        << "en" << standard;
    }
    void voiceDescription()
    {
        QFETCH(QString, module);
        QFETCH(QString, name);
        QFETCH(QString, language);
        QFETCH(QString, variant);
        QFETCH(QString, identifier);
        QFETCH(QString, displayName);
        QFETCH(QString, tag);
        QFETCH(int, quality);
        const SpeechVoice voice = dispatcherVoice(module, name, language, variant);
        QCOMPARE(voice.identifier, identifier);
        QCOMPARE(voice.name, displayName);
        QCOMPARE(voice.language, tag);
        QCOMPARE(int(voice.quality), quality);
    }

    void unreachableServerEndsSpeechAtOnce()
    {
        QTemporaryDir nowhere;
        SpeechDispatcherEngine engine({nowhere.filePath(QStringLiteral("no.sock")), false});
        QSignalSpy finished(&engine, &SpeechEngine::finished);
        QSignalSpy cancelled(&engine, &SpeechEngine::cancelled);
        QSignalSpy unavailable(&engine, &SpeechEngine::unavailable);
        const Id id = engine.speak(QStringLiteral("Nobody hears this."), {}, 0.5f);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, serverTimeoutMs);
        QCOMPARE(ids(finished), QList<Id>{id});
        QVERIFY(cancelled.isEmpty());
        QCOMPARE(unavailable.size(), 1);
        QVERIFY(unavailable.first().at(0).toString().contains(u"speech-dispatcher"));

        engine.loadVoices();
        QTRY_VERIFY_WITH_TIMEOUT(engine.voicesLoaded(), serverTimeoutMs);
        QVERIFY(engine.voices().isEmpty());
    }

    void speechEnds()
    {
        REQUIRE_SPEECH_DISPATCHER();
        SpeechDispatcherEngine engine(address());
        QSignalSpy finished(&engine, &SpeechEngine::finished);
        QSignalSpy cancelled(&engine, &SpeechEngine::cancelled);
        QSignalSpy unavailable(&engine, &SpeechEngine::unavailable);
        const Id id = engine.speak(QStringLiteral("Two new stories."), {}, 0.525f);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, serverTimeoutMs);
        QCOMPARE(ids(finished), QList<Id>{id});
        QVERIFY(cancelled.isEmpty());
        QVERIFY(unavailable.isEmpty());
    }

    void stopCancelsSpeech()
    {
        REQUIRE_SPEECH_DISPATCHER();
        SpeechDispatcherEngine engine(address());
        QSignalSpy finished(&engine, &SpeechEngine::finished);
        QSignalSpy cancelled(&engine, &SpeechEngine::cancelled);
        const Id id = engine.speak(longText(), {}, 0.35f);
        engine.stop();
        QTRY_COMPARE_WITH_TIMEOUT(cancelled.size(), 1, serverTimeoutMs);
        QCOMPARE(ids(cancelled), QList<Id>{id});
        QVERIFY(finished.isEmpty());
    }

    // The speaker over the real engine: a text cut off by the next one ends once, at once; the
    // server's late report of that cut leaves the next text alone, which ends by itself.
    void speakerCutsOffAndFinishes()
    {
        REQUIRE_SPEECH_DISPATCHER();
        Speaker speaker(std::make_unique<SpeechDispatcherEngine>(address()));
        QSignalSpy cancelled(&speaker.engine(), &SpeechEngine::cancelled);
        int firstRuns = 0;
        int secondRuns = 0;
        speaker.speak(longText(), {}, 0.5, [&firstRuns] { ++firstRuns; });
        speaker.speak(QStringLiteral("Nothing else is new."), {}, 0.5,
                      [&secondRuns] { ++secondRuns; });
        QCOMPARE(firstRuns, 1);
        QTRY_COMPARE_WITH_TIMEOUT(secondRuns, 1, serverTimeoutMs);
        QVERIFY(!speaker.isSpeaking());
        QTRY_COMPARE_WITH_TIMEOUT(cancelled.size(), 1, serverTimeoutMs);
        QCOMPARE(firstRuns, 1);
        QCOMPARE(secondRuns, 1);
    }

    void englishVoicesAreListed()
    {
        REQUIRE_SPEECH_DISPATCHER();
        Speaker speaker(std::make_unique<SpeechDispatcherEngine>(address()));
        QSignalSpy unavailable(&speaker.engine(), &SpeechEngine::unavailable);
        speaker.loadVoices();
        QTRY_VERIFY_WITH_TIMEOUT(speaker.voicesLoaded(), serverTimeoutMs);
        QVERIFY(unavailable.isEmpty());

        const QList<SpeechVoice> english = speaker.englishVoices();
        QVERIFY(!english.isEmpty());
        QVERIFY(english.size() < speaker.engine().voices().size());
        QSet<QString> identifiers;
        for (const SpeechVoice& voice : english) {
            QVERIFY2(voice.language.startsWith(u"en"), qPrintable(voice.identifier));
            identifiers.insert(voice.identifier);
        }
        QCOMPARE(identifiers.size(), english.size());
        const auto american = std::find_if(english.begin(), english.end(), [](const auto& v) {
            return v.identifier == QStringLiteral("espeak-ng/English (America)");
        });
        QVERIFY(american != english.end());
        QCOMPARE(american->language, QStringLiteral("en-US"));
        QCOMPARE(american->quality, SpeechVoiceQuality::Default);

        // A listed voice speaks.
        int runs = 0;
        speaker.speak(QStringLiteral("Hello."), american->identifier, 0.5, [&runs] { ++runs; });
        QTRY_COMPARE_WITH_TIMEOUT(runs, 1, serverTimeoutMs);
    }
};

QTEST_GUILESS_MAIN(SpeechDispatcherTest)
#include "tst_speechdispatcher.moc"
