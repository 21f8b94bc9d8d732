#include "shell/RemoteCommands.h"

#include "briefing/AppCoordinator.h"
#include "instance/InstanceProtocol.h"
#include "library/Library.h"
#include "linux/instance/InstanceClient.h"
#include "linux/instance/SingleInstance.h"
#include "shell/LibraryRequests.h"
#include "support/CoordinatorRig.h"
#include "support/PostedEvents.h"
#include "support/TestData.h"
#include "support/TestHttpServer.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QtTest>

using namespace vardelle;
using namespace std::chrono_literals;
using test::TestHttpResponse;
using test::TestHttpServer;
using test::utc;

namespace {

const Instant now = utc(2026, 12, 10, 12, 0);

// A running instance over a real coordinator whose feeds come from a file mirror and whose
// speech engine only records; a client talks to it over the socket as `vardelle brief` does.
struct Rig : test::CoordinatorRig {
    int settingsShown = 0;
    RemoteCommands commands{start(), [this] { ++settingsShown; }};
    Library library{*settings, *news};
    LibraryRequests libraryRequests{library};
    SingleInstance instance{dir.path()};

    InstanceClient client{dir.path()};
    QList<QJsonObject> lines;
    std::optional<InstanceClient::Outcome> outcome;

    Rig()
        : CoordinatorRig(now)
    {
        QObject::connect(&instance, &SingleInstance::requested, &commands, &RemoteCommands::serve);
        commands.serveLibraryWith(&libraryRequests);
        QObject::connect(&client, &InstanceClient::line,
                         [this](const QJsonObject& line) { lines.append(line); });
        QObject::connect(&client, &InstanceClient::finished,
                         [this](InstanceClient::Outcome done, const QString&) { outcome = done; });
    }

    void serve(const QString& feedId, const QString& storyId, Instant published)
    {
        mirror.serve(feedId, {{storyId, published}});
    }

    void send(const QJsonObject& request)
    {
        lines.clear();
        outcome.reset();
        client.send(request);
    }
};

QJsonObject done(RunOutcome outcome)
{
    return {{instance::doneKey, true}, {instance::outcomeKey, identifier(outcome)}};
}

const QJsonObject ok{{instance::okKey, true}};

} // namespace

class RemoteCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void briefForwardsWhatIsSpokenThenDone()
    {
        Rig rig;
        QVERIFY(rig.instance.claim());
        rig.serve(u"talos"_qs, u"t1"_qs, now - 1h);

        rig.send({{instance::commandKey, instance::briefCommand}});
        QTRY_COMPARE(rig.spoken().size(), 1);
        const QString briefing = rig.spoken().first();
        QVERIFY(briefing.contains(u"Story t1"_qs));
        QTRY_COMPARE(rig.lines, (QList<QJsonObject>{{{instance::speakingKey, briefing}}}));
        QVERIFY(!rig.outcome); // still speaking

        rig.finishSpeaking();
        QTRY_VERIFY(rig.outcome);
        QCOMPARE(*rig.outcome, InstanceClient::Outcome::answered);
        QCOMPARE(rig.lines.last(), done(RunOutcome::briefed));
        QTRY_COMPARE(rig.coordinator->state(), AnnouncerState::idle());
        QCOMPARE(rig.store->lastBriefing(), briefing);

        // Nothing new now: the up-to-date message, as the terminal command says it.
        rig.send({{instance::commandKey, instance::briefCommand}});
        QTRY_COMPARE(rig.spoken().size(), 2);
        rig.finishSpeaking();
        QTRY_VERIFY(rig.outcome);
        QCOMPARE(rig.lines,
                 (QList<QJsonObject>{{{instance::speakingKey, AppCoordinator::upToDateMessage}},
                                     done(RunOutcome::upToDate)}));
    }

    // `vardelle watch` and `vardelle feeds` run here, against this instance's preferences; the
    // next briefing tells the watched story first.
    void watchAndFeedsCommandsChangeThisInstance()
    {
        Rig rig;
        QVERIFY(rig.instance.claim());
        QSignalSpy changed(rig.settings.get(), &AppSettings::watchTermsChanged);
        rig.send({{instance::commandKey, instance::watchCommand},
                  {instance::actionKey, u"add"_qs},
                  {instance::subjectsKey, QJsonArray{u"Ivanti"_qs}}});
        QTRY_VERIFY(rig.outcome);
        QCOMPARE(rig.lines, (QList<QJsonObject>{{{instance::statusKey, 0},
                                                 {instance::outKey, QString()},
                                                 {instance::errKey, QString()}}}));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(rig.settings->watchTerms(), QStringList{u"Ivanti"_qs});

        LibraryRequest off;
        off.action = LibraryRequest::Action::switchFeeds;
        off.subjects = {u"nope"_qs};
        off.on = false;
        rig.send(libraryMessage(off));
        QTRY_VERIFY(rig.outcome);
        QCOMPARE(rig.lines.size(), 1);
        QCOMPARE(rig.lines[0].value(instance::statusKey), 1);
        QVERIFY(rig.lines[0].value(instance::errKey).toString().contains(u"nope: no such feed"_qs));

        // A request of the wrong shape changes nothing.
        for (const QJsonObject& wrong : {QJsonObject{{instance::commandKey, instance::feedsCommand},
                                                     {instance::actionKey, u"list"_qs},
                                                     {instance::subjectsKey, QJsonArray{3}}},
                                         QJsonObject{{instance::commandKey, instance::watchCommand},
                                                     {instance::actionKey, u"add"_qs}},
                                         QJsonObject{{instance::commandKey, instance::feedsCommand},
                                                     {instance::actionKey, u"clear"_qs}}}) {
            rig.send(wrong);
            QTRY_VERIFY(rig.outcome);
            QVERIFY(rig.lines.value(0).contains(instance::errorKey));
        }
        QCOMPARE(changed.count(), 1);

        rig.mirror.serve(u"talos"_qs,
                         {{u"t1"_qs, now - 1h}, {u"t2"_qs, now - 2h, u"Ivanti hit"_qs}});
        rig.send({{instance::commandKey, instance::briefCommand}});
        QTRY_COMPARE(rig.spoken().size(), 1);
        const QString briefing = rig.spoken().first();
        QVERIFY2(briefing.contains(u" 2 new stories since "_qs) &&
                     briefing.contains(u". On your watch list, 1 story. From Cisco Talos "
                                       "Intelligence. Ivanti hit. In malware, 1 story."_qs),
                 qPrintable(briefing));
        rig.finishSpeaking();
        QTRY_VERIFY(rig.outcome);
    }

    // A text briefing: gathered, recorded and told to the client like any briefing, nothing
    // handed to the speech engine, and a briefing being read goes on; a second one finds
    // nothing new.
    void textBriefingSpeaksNothing()
    {
        Rig rig;
        QVERIFY(rig.instance.claim());
        rig.coordinator->replayLastBriefing(); // something being read while the text is asked for
        QTRY_COMPARE(rig.engine->spoken().size(), 1);
        rig.serve(u"talos"_qs, u"t1"_qs, now - 1h);
        rig.send({{instance::commandKey, instance::briefCommand}, {instance::speakKey, false}});
        QTRY_VERIFY(rig.outcome);
        QCOMPARE(rig.lines.size(), 2);
        const QString text = rig.lines[0].value(instance::speakingKey).toString();
        QVERIFY2(text.contains(u"1 new story since "_qs), qPrintable(text));
        QCOMPARE(rig.lines[1], done(RunOutcome::briefed));
        QCOMPARE(rig.engine->spoken().size(), 1);
        QCOMPARE(rig.engine->stops(), 0);
        QCOMPARE(rig.coordinator->state(), AnnouncerState::speaking());
        QCOMPARE(rig.store->lastBriefing(), text);
        QCOMPARE(rig.coordinator->lastBriefing(), text);

        rig.send({{instance::commandKey, instance::briefCommand}, {instance::speakKey, false}});
        QTRY_VERIFY(rig.outcome);
        QCOMPARE(rig.lines,
                 (QList<QJsonObject>{{{instance::speakingKey, AppCoordinator::upToDateMessage}},
                                     done(RunOutcome::upToDate)}));
        QCOMPARE(rig.engine->spoken().size(), 1);

        rig.send({{instance::commandKey, instance::briefCommand}, {instance::speakKey, u"no"_qs}});
        QTRY_VERIFY(rig.outcome);
        QVERIFY(rig.lines.value(0).contains(instance::errorKey));
    }

    // The desktop never opens a file a client names: an import arrives as the feeds the
    // terminal read, an export leaves as the document for the terminal to write.
    void filesStayWithTheTerminal()
    {
        Rig rig;
        QVERIFY(rig.instance.claim());
        const QString named = rig.dir.filePath(u"named.opml"_qs);
        for (const QString& action : {u"import"_qs, u"export"_qs}) {
            rig.send({{instance::commandKey, instance::feedsCommand},
                      {instance::actionKey, action},
                      {instance::subjectsKey, QJsonArray{named}}});
            QTRY_VERIFY(rig.outcome);
            QVERIFY(rig.lines.value(0).contains(instance::errorKey));
        }
        QVERIFY(!QFileInfo::exists(named));

        rig.send({{instance::commandKey, instance::feedsImportCommand},
                  {instance::entriesKey, u"not a list"_qs},
                  {instance::fromKey, u"x.opml"_qs}});
        QTRY_VERIFY(rig.outcome);
        QVERIFY(rig.lines.value(0).contains(instance::errorKey));

        LibraryRequest import;
        import.action = LibraryRequest::Action::importFeeds;
        import.import = ImportRequest{};
        import.import->from = u"feeds.opml"_qs;
        import.import->entries = {{FeedSource::catalog().first().url.toString(), u"Again"_qs, {}},
                                  { u"ftp://example.org/feed"_qs,
                                    u"Old"_qs,
                                    NewsCategory::malware }};
        rig.send(libraryMessage(import));
        QTRY_VERIFY(rig.outcome);
        const QJsonObject answer = rig.lines.value(0);
        QCOMPARE(answer.value(instance::statusKey), 1);
        QCOMPARE(answer.value(instance::outKey), u"imported 0 feeds\n"_qs);
        const QString err = answer.value(instance::errKey).toString();
        QCOMPARE(err, u"skipped ftp://example.org/feed: not an http or https address\n"
                      "1 feed listed is already among your feeds\n"_qs);
    }

    // "today" sets the window's start to local midnight: a story from this morning that an
    // earlier check already passed comes back.
    void briefToday()
    {
        qputenv("TZ", "UTC");
        Rig rig;
        QVERIFY(rig.instance.claim());
        rig.serve(u"talos"_qs, u"morning"_qs, now - 3h);
        rig.store->recordGather(); // the last gather was just now

        rig.send({{instance::commandKey, instance::briefCommand}, {instance::todayKey, true}});
        QTRY_COMPARE(rig.spoken().size(), 1);
        QVERIFY(rig.spoken().first().contains(u"Story morning"_qs));
        rig.finishSpeaking();
        QTRY_VERIFY(rig.outcome);
        QCOMPARE(rig.lines.last(), done(RunOutcome::briefed));
    }

    // Ctrl+C in the terminal: the connection drops and the briefing it asked for ends; one
    // that was gathering speaks and records nothing.
    void clientGoingAwayStopsItsSpeech_data()
    {
        QTest::addColumn<bool>("whileGathering");
        QTest::newRow("while speaking") << false;
        QTest::newRow("while gathering") << true;
    }
    void clientGoingAwayStopsItsSpeech()
    {
        QFETCH(bool, whileGathering);
        Rig rig;
        QVERIFY(rig.instance.claim());
        rig.serve(u"talos"_qs, u"t1"_qs, now - 1h);
        // While gathering: the feed answers only after a while, so the client goes away before
        // the briefing could be spoken however fast the machine.
        TestHttpServer server;
        if (whileGathering) {
            QVERIFY(server.listen());
            TestHttpResponse slow = TestHttpResponse::ok(test::rssDocument({{u"t1"_qs, now - 1h}}));
            slow.delay = 600ms;
            server.setResponse(u"/talos.xml"_qs, slow);
            qputenv(NewsService::mirrorVariable, server.url(u"/"_qs).toEncoded());
        }

        rig.send({{instance::commandKey, instance::briefCommand}});
        if (whileGathering)
            QTRY_COMPARE(rig.coordinator->state(), AnnouncerState::gathering());
        else
            QTRY_COMPARE(rig.lines.size(), 1);
        const int stops = rig.engine->stops();
        rig.client.close();

        if (whileGathering) {
            QTRY_COMPARE(rig.coordinator->state(), AnnouncerState::idle());
            QCOMPARE(rig.spoken().size(), 0);
            QCOMPARE(rig.store->lastGather(), std::nullopt);
        } else {
            QTRY_VERIFY(rig.engine->stops() > stops);
        }
        QVERIFY(!rig.speaker.isSpeaking());
        QTRY_COMPARE(rig.coordinator->state(), AnnouncerState::idle());
        QCOMPARE(rig.ended.size(), 1);
        QCOMPARE(rig.ended.first().second, RunOutcome::stopped);
        if (!whileGathering)
            return;
        // The next briefing's answer comes after the abandoned one's would have: had that been
        // used, the story would be told by then and this briefing would find nothing new.
        rig.coordinator->announce(AnnounceReason::manual);
        QTRY_COMPARE_WITH_TIMEOUT(rig.spoken().size(), 1, 20000);
        QVERIFY2(rig.spoken().first().contains(u"1 new story"_qs),
                 qPrintable(rig.spoken().first()));
        QCOMPARE(rig.ended.size(), 1);
    }

    // A briefing that reaches no feed at all tells the terminal so.
    void unreachable()
    {
        Rig rig;
        QVERIFY(rig.instance.claim());
        rig.send({{instance::commandKey, instance::briefCommand}});
        QTRY_COMPARE(rig.spoken().size(), 1);
        rig.finishSpeaking();
        QTRY_VERIFY(rig.outcome);
        QCOMPARE(rig.lines,
                 (QList<QJsonObject>{{{instance::speakingKey, AppCoordinator::unreachableMessage}},
                                     done(RunOutcome::unreachable)}));
    }

    // A briefing of the desktop's own is not stopped by a client that has finished.
    void finishedClientLeavesLaterSpeechAlone()
    {
        Rig rig;
        QVERIFY(rig.instance.claim());
        rig.send({{instance::commandKey, instance::briefCommand}});
        QTRY_COMPARE(rig.spoken().size(), 1);
        rig.finishSpeaking();
        QTRY_VERIFY(rig.outcome);

        rig.coordinator->replayLastBriefing();
        QVERIFY(rig.speaker.isSpeaking());
        // Once the finished client's connection is gone here, whatever its end sets off has run.
        QTRY_VERIFY(rig.instance.findChildren<InstanceRequest*>().isEmpty());
        QVERIFY(test::deliverPostedEvents());
        QVERIFY(rig.speaker.isSpeaking());
        QCOMPARE(rig.engine->stops(), 0);
    }

    void refusedWhileAlreadyGathering()
    {
        Rig rig;
        QVERIFY(rig.instance.claim());
        rig.serve(u"talos"_qs, u"t1"_qs, now - 1h);
        QVERIFY(rig.coordinator->announce(AnnounceReason::manual) != 0);
        rig.send({{instance::commandKey, instance::briefCommand}});
        QTRY_VERIFY(rig.outcome);
        QCOMPARE(rig.lines.size(), 1);
        QVERIFY(rig.lines.first().value(instance::errorKey).toString().contains(u"already"_qs));
        QTRY_VERIFY(!rig.coordinator->isGathering());
        QCOMPARE(rig.spoken().size(), 1); // only the desktop's own briefing
    }

    void otherCommands_data()
    {
        QTest::addColumn<QJsonObject>("request");
        QTest::addColumn<QJsonObject>("answer");
        QTest::addColumn<int>("settingsShown");
        QTest::addColumn<bool>("stopsSpeech");
        const auto command = [](const QString& name) {
            return QJsonObject{{instance::commandKey, name}};
        };
        QTest::newRow("show-settings")
            << command(instance::showSettingsCommand) << ok << 1 << false;
        QTest::newRow("stop") << command(instance::stopCommand) << ok << 0 << true;
        QTest::newRow("unknown") << command(u"format-disk"_qs)
                                 << instance::errorAnswer(u"unknown command"_qs) << 0 << false;
        QTest::newRow("today not a boolean")
            << QJsonObject{{instance::commandKey, instance::briefCommand},
                           {instance::todayKey, u"yes"_qs}}
            << instance::errorAnswer(u"\"today\" and \"speak\" are true or false"_qs) << 0 << false;
    }
    void otherCommands()
    {
        QFETCH(QJsonObject, request);
        QFETCH(QJsonObject, answer);
        QFETCH(int, settingsShown);
        QFETCH(bool, stopsSpeech);
        Rig rig;
        QVERIFY(rig.instance.claim());
        rig.coordinator->replayLastBriefing();

        rig.send(request);
        QTRY_VERIFY(rig.outcome);
        QCOMPARE(*rig.outcome, InstanceClient::Outcome::answered);
        QCOMPARE(rig.lines, QList<QJsonObject>{answer});
        QCOMPARE(rig.settingsShown, settingsShown);
        QCOMPARE(rig.speaker.isSpeaking(), !stopsSpeech);
        QCOMPARE(rig.coordinator->state(),
                 stopsSpeech ? AnnouncerState::idle() : AnnouncerState::speaking());
        QVERIFY(rig.spoken().size() == 1); // nothing was briefed
    }
};

QTEST_MAIN(RemoteCommandsTest)
#include "tst_remotecommands.moc"
