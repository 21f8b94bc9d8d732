#include "briefing/AppCoordinator.h"

#include "briefing/BriefingText.h"
#include "news/NewsService.h"
#include "news/StoryGroups.h"
#include "settings/AppSettings.h"
#include "speech/Speaker.h"
#include "store/HeadlineStore.h"
#include "support/CoordinatorRig.h"
#include "support/TestData.h"

#include <QPromise>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>

using namespace vardelle;
using namespace std::chrono_literals;
using test::utc;

namespace {

const Instant now = utc(2026, 12, 10, 12, 0);

using Story = test::MirrorStory;
using RunId = AppCoordinator::RunId;

struct Rig : test::CoordinatorRig {
    explicit Rig(Start start = Start::now)
        : CoordinatorRig(now, start)
    {
    }
};

} // namespace

class AppCoordinatorTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
    }

    void briefsNewStoriesAndRecordsThem()
    {
        Rig rig;
        rig.serve(u"bleepingcomputer"_qs, {{u"a"_qs, now - 1h}, {u"b"_qs, now - 2h}});
        rig.serve(u"talos"_qs, {{u"c"_qs, now - 3h}});

        rig.announce(AnnounceReason::manual);

        QCOMPARE(rig.coordinator->lastItems().size(), 3);
        const QString expected =
            composeBriefing(rig.coordinator->lastItems(), now - 24h, rig.clock);
        QCOMPARE(rig.spoken(), QStringList{expected});
        QCOMPARE(rig.coordinator->lastBriefing(), expected);
        QCOMPARE(rig.store->lastBriefing(), expected);
        QCOMPARE(rig.store->lastAnnouncement(), now);
        QCOMPARE(rig.store->lastGather(), now);
        QCOMPARE(rig.coordinator->state(), AnnouncerState::speaking());
        QCOMPARE(rig.states,
                 (QList<AnnouncerState>{AnnouncerState::gathering(), AnnouncerState::speaking()}));

        rig.finishSpeaking();
        QTRY_COMPARE(rig.coordinator->state(), AnnouncerState::idle());
        QCOMPARE(rig.ended, (QList<std::pair<RunId, RunOutcome>>{{1, RunOutcome::briefed}}));

        // The same stories are not announced twice, even from midnight on; what was told stays
        // the last briefing.
        rig.clock.advance(1h);
        rig.announce(AnnounceReason::manual, AnnounceWindow::today);
        QCOMPARE(rig.spoken().last(), AppCoordinator::upToDateMessage);
        QCOMPARE(rig.coordinator->lastItems().size(), 3);
        QCOMPARE(rig.coordinator->lastBriefing(), expected);
    }

    // Two feeds' reports of one event are told once, by the earliest, and take one place
    // under the cap; every report is recorded as told and kept as the last items.
    void oneEventToldOnceAndEveryReportRecorded()
    {
        Rig rig(Rig::Start::later);
        rig.makeSettings().setMaxHeadlines(2);
        rig.serve(u"bleepingcomputer"_qs,
                  {{u"a"_qs, now - 1h,
                    u"Hackers fooled Cognizant help desk, says Clorox in $380M "
                    "cyberattack lawsuit"_qs},
                   {u"b"_qs, now - 2h, u"Akira ransomware claims attack on Stanford"_qs}});
        rig.serve(u"talos"_qs, {{u"c"_qs, now - 3h,
                                 u"Clorox Sues Cognizant for $380 Million Over 2023 Hack"_qs}});
        rig.start();

        rig.announce(AnnounceReason::manual);

        QCOMPARE(rig.coordinator->lastItems().size(), 3);
        const QList<StoryGroup> told = rig.coordinator->lastStories();
        QCOMPARE(told.size(), 2);
        const QList<StoryGroup>::const_iterator clorox =
            std::find_if(told.cbegin(), told.cend(),
                         [](const StoryGroup& group) { return group.stories.size() == 2; });
        QVERIFY(clorox != told.cend());
        QCOMPARE(clorox->lead().source, u"Cisco Talos Intelligence"_qs);
        QCOMPARE(clorox->otherSources(), QStringList{u"BleepingComputer"_qs});
        QCOMPARE(rig.spoken().size(), 1);
        QVERIFY(rig.spoken().first().startsWith(
            u"Here is your security briefing. 2 new stories since"_qs));
        QVERIFY(rig.spoken().first().contains(
            u"Clorox Sues Cognizant for 380 Million dollars Over 2023 Hack. Also reported by "
            "BleepingComputer."_qs));
        QVERIFY(rig.store->unseen(rig.coordinator->lastItems()).isEmpty());

        rig.finishSpeaking();
        QTRY_COMPARE(rig.coordinator->state(), AnnouncerState::idle());
        rig.clock.advance(1h);
        rig.announce(AnnounceReason::manual, AnnounceWindow::today);
        QCOMPARE(rig.spoken().last(), AppCoordinator::upToDateMessage);
    }

    // With a catalogue of known exploited vulnerabilities to hand, a briefing says which of
    // the CVE ids its stories name are catalogued, unless the preference is off; with none yet,
    // it is as before.
    void knownExploited_data()
    {
        QTest::addColumn<bool>("preference");
        QTest::addColumn<bool>("catalogue");
        QTest::addColumn<bool>("told");
        QTest::newRow("on, with a catalogue") << true << true << true;
        QTest::newRow("off") << false << true << false;
        QTest::newRow("no catalogue yet") << true << false << false;
    }
    void knownExploited()
    {
        QFETCH(bool, preference);
        QFETCH(bool, catalogue);
        QFETCH(bool, told);
        Rig rig(Rig::Start::later);
        rig.makeSettings().setKnownExploited(preference);
        rig.serve(u"talos"_qs, {{u"a"_qs, now - 1h, u"Gateways hit through CVE-2024-3400"_qs}});
        rig.start();
        auto known = std::make_shared<KnownExploitedCatalog>();
        known->entries = {{u"CVE-2024-3400"_qs, u"Palo Alto Networks"_qs, u"PAN-OS"_qs,
                           u"Command Injection"_qs, QDate(2024, 4, 12), false}};
        known->index();
        rig.coordinator->setKnownExploitedSource(
            [known, catalogue]() -> std::shared_ptr<const KnownExploitedCatalog> {
                return catalogue ? known : nullptr;
            });

        rig.announce(AnnounceReason::manual);

        QCOMPARE(rig.spoken().size(), 1);
        QCOMPARE(rig.spoken().first().contains(
                     u"Gateways hit through C V E, 2024, 3400. C V E, 2024, 3400 is known to be "
                     "exploited."_qs),
                 told);
    }

    // The vulnerabilities added to the catalogue lately are a section of their own, each told
    // once: a catalogue seen for the first time tells its latest additions, not its old ones,
    // a watched vendor's goes to the watch list, and an addition with no new story is a
    // briefing of its own.
    void newlyKnownToldOnce()
    {
        Rig rig(Rig::Start::later);
        rig.makeSettings().setWatchTerms({u"ivanti"_qs});
        rig.serve(u"talos"_qs, {{u"a"_qs, now - 1h, u"Loader returns"_qs}});
        rig.start();
        auto catalog = std::make_shared<KnownExploitedCatalog>();
        catalog->entries = {
            {u"CVE-2021-44228"_qs, u"Apache"_qs, u"Log4j2"_qs, u"Log4j2 Remote Code Execution"_qs,
             QDate(2021, 12, 10), true},
            {u"CVE-2026-1001"_qs, u"Fortinet"_qs, u"FortiOS"_qs, u"FortiOS Buffer Overflow"_qs,
             QDate(2026, 12, 9), false},
            {u"CVE-2026-1002"_qs, u"Ivanti"_qs, u"Connect Secure"_qs, u"Stack Overflow"_qs,
             QDate(2026, 12, 10), false},
        };
        catalog->index();
        rig.coordinator->setKnownExploitedSource(
            [&catalog]() -> std::shared_ptr<const KnownExploitedCatalog> { return catalog; });

        rig.announce(AnnounceReason::manual);
        QCOMPARE(rig.spoken().size(), 1);
        const QString first = rig.spoken().last();
        QVERIFY2(first.startsWith(u"Here is your security briefing. 3 new stories since "_qs),
                 qPrintable(first));
        QVERIFY2(first.contains(
                     u"On your watch list, 1 story. Ivanti Connect Secure: Stack Overflow, newly "
                     "known to be exploited. Newly known to be exploited: 1 vulnerability. "
                     "Fortinet FortiOS: FortiOS Buffer Overflow. In "_qs),
                 qPrintable(first));
        QVERIFY(!first.contains(u"Log4j2"_qs));
        QCOMPARE(HeadlineStore(rig.statePath(), rig.clock).toldExploitedIDs(),
                 (QStringList{u"CVE-2026-1002"_qs, u"CVE-2026-1001"_qs}));
        rig.finishSpeaking();

        rig.clock.advance(1h);
        rig.announce(AnnounceReason::manual);
        QCOMPARE(rig.spoken().last(), AppCoordinator::upToDateMessage);
        rig.finishSpeaking();

        auto added = std::make_shared<KnownExploitedCatalog>(*catalog);
        added->entries.append({u"CVE-2026-1003"_qs, u"Microsoft"_qs, u"Windows"_qs,
                               u"Windows Privilege Escalation"_qs, QDate(2026, 12, 10), false});
        added->index();
        catalog = added;
        rig.clock.advance(1h);
        rig.announce(AnnounceReason::manual);
        const QString third = rig.spoken().last();
        QVERIFY2(third.startsWith(u"Here is your security briefing. 1 new story since "_qs),
                 qPrintable(third));
        QVERIFY2(third.endsWith(u". Newly known to be exploited: 1 vulnerability. Microsoft "
                                "Windows: Windows Privilege Escalation. That is everything new "
                                "since the last check."_qs),
                 qPrintable(third));
    }

    // A briefing brings the catalogue up to date while it gathers, and tells what the update
    // brought when it comes within the deadline.
    void waitsForTheCatalogueUpdate()
    {
        Rig rig;
        rig.serve(u"talos"_qs, {{u"a"_qs, now - 1h, u"Gateways hit through CVE-2024-3400"_qs}});
        std::shared_ptr<const KnownExploitedCatalog> catalog;
        int updates = 0;
        rig.coordinator->setKnownExploitedSource(
            [&catalog] { return catalog; },
            [&catalog, &updates] {
                ++updates;
                auto promise = std::make_shared<QPromise<void>>();
                promise->start();
                // Done well after the local feed, well before the deadline.
                QTimer::singleShot(300ms, [promise, &catalog] {
                    auto known = std::make_shared<KnownExploitedCatalog>();
                    known->entries = {{u"CVE-2024-3400"_qs, u"Palo Alto Networks"_qs, u"PAN-OS"_qs,
                                       u"Command Injection"_qs, QDate(2024, 4, 12), false}};
                    known->index();
                    catalog = known;
                    promise->finish();
                });
                return promise->future();
            });

        rig.announce(AnnounceReason::manual);
        QCOMPARE(updates, 1);
        QCOMPARE(rig.spoken().size(), 1);
        QVERIFY2(rig.spoken().last().contains(u"C V E, 2024, 3400 is known to be exploited."_qs),
                 qPrintable(rig.spoken().last()));
    }

    void guards_data()
    {
        QTest::addColumn<AnnounceReason>("reason");
        QTest::addColumn<bool>("onLaunch");
        QTest::addColumn<bool>("onUnlock");
        QTest::addColumn<int>("minutesSinceLastBriefing"); // -1: never briefed
        QTest::addColumn<bool>("runs");
        using R = AnnounceReason;
        QTest::newRow("launch") << R::launch << true << true << -1 << true;
        QTest::newRow("launch switched off") << R::launch << false << true << -1 << false;
        QTest::newRow("launch within the interval") << R::launch << true << true << 29 << false;
        QTest::newRow("launch at the interval") << R::launch << true << true << 30 << true;
        QTest::newRow("unlock") << R::unlock << true << true << 45 << true;
        QTest::newRow("unlock switched off") << R::unlock << true << false << -1 << false;
        QTest::newRow("wake switched off") << R::wake << true << false << -1 << false;
        QTest::newRow("session switched off") << R::sessionActive << true << false << -1 << false;
        QTest::newRow("wake within the interval") << R::wake << true << true << 5 << false;
        QTest::newRow("unlock ignores the launch switch")
            << R::unlock << false << true << -1 << true;
        QTest::newRow("manual ignores everything") << R::manual << false << false << 1 << true;
        QTest::newRow("last briefing in the future") << R::launch << true << true << -90 << true;
    }
    void guards()
    {
        QFETCH(AnnounceReason, reason);
        QFETCH(bool, onLaunch);
        QFETCH(bool, onUnlock);
        QFETCH(int, minutesSinceLastBriefing);
        QFETCH(bool, runs);

        Rig rig;
        rig.settings->setAnnounceOnLaunch(onLaunch);
        rig.settings->setAnnounceOnUnlock(onUnlock);
        if (minutesSinceLastBriefing != -1) {
            rig.clock.set(now - std::chrono::minutes(minutesSinceLastBriefing));
            rig.store->record({}, u"earlier"_qs, true);
            rig.clock.set(now);
        }
        rig.serve(u"securelist"_qs, {{u"x"_qs, now - 1min}});

        rig.announce(reason);
        QCOMPARE(!rig.states.isEmpty(), runs);
        QCOMPARE(rig.spoken().size(), runs ? 1 : 0);
    }

    void nothingNew_data()
    {
        QTest::addColumn<AnnounceReason>("reason");
        QTest::addColumn<QStringList>("spoken");
        QTest::newRow("manual says so")
            << AnnounceReason::manual << QStringList{AppCoordinator::upToDateMessage};
        QTest::newRow("automatic is silent") << AnnounceReason::launch << QStringList{};
    }
    // A check that finds nothing new moves the window on and keeps the last briefing that was
    // spoken, for Replay and the bubble's headlines.
    void nothingNew()
    {
        QFETCH(AnnounceReason, reason);
        QFETCH(QStringList, spoken);
        Rig rig(Rig::Start::later);
        const QList<NewsItem> told{
            {u"t1"_qs, u"Told before"_qs, {}, u"Talos"_qs, NewsCategory::malware, now - 11h, {}}};
        rig.clock.set(now - 10h);
        rig.start();
        rig.store->record(told, u"an older briefing"_qs, true);
        rig.coordinator.reset();
        rig.start(); // as after a restart
        rig.clock.set(now);
        rig.serve(u"talos"_qs, {{u"old"_qs, now - 72h}}); // outside the window

        const RunId run = rig.announce(reason);
        QCOMPARE(rig.spoken(), spoken);
        QCOMPARE(rig.store->lastGather(), now);
        QCOMPARE(rig.store->lastAnnouncement(), now - 10h);
        QCOMPARE(rig.store->lastBriefing(), u"an older briefing"_qs);
        QCOMPARE(rig.store->lastItems(), told);
        QCOMPARE(rig.coordinator->lastItems(), told);
        QCOMPARE(rig.coordinator->lastBriefing(), u"an older briefing"_qs);
        QCOMPARE(rig.states.first(), AnnouncerState::gathering());
        if (!spoken.isEmpty())
            rig.finishSpeaking();
        QTRY_COMPARE(rig.outcomeOf(run), RunOutcome::upToDate);
        QCOMPARE(rig.coordinator->state(), AnnouncerState::idle());

        rig.coordinator->replayLastBriefing();
        QCOMPARE(rig.spoken().last(), u"an older briefing"_qs);
    }

    void noFeedAnswers_data() { nothingNew_data(); }
    // Offline: not one feed could be fetched. That is neither "up to date" nor a gather, so the
    // next run still covers everything since the last real one, and every view shows the
    // failure until the next run or a Stop.
    void noFeedAnswers()
    {
        QFETCH(AnnounceReason, reason);
        Rig rig;
        rig.clock.set(now - 10h);
        rig.store->record({}, u"an older briefing"_qs, true);
        rig.clock.set(now);

        const RunId run = rig.announce(reason);
        const AnnouncerState failed = AnnouncerState::failed(AppCoordinator::unreachableError);
        if (reason == AnnounceReason::manual) {
            QCOMPARE(rig.spoken(), QStringList{AppCoordinator::unreachableMessage});
            QCOMPARE(rig.coordinator->state(), AnnouncerState::speaking());
            rig.finishSpeaking();
        } else {
            QCOMPARE(rig.spoken(), QStringList{});
        }
        QTRY_COMPARE(rig.coordinator->state(), failed);
        QCOMPARE(rig.outcomeOf(run), RunOutcome::unreachable);
        QCOMPARE(rig.store->lastGather(), now - 10h);
        QCOMPARE(rig.store->lastBriefing(), u"an older briefing"_qs);
        QCOMPARE(rig.coordinator->lastError(), AppCoordinator::unreachableError);

        // A Stop clears what is shown.
        rig.coordinator->stop();
        QCOMPARE(rig.coordinator->state(), AnnouncerState::idle());

        // Back online: the stories of the gap are told, and the next failure shows again
        // until a run succeeds.
        rig.clock.set(now + 1h);
        rig.announce(AnnounceReason::launch);
        QCOMPARE(rig.coordinator->state(), failed);
        rig.serve(u"talos"_qs, {{u"during the outage"_qs, now - 5h}});
        rig.announce(AnnounceReason::manual);
        QVERIFY(rig.spoken().last().contains(u"during the outage"_qs));
        QCOMPARE(rig.coordinator->lastError(), std::nullopt);
        QCOMPARE(rig.coordinator->state(), AnnouncerState::speaking());
        rig.finishSpeaking();
        QTRY_COMPARE(rig.coordinator->state(), AnnouncerState::idle());
    }

    void noCategoriesEnabled()
    {
        Rig rig;
        rig.settings->setEnabledCategories({});
        const RunId run = rig.announce(AnnounceReason::launch);
        QCOMPARE(rig.spoken(), QStringList{AppCoordinator::noCategoriesMessage});
        QCOMPARE(rig.coordinator->lastError(), AppCoordinator::noCategoriesError);
        QCOMPARE(rig.store->lastGather(), std::nullopt);
        QCOMPARE(rig.states,
                 (QList<AnnouncerState>{AnnouncerState::gathering(), AnnouncerState::speaking()}));
        rig.finishSpeaking();
        QTRY_COMPARE(rig.outcomeOf(run), RunOutcome::noCategories);
    }

    // Stories on the window's edge: the one dated at its start is in, one a second before it
    // is out. Local time is UTC here (initTestCase), so midnight is 12 hours before now.
    void windowStart_data()
    {
        QTest::addColumn<AnnounceWindow>("window");
        QTest::addColumn<std::optional<Instant>>("lastGather");
        QTest::addColumn<Instant>("start"); // where the window should start
        QTest::addColumn<QStringList>("told");
        const auto none = std::optional<Instant>();
        const auto sinceLastCheck = AnnounceWindow::sinceLastCheck;
        const QStringList lookBack{u"3h"_qs, u"after midnight"_qs, u"before midnight"_qs, u"20h"_qs,
                                   u"at the start"_qs};
        QTest::newRow("first run: the look-back")
            << sinceLastCheck << none << now - 24h << lookBack;
        // None was told at the last gather: those dated up to 48 hours before it came late.
        QTest::newRow("since the last gather, and 48 hours before it")
            << sinceLastCheck << std::optional<Instant>(now - 5h) << now - 53h
            << QStringList{u"3h"_qs,  u"after midnight"_qs, u"before midnight"_qs, u"20h"_qs,
                           u"30h"_qs, u"at the start"_qs};
        QTest::newRow("a last gather in the future counts as none")
            << sinceLastCheck << std::optional<Instant>(now + 5h) << now - 24h << lookBack;
        QTest::newRow("today: from midnight, whatever the last gather")
            << AnnounceWindow::today << std::optional<Instant>(now - 1h) << now - 12h
            << QStringList{u"3h"_qs, u"after midnight"_qs, u"at the start"_qs};
    }
    void windowStart()
    {
        QFETCH(AnnounceWindow, window);
        QFETCH(std::optional<Instant>, lastGather);
        QFETCH(Instant, start);
        QFETCH(QStringList, told);
        QCOMPARE(startOfLocalDay(now), now - 12h);
        Rig rig;
        if (lastGather) {
            rig.clock.set(*lastGather);
            rig.store->recordGather();
            rig.clock.set(now);
        }
        rig.serve(u"talos"_qs, {{u"3h"_qs, now - 3h},
                                {u"after midnight"_qs, now - 12h + 1min},
                                {u"before midnight"_qs, now - 12h - 1min},
                                {u"20h"_qs, now - 20h},
                                {u"30h"_qs, now - 30h},
                                {u"at the start"_qs, start},
                                {u"a second before the start"_qs, start - 1s}});
        rig.announce(AnnounceReason::manual, window);
        QStringList got;
        for (const NewsItem& item : rig.coordinator->lastItems())
            got.append(item.id);
        QCOMPARE(got, told);
    }

    // A story can reach its feed after a check although it is dated before it (caches,
    // advisories dated at midnight and published at noon): the next check tells it. Stories
    // that a briefing left out because of its length were offered once and stay out.
    void lateStoriesAreToldAndLeftOutOnesStayOut()
    {
        Rig rig;
        rig.serve(u"talos"_qs, {{u"first"_qs, now - 1h}});
        rig.announce(AnnounceReason::manual);
        QCOMPARE(rig.coordinator->lastItems().size(), 1);

        rig.clock.advance(2h);
        rig.serve(u"talos"_qs,
                  {{u"first"_qs, now - 1h}, {u"late"_qs, now - 10h}, {u"too late"_qs, now - 49h}});
        rig.announce(AnnounceReason::manual);
        QCOMPARE(rig.coordinator->lastItems().size(), 1);
        QCOMPARE(rig.coordinator->lastItems()[0].id, u"late"_qs);
        // The opening still names the last check.
        QVERIFY(rig.spoken().last().contains(u" since 2 hours ago."_qs));

        rig.settings->setMaxHeadlines(1);
        rig.clock.advance(1h);
        rig.serve(u"talos"_qs, {{u"kept"_qs, now + 2h}, {u"cut"_qs, now + 1h}});
        rig.announce(AnnounceReason::manual);
        QCOMPARE(rig.coordinator->lastItems().size(), 1);
        QCOMPARE(rig.coordinator->lastItems()[0].id, u"kept"_qs);

        rig.clock.advance(1h);
        rig.announce(AnnounceReason::manual);
        QCOMPARE(rig.spoken().last(), AppCoordinator::upToDateMessage);
        // Everything from today still offers it again.
        rig.announce(AnnounceReason::manual, AnnounceWindow::today);
        QCOMPARE(rig.coordinator->lastItems().size(), 1);
        QCOMPARE(rig.coordinator->lastItems()[0].id, u"cut"_qs);
    }

    void secondRequestWhileGatheringIsDropped()
    {
        Rig rig;
        rig.serve(u"talos"_qs, {{u"a"_qs, now - 1h}});
        const RunId first = rig.coordinator->announce(AnnounceReason::manual);
        QCOMPARE(rig.coordinator->announce(AnnounceReason::manual), RunId(0));
        QCOMPARE(rig.coordinator->announce(AnnounceReason::manual, AnnounceWindow::today),
                 RunId(0));
        QVERIFY(first != 0);
        QTRY_VERIFY(!rig.coordinator->isGathering());
        QCOMPARE(rig.spoken().size(), 1);
        QCOMPARE(rig.states.count(AnnouncerState::gathering()), 1);
    }

    // Speech cut off by newer speech does not end the speaking state; only the end of the
    // newest does. The cut-off run ends as interrupted.
    void stateStaysSpeakingWhileSpeechGoesOn()
    {
        Rig rig;
        rig.serve(u"talos"_qs, {{u"a"_qs, now - 1h}});
        const RunId briefing = rig.announce(AnnounceReason::manual);
        const RunId replay = rig.coordinator->replayLastBriefing(); // cuts the briefing off
        QCoreApplication::processEvents();
        QCOMPARE(rig.coordinator->state(), AnnouncerState::speaking());
        QCOMPARE(rig.spoken().size(), 2);
        QCOMPARE(rig.outcomeOf(briefing), RunOutcome::interrupted);
        rig.finishSpeaking();
        QTRY_COMPARE(rig.coordinator->state(), AnnouncerState::idle());
        QCOMPARE(rig.outcomeOf(replay), RunOutcome::replayed);
    }

    // A request made while an older briefing is still spoken shows gathering until its own
    // result is spoken; the older speech's end changes nothing of it.
    void olderSpeechEndingLeavesTheNewerRunShown()
    {
        Rig rig;
        rig.serve(u"talos"_qs, {{u"a"_qs, now - 1h}});
        const RunId older = rig.announce(AnnounceReason::manual);
        rig.clock.advance(1h);
        rig.serve(u"talos"_qs, {{u"b"_qs, now + 30min}, {u"a"_qs, now - 1h}});
        rig.states.clear();

        // The newer run's speech is held a moment, so that every part of the older briefing
        // ends while the newer one still shows gathering.
        const RunId newer = rig.coordinator->announce(AnnounceReason::manual,
                                                      AnnounceWindow::sinceLastCheck, 1500ms);
        rig.finishSpeaking();
        QTRY_COMPARE(rig.outcomeOf(older), RunOutcome::briefed);
        QTRY_VERIFY(!rig.coordinator->isGathering());
        QCOMPARE(rig.states,
                 (QList<AnnouncerState>{AnnouncerState::gathering(), AnnouncerState::speaking()}));
        QCOMPARE(rig.outcomeOf(newer), std::nullopt);
        QVERIFY(rig.spoken().last().contains(u"Story b"_qs));
    }

    // A Stop while gathering ends the run: nothing is spoken or recorded when the gather
    // returns, so the same stories are told next time.
    void stopWhileGathering()
    {
        Rig rig;
        rig.serve(u"talos"_qs, {{u"a"_qs, now - 1h}});
        const RunId run = rig.coordinator->announce(AnnounceReason::manual);
        QCOMPARE(rig.coordinator->state(), AnnouncerState::gathering());
        rig.coordinator->stop();
        QCOMPARE(rig.coordinator->state(), AnnouncerState::idle());
        QCOMPARE(rig.outcomeOf(run), RunOutcome::stopped);
        QCOMPARE(rig.ended.size(), 1);

        // The next run's gather is asked for after the stopped one's ended, and returns after
        // it: by then a stopped result that was wrongly used would have been spoken and
        // recorded, and this run would find nothing new.
        rig.announce(AnnounceReason::manual);
        QCOMPARE(rig.spoken().size(), 1);
        QVERIFY(rig.spoken().last().contains(u"Story a"_qs));
        QCOMPARE(rig.ended.size(), 1);
    }

    // A run taken back leaves no trace, whether it still gathered or had already recorded and
    // begun to speak.
    void takeBack_data()
    {
        QTest::addColumn<bool>("recorded");
        QTest::newRow("while gathering") << false;
        QTest::newRow("after recording") << true;
    }
    void takeBack()
    {
        QFETCH(bool, recorded);
        Rig rig;
        rig.serve(u"talos"_qs, {{u"a"_qs, now - 1h}});
        rig.announce(AnnounceReason::manual);
        rig.finishSpeaking();
        const StoredState before = rig.store->state();
        const QString lastBriefing = rig.coordinator->lastBriefing();

        rig.clock.advance(1h);
        rig.serve(u"talos"_qs, {{u"b"_qs, now + 30min}, {u"a"_qs, now - 1h}});
        const RunId run = recorded ? rig.announce(AnnounceReason::manual)
                                   : rig.coordinator->announce(AnnounceReason::manual);
        QCOMPARE(rig.spoken().size(), recorded ? 2 : 1);
        rig.coordinator->takeBack(run);
        QCOMPARE(rig.outcomeOf(run), RunOutcome::stopped);
        QVERIFY(!rig.speaker.isSpeaking());
        QCOMPARE(rig.coordinator->state(), AnnouncerState::idle());
        if (recorded) {
            QCOMPARE(rig.store->state(), before);
            QCOMPARE(rig.coordinator->lastBriefing(), lastBriefing);
            QCOMPARE(rig.coordinator->lastItems(), before.lastItems);
        }

        // The next run gathers after the taken-back one ended, so a dropped gather that was
        // wrongly used would have recorded the story by then.
        rig.announce(AnnounceReason::manual); // the story is still to be told
        QCOMPARE(rig.spoken().size(), recorded ? 3 : 2);
        QVERIFY(rig.spoken().last().contains(u"Story b"_qs));
    }

    // A run held from speaking gathers and records at once, shows gathering until the hold ends
    // and speaks then; one stopped meanwhile is never heard. The hold is long beside a gather
    // from files, so the gather has always returned while it lasts.
    void speechHold_data()
    {
        QTest::addColumn<bool>("categories");
        QTest::addColumn<bool>("stopped");
        QTest::newRow("briefing") << true << false;
        QTest::newRow("spoken message") << false << false;
        QTest::newRow("stopped while held") << true << true;
    }
    void speechHold()
    {
        QFETCH(bool, categories);
        QFETCH(bool, stopped);
        Rig rig;
        rig.serve(u"talos"_qs, {{u"a"_qs, now - 1h}});
        if (!categories)
            rig.settings->setEnabledCategories({});
        const auto hold = 3s;
        const RunId run =
            rig.coordinator->announce(AnnounceReason::manual, AnnounceWindow::sinceLastCheck, hold);
        QTRY_VERIFY(!categories || rig.store->lastGather());
        QCOMPARE(rig.spoken(), QStringList{});
        QCOMPARE(rig.coordinator->state(), AnnouncerState::gathering());
        QVERIFY(rig.coordinator->isGathering()); // a second request is still dropped
        if (!stopped) {
            QTRY_COMPARE_WITH_TIMEOUT(rig.spoken().size(), 1, 30000);
            QVERIFY(rig.spoken().first().contains(
                categories ? u"Story a"_qs : AppCoordinator::noCategoriesMessage));
            QCOMPARE(rig.coordinator->state(), AnnouncerState::speaking());
            return;
        }
        rig.coordinator->stop(run);
        QCOMPARE(rig.outcomeOf(run), RunOutcome::stopped);
        // A run held as long, asked for after the stop, is heard after the stopped one's hold
        // has run out: only its words are heard.
        const RunId later =
            rig.coordinator->announce(AnnounceReason::manual, AnnounceWindow::sinceLastCheck, hold);
        QVERIFY(later != 0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.spoken().size(), 1, 30000);
        QCOMPARE(rig.spoken(), QStringList{AppCoordinator::upToDateMessage});
    }

    // Stopping a run that gathers (a terminal's briefing interrupted) leaves the speech of
    // another run (a replay, a voice sample) alone.
    void stopGatheringRunLeavesOtherSpeech()
    {
        Rig rig;
        rig.serve(u"talos"_qs, {{u"a"_qs, now - 1h}});
        const RunId sample = rig.coordinator->previewVoice(u"Sample"_qs);
        const RunId gathering = rig.coordinator->announce(AnnounceReason::manual);
        QVERIFY(rig.speaker.isSpeaking());
        rig.coordinator->stop(gathering);
        QCOMPARE(rig.outcomeOf(gathering), RunOutcome::stopped);
        QVERIFY(rig.speaker.isSpeaking());
        QCOMPARE(rig.engine->stops(), 0);
        QCOMPARE(rig.outcomeOf(sample), std::nullopt);
        QCOMPARE(rig.coordinator->state(), AnnouncerState::speaking());
        rig.finishSpeaking();
        QTRY_COMPARE(rig.outcomeOf(sample), RunOutcome::replayed);
    }

    // Stopping one run leaves the others; stopping all ends speech and every run.
    void stopOneRun()
    {
        Rig rig;
        rig.serve(u"talos"_qs, {{u"a"_qs, now - 1h}});
        const RunId gathering = rig.coordinator->announce(AnnounceReason::manual);
        const RunId replay = rig.coordinator->replayLastBriefing();
        QCOMPARE(rig.coordinator->state(), AnnouncerState::speaking());

        rig.coordinator->stop(replay);
        QCOMPARE(rig.outcomeOf(replay), RunOutcome::stopped);
        QVERIFY(!rig.speaker.isSpeaking());
        QCOMPARE(rig.coordinator->state(), AnnouncerState::gathering());
        QTRY_VERIFY(!rig.coordinator->isGathering());
        QCOMPARE(rig.coordinator->state(), AnnouncerState::speaking());

        rig.coordinator->stop();
        QCOMPARE(rig.outcomeOf(gathering), RunOutcome::stopped);
        QVERIFY(!rig.speaker.isSpeaking());
        QCOMPARE(rig.coordinator->state(), AnnouncerState::idle());
        rig.coordinator->stop(gathering); // ended already: nothing
        QCOMPARE(rig.ended.size(), 2);
    }

    // A voice sample shows speaking while it talks, and cuts a briefing off.
    void voicePreview()
    {
        Rig rig;
        rig.settings->setVoiceIdentifier(u"espeak-ng/en-gb"_qs);
        rig.serve(u"talos"_qs, {{u"a"_qs, now - 1h}});
        const RunId briefing = rig.announce(AnnounceReason::manual);
        const RunId sample = rig.coordinator->previewVoice(u"Sample"_qs);
        QCoreApplication::processEvents();
        QCOMPARE(rig.coordinator->state(), AnnouncerState::speaking());
        QCOMPARE(rig.spoken().last(), u"Sample"_qs);
        QCOMPARE(rig.engine->spoken().last().voiceIdentifier, u"espeak-ng/en-gb"_qs);
        QCOMPARE(rig.outcomeOf(briefing), RunOutcome::interrupted);
        rig.finishSpeaking();
        QTRY_COMPARE(rig.coordinator->state(), AnnouncerState::idle());
        QCOMPARE(rig.outcomeOf(sample), RunOutcome::replayed);
    }

    void stopWhileSpeaking()
    {
        Rig rig;
        rig.serve(u"talos"_qs, {{u"a"_qs, now - 1h}});
        const RunId run = rig.announce(AnnounceReason::manual);
        QVERIFY(rig.speaker.isSpeaking());
        rig.coordinator->stop();
        QVERIFY(!rig.speaker.isSpeaking());
        QCOMPARE(rig.coordinator->state(), AnnouncerState::idle());
        QCOMPARE(rig.outcomeOf(run), RunOutcome::stopped);
        QCoreApplication::processEvents();
        QCOMPARE(rig.ended.size(), 1);
    }

    // The cached last briefing is always the store's.
    void forgetHistory()
    {
        Rig rig;
        rig.serve(u"talos"_qs, {{u"a"_qs, now - 1h}});
        rig.announce(AnnounceReason::manual);
        rig.finishSpeaking();
        QSignalSpy items(rig.coordinator.get(), &AppCoordinator::lastItemsChanged);
        rig.coordinator->forgetHistory();
        QCOMPARE(items.count(), 1);
        QCOMPARE(rig.coordinator->lastItems(), QList<NewsItem>{});
        QCOMPARE(rig.coordinator->lastBriefing(), QString());
        QCOMPARE(rig.store->lastBriefing(), QString());
        rig.coordinator->replayLastBriefing();
        QCOMPARE(rig.spoken().last(), AppCoordinator::nothingToReplayMessage);
    }
};

QTEST_GUILESS_MAIN(AppCoordinatorTest)
#include "tst_appcoordinator.moc"
