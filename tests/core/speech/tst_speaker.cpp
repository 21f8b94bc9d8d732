#include "speech/SilentSpeechEngine.h"
#include "speech/Speaker.h"

#include "support/FakeSpeechEngine.h"
#include "support/PostedEvents.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace vardelle;
using namespace std::chrono_literals;
using test::FakeSpeechEngine;
using Id = SpeechEngine::UtteranceId;

namespace {

enum class Report { Finished, Cancelled };

SpeechVoice voice(const QString& identifier, const QString& name, const QString& language,
                  SpeechVoiceQuality quality = SpeechVoiceQuality::Default)
{
    return {identifier, name, language, quality};
}

QStringList identifiers(const QList<SpeechVoice>& voices)
{
    QStringList result;
    for (const SpeechVoice& v : voices)
        result.append(v.identifier);
    return result;
}

} // namespace

Q_DECLARE_METATYPE(Report)

class SpeakerTest : public QObject {
    Q_OBJECT

private:
    // A speaker over a fake engine, and how often each completion ran.
    struct Fixture {
        FakeSpeechEngine* engine = new FakeSpeechEngine;
        Speaker speaker{std::unique_ptr<SpeechEngine>(engine)};
        QMap<QString, int> runs;

        Speaker::Completion counting(const QString& name)
        {
            return [this, name] { ++runs[name]; };
        }
        void speak(const QString& text, const QString& name, const QString& voiceId = {},
                   double rate = 0.5)
        {
            speaker.speak(text, voiceId, rate, counting(name));
        }
        void report(Report report, Id id)
        {
            if (report == Report::Finished)
                engine->finish(id);
            else
                engine->cancel(id);
        }
    };

    static void addReportRows()
    {
        QTest::addColumn<Report>("report");
        QTest::newRow("finished") << Report::Finished;
        QTest::newRow("cancelled") << Report::Cancelled;
    }

private slots:
    void speedSettingMapsOntoTheEngineRate_data()
    {
        QTest::addColumn<double>("setting");
        QTest::addColumn<float>("expected");
        QTest::newRow("slowest") << 0.0 << 0.35f;
        QTest::newRow("default") << 0.5 << 0.525f;
        QTest::newRow("fastest stays short of the engine's maximum") << 1.0 << 0.70f;
        QTest::newRow("quarter") << 0.25 << 0.4375f;
    }
    void speedSettingMapsOntoTheEngineRate()
    {
        QFETCH(double, setting);
        QFETCH(float, expected);
        Fixture f;
        f.speaker.speak(QStringLiteral("Hello."), {}, setting);
        QCOMPARE(f.engine->spoken().size(), 1);
        QCOMPARE(f.engine->spoken().first().rate, expected);
    }

    void textIsTrimmedAndBlankTextSpeaksNothing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("spoken"); // empty: nothing reaches the engine
        QTest::newRow("plain") << QStringLiteral("Two stories.") << QStringLiteral("Two stories.");
        QTest::newRow("padded") << QStringLiteral(" \n\tTwo stories.\r\n ")
                                << QStringLiteral("Two stories.");
        QTest::newRow("inner breaks kept")
            << QStringLiteral("\nOne.\n\nTwo.\n") << QStringLiteral("One.\n\nTwo.");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("spaces and line breaks") << QStringLiteral("  \n\r\n\t \u00a0") << QString();
    }
    void textIsTrimmedAndBlankTextSpeaksNothing()
    {
        QFETCH(QString, text);
        QFETCH(QString, spoken);
        Fixture f;
        f.speak(text, QStringLiteral("c"));
        if (spoken.isEmpty()) {
            QVERIFY(f.engine->spoken().isEmpty());
            QCOMPARE(f.runs.value(QStringLiteral("c")), 1);
            QVERIFY(!f.speaker.isSpeaking());
        } else {
            QCOMPARE(f.engine->spoken().size(), 1);
            QCOMPARE(f.engine->spoken().first().text, spoken);
            QCOMPARE(f.runs.value(QStringLiteral("c")), 0);
            QVERIFY(f.speaker.isSpeaking());
        }
    }

    // However an utterance ends, its completion runs once and later reports about it do nothing.
    void completionRunsOnceWhenTheEngineReports_data() { addReportRows(); }
    void completionRunsOnceWhenTheEngineReports()
    {
        QFETCH(Report, report);
        Fixture f;
        QSignalSpy speaking(&f.speaker, &Speaker::isSpeakingChanged);
        f.speak(QStringLiteral("News."), QStringLiteral("c"));
        QVERIFY(f.speaker.isSpeaking());
        QCOMPARE(speaking.takeLast().at(0).toBool(), true);

        f.report(report, f.engine->lastId());
        QCOMPARE(f.runs.value(QStringLiteral("c")), 1);
        QVERIFY(!f.speaker.isSpeaking());
        QCOMPARE(speaking.takeLast().at(0).toBool(), false);

        f.engine->finish(f.engine->lastId());
        f.engine->cancel(f.engine->lastId());
        f.speaker.stop();
        QCOMPARE(f.runs.value(QStringLiteral("c")), 1);
    }

    void stopRunsThePendingCompletionOnce()
    {
        Fixture f;
        f.speak(QStringLiteral("News."), QStringLiteral("c"));
        f.speaker.stop();
        QCOMPARE(f.runs.value(QStringLiteral("c")), 1);
        QCOMPARE(f.engine->stops(), 1);
        QVERIFY(!f.speaker.isSpeaking());

        f.speaker.stop();
        f.engine->cancel(f.engine->lastId()); // the engine's report of the stop, arriving late
        QCOMPARE(f.runs.value(QStringLiteral("c")), 1);
        QCOMPARE(f.engine->stops(), 1); // nothing left to cut off
    }

    void stopWhileIdleStillPublishesNotSpeaking()
    {
        Fixture f;
        QSignalSpy speaking(&f.speaker, &Speaker::isSpeakingChanged);
        f.speaker.stop();
        QCOMPARE(speaking.size(), 1);
        QCOMPARE(speaking.first().at(0).toBool(), false);
        QCOMPARE(f.engine->stops(), 0);
    }

    // The earlier text is cut off and its completion runs inside the new call, before the new
    // text reaches the engine; a late report about the earlier text leaves the new one alone.
    void newTextCutsOffTheOldAndIgnoresItsLateReports_data() { addReportRows(); }
    void newTextCutsOffTheOldAndIgnoresItsLateReports()
    {
        QFETCH(Report, report);
        Fixture f;
        f.speak(QStringLiteral("First."), QStringLiteral("first"));
        const Id first = f.engine->lastId();
        f.speak(QStringLiteral("Second."), QStringLiteral("second"));
        QCOMPARE(f.runs.value(QStringLiteral("first")), 1);
        QCOMPARE(f.engine->stops(), 1);
        QCOMPARE(f.engine->spoken().size(), 2);
        QCOMPARE(f.engine->spoken().last().text, u"Second."_qs);
        const Id second = f.engine->lastId();
        QVERIFY(second != first);

        f.report(report, first);
        QVERIFY(f.speaker.isSpeaking());
        QCOMPARE(f.runs.value(QStringLiteral("second")), 0);

        f.engine->finish(second);
        QCOMPARE(f.runs.value(QStringLiteral("second")), 1);
        QCOMPARE(f.runs.value(QStringLiteral("first")), 1);
    }

    void earlierCompletionRunsBeforeTheNewTextReachesTheEngine()
    {
        Fixture f;
        qsizetype spokenWhenItRan = -1;
        f.speaker.speak(QStringLiteral("First."), {}, 0.5,
                        [&] { spokenWhenItRan = f.engine->spoken().size(); });
        f.speak(QStringLiteral("Second."), QStringLiteral("second"));
        QCOMPARE(spokenWhenItRan, 1);
    }

    // A client that speaks again from its completion keeps the new utterance going.
    void completionMaySpeakAgain_data() { addReportRows(); }
    void completionMaySpeakAgain()
    {
        QFETCH(Report, report);
        Fixture f;
        f.speaker.speak(QStringLiteral("First."), {}, 0.5,
                        [&] { f.speak(QStringLiteral("Follow-up."), QStringLiteral("next")); });
        f.report(report, f.engine->lastId());
        QCOMPARE(f.engine->spoken().size(), 2);
        QCOMPARE(f.engine->spoken().last().text, QStringLiteral("Follow-up."));
        QVERIFY(f.speaker.isSpeaking());
        f.engine->finish(f.engine->lastId());
        QCOMPARE(f.runs.value(QStringLiteral("next")), 1);
    }

    // The engine never reports: the utterance counts as ended, and what may still be playing is
    // silenced.
    void watchdogEndsAnUtteranceTheEngineNeverReports()
    {
        Fixture f;
        f.speaker.setWatchdog(0ms, 0ms);
        f.speak(QStringLiteral("News."), QStringLiteral("c"));
        QTRY_COMPARE(f.runs.value(QStringLiteral("c")), 1);
        QVERIFY(!f.speaker.isSpeaking());
        QCOMPARE(f.engine->stops(), 1);

        f.engine->finish(f.engine->lastId());
        QCOMPARE(f.runs.value(QStringLiteral("c")), 1);
    }

    void completionHeldByAContextDoesNothingOnceItIsGone()
    {
        Fixture f;
        int runs = 0;
        auto context = std::make_unique<QObject>();
        f.speaker.speak(QStringLiteral("News."), {}, 0.5, context.get(), [&runs] { ++runs; });
        context.reset();
        f.engine->finish(f.engine->lastId());
        QCOMPARE(runs, 0);
        QVERIFY(!f.speaker.isSpeaking());

        context = std::make_unique<QObject>();
        f.speaker.speak(QStringLiteral("News."), {}, 0.5, context.get(), [&runs] { ++runs; });
        f.engine->finish(f.engine->lastId());
        QCOMPARE(runs, 1);
    }

    void englishVoicesAreFilteredAndSorted()
    {
        Fixture f;
        QSignalSpy changed(&f.speaker, &Speaker::voicesChanged);
        QVERIFY(f.speaker.englishVoices().isEmpty());
        QCOMPARE(f.engine->voiceLoads(), 0); // nothing is listed until someone asks
        f.speaker.loadVoices();
        f.speaker.loadVoices();
        QCOMPARE(f.engine->voiceLoads(), 1);

        using Q = SpeechVoiceQuality;
        f.engine->install({
            voice("de", "Anna", "de-DE", Q::Premium),
            voice("upper", "Aaron", "EN-us"), // the language test is case-sensitive
            voice("b-default", "Bella", "en-GB"), voice("z-premium", "Zoe", "en-US", Q::Premium),
            voice("a-enhanced", "alan", "en-AU", Q::Enhanced),
            voice("Z-enhanced", "Zed", "en", Q::Enhanced), // upper case sorts first
            voice("twin-1", "Bella", "en-US"),             // equal keys keep their order
            voice("astral", "\U0001D49C", "en-US"),        // U+1D49C after U+FB01
            voice("bmp-high", "\uFB01", "en-US"), voice("twin-2", "Bella", "en-IE"),
            voice("eng", "Old", "eng"), // any "en" prefix
        });
        QCOMPARE(changed.size(), 1);
        QCOMPARE(identifiers(f.speaker.englishVoices()),
                 QStringList({"z-premium", "Z-enhanced", "a-enhanced", "b-default", "twin-1",
                              "twin-2", "eng", "bmp-high", "astral"}));
    }

    void defaultVoice_data()
    {
        QTest::addColumn<QList<SpeechVoice>>("installed");
        QTest::addColumn<QString>("languageVoice"); // the engine's "en-US" voice; empty: none
        QTest::addColumn<QString>("expected");      // empty: no voice
        using Q = SpeechVoiceQuality;
        const QList<SpeechVoice> mixed{voice("b", "Bella", "en-GB"),
                                       voice("p", "Pat", "en-US", Q::Premium),
                                       voice("d", "Dora", "de-DE", Q::Premium)};
        QTest::newRow("best English voice") << mixed << "other"
                                            << "p";
        QTest::newRow("no English voice: the engine's en-US voice")
            << QList<SpeechVoice>{voice("d", "Dora", "de-DE")} << "us"
            << "us";
        QTest::newRow("no English voice and none for en-US")
            << QList<SpeechVoice>{voice("d", "Dora", "de-DE")} << ""
            << "";
    }
    void defaultVoice()
    {
        QFETCH(QList<SpeechVoice>, installed);
        QFETCH(QString, languageVoice);
        QFETCH(QString, expected);
        Fixture f;
        f.engine->install(installed);
        f.engine->setLanguageVoice(languageVoice.isEmpty()
                                       ? std::nullopt
                                       : std::optional(voice(languageVoice, "US", "en-US")));
        const std::optional<SpeechVoice> chosen = f.speaker.defaultVoice();
        QCOMPARE(chosen ? chosen->identifier : QString(), expected);

        f.speak(QStringLiteral("News."), QStringLiteral("c"), QStringLiteral("gone"));
        QCOMPARE(f.engine->spoken().last().voiceIdentifier, expected);
    }

    void voiceHandedToTheEngine_data()
    {
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QString>("expected");
        QTest::newRow("installed") << true << "b"
                                   << "b";
        QTest::newRow("installed, not English") << true << "d"
                                                << "d";
        QTest::newRow("no longer installed") << true << "gone"
                                             << "p";
        QTest::newRow("empty: the default") << true << ""
                                            << "p";
        QTest::newRow("list not loaded yet: as it stands") << false << "gone"
                                                           << "gone";
        QTest::newRow("list not loaded yet, empty") << false << ""
                                                    << "";
    }
    void voiceHandedToTheEngine()
    {
        QFETCH(bool, loaded);
        QFETCH(QString, requested);
        QFETCH(QString, expected);
        Fixture f;
        if (loaded) {
            f.engine->install({voice("b", "Bella", "en-GB"),
                               voice("p", "Pat", "en-US", SpeechVoiceQuality::Premium),
                               voice("d", "Dora", "de-DE")});
        }
        f.speak(QStringLiteral("News."), QStringLiteral("c"), requested);
        QCOMPARE(f.engine->spoken().last().voiceIdentifier, expected);
    }

    void silentEngineEndsEveryUtteranceAtOnce()
    {
        auto* engine = new SilentSpeechEngine;
        Speaker speaker{std::unique_ptr<SpeechEngine>(engine)};
        QSignalSpy unavailable(engine, &SpeechEngine::unavailable);
        int runs = 0;
        speaker.speak(QStringLiteral("News."), {}, 0.5, [&runs] { ++runs; });
        QTRY_COMPARE(runs, 1);
        QVERIFY(!speaker.isSpeaking());
        QCOMPARE(unavailable.size(), 1);
        speaker.loadVoices();
        QTRY_VERIFY(speaker.voicesLoaded());
        QVERIFY(!speaker.defaultVoice());
    }

    // Once the voice list has been asked for, the default voice is the same from the first
    // utterance on: a text waits for the list (briefly), or the engine's own default serves
    // for the rest of the process.
    void defaultVoiceIsTheSameFromTheFirstUtterance_data()
    {
        QTest::addColumn<int>("listAfterMs"); // -1: never
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("later");
        QTest::newRow("list in time: the best English voice throughout") << 100 << "p"
                                                                         << "p";
        QTest::newRow("list too late: the engine's default throughout") << 600 << ""
                                                                        << "";
        QTest::newRow("no list: the engine's default") << -1 << ""
                                                       << "";
    }
    void defaultVoiceIsTheSameFromTheFirstUtterance()
    {
        QFETCH(int, listAfterMs);
        QFETCH(QString, first);
        QFETCH(QString, later);
        Fixture f;
        f.speaker.loadVoices();
        QCOMPARE(f.engine->voiceLoads(), 1);
        // The list and the wait for it are timers of one event loop: which ends first is fixed
        // by their lengths, however loaded the machine.
        bool installed = false;
        if (listAfterMs >= 0) {
            QTimer::singleShot(listAfterMs, f.engine, [&f, &installed] {
                f.engine->install({voice("b", "Bella", "en-GB"),
                                   voice("p", "Pat", "en-US", SpeechVoiceQuality::Premium)});
                installed = true;
            });
        }
        f.speak(QStringLiteral("First."), QStringLiteral("first"));
        QVERIFY(f.speaker.isSpeaking());
        QTRY_COMPARE(f.engine->spoken().size(), 1);
        QCOMPARE(f.engine->spoken().last().text, u"First."_qs);
        QCOMPARE(f.engine->spoken().last().voiceIdentifier, first);

        if (listAfterMs >= 0)
            QTRY_VERIFY(installed);
        f.speak(QStringLiteral("Later."), QStringLiteral("later"));
        QCOMPARE(f.engine->spoken().size(), 2);
        QCOMPARE(f.engine->spoken().last().voiceIdentifier, later);
        QCOMPARE(f.runs.value(u"first"_qs), 1); // cut off by the later text
    }

    // A Stop while the text waits for the voice list: nothing reaches the engine.
    void stopWhileWaitingForTheVoiceList()
    {
        Fixture f;
        f.speaker.loadVoices();
        f.speak(QStringLiteral("Held."), QStringLiteral("held"));
        f.speaker.stop();
        QCOMPARE(f.runs.value(u"held"_qs), 1);
        QVERIFY(!f.speaker.isSpeaking());
        // The list arriving is what a waiting text goes out on: a stopped one must not.
        f.engine->install({voice("b", "Bella", "en-GB")});
        QVERIFY(test::deliverPostedEvents());
        QCOMPARE(f.engine->spoken().size(), 0);
        QCOMPARE(f.runs.value(u"held"_qs), 1);
    }
};

QTEST_GUILESS_MAIN(SpeakerTest)
#include "tst_speaker.moc"
