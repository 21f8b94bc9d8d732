#include "briefing/AppCoordinator.h"

#include "briefing/BriefingText.h"
#include "support/CoordinatorRig.h"
#include "support/PostedEvents.h"

#include <QtTest>

using namespace vardelle;
using namespace std::chrono_literals;
using test::utc;

namespace {

const Instant now = utc(2026, 12, 10, 12, 0);
using RunId = AppCoordinator::RunId;

// A coordinator with a briefing of three stories under way: its first part handed to the
// engine, the parts it is made of known.
struct Rig : test::CoordinatorRig {
    Rig()
        : CoordinatorRig(now)
    {
        serve(u"bleepingcomputer"_qs, {{u"a"_qs, now - 1h, u"Alpha"_qs}, {u"b"_qs, now - 2h}});
        serve(u"talos"_qs, {{u"c"_qs, now - 3h, u"Gamma"_qs}});
        run = announce(AnnounceReason::manual);
        parts = composeBriefingParts(coordinator->lastItems(), now - 24h, clock);
    }

    QStringList texts(qsizetype from, qsizetype to) const
    {
        QStringList list;
        for (qsizetype i = from; i < to; ++i)
            list.append(parts.at(i).text);
        return list;
    }
    // The engine ends what it is saying, as the speech service reports it.
    void finishPart()
    {
        engine->finish(engine->lastId());
        QCoreApplication::processEvents();
    }
    // The texts handed to the engine, one for each part.
    QStringList uttered() const
    {
        QStringList list;
        for (const auto& utterance : engine->spoken())
            list.append(utterance.text);
        return list;
    }
    qsizetype readingIndex() const
    {
        const auto reading = coordinator->reading();
        return reading ? reading->index : -1;
    }

    RunId run = 0;
    QList<BriefingPart> parts;
};

} // namespace

class StoryByStoryTest : public QObject {
    Q_OBJECT

private slots:
    // Each part is an utterance of its own, the next handed over once the last has ended; the
    // run is told once with its whole text, ends as briefed after the closing and reads nothing
    // then.
    void speaksPartByPart()
    {
        Rig rig;
        QCOMPARE(rig.parts.size(), 5); // the opening, three stories, the closing
        QCOMPARE(rig.told, QStringList{joinedText(rig.parts)});
        QCOMPARE(rig.uttered(), rig.texts(0, 1));
        for (qsizetype i = 1; i < rig.parts.size(); ++i) {
            QCOMPARE(rig.readingIndex(), i - 1);
            rig.finishPart();
            QTRY_COMPARE(rig.uttered(), rig.texts(0, i + 1));
            QCOMPARE(rig.coordinator->state(), AnnouncerState::speaking());
        }
        const auto reading = rig.coordinator->reading();
        QVERIFY(reading && !reading->part.story);
        QCOMPARE(reading->count, 5);
        QVERIFY(!rig.coordinator->hasNextPart());
        rig.finishPart();
        QTRY_COMPARE(rig.outcomeOf(rig.run), RunOutcome::briefed);
        QVERIFY(!rig.coordinator->reading());
        QCOMPARE(rig.coordinator->state(), AnnouncerState::idle());
        QCOMPARE(rig.uttered().size(), 5);
        QCOMPARE(rig.told.size(), 1);
    }

    // Next cuts the part short at once and goes on with the next story; on the last story and
    // the closing there is none to go on to (the closing is no story). Asked for twice between
    // two parts, it passes over two.
    void nextSkips_data()
    {
        QTest::addColumn<int>("finishFirst"); // parts finished before the skips
        QTest::addColumn<int>("skips");
        QTest::addColumn<bool>("betweenParts"); // skipped before the next part has begun
        QTest::addColumn<int>("expectedIndex");
        QTest::newRow("from the opening") << 0 << 1 << false << 1;
        QTest::newRow("twice") << 0 << 2 << false << 2;
        QTest::newRow("from the last story: not to the closing") << 3 << 1 << false << 3;
        QTest::newRow("past the closing") << 4 << 1 << false << 4;
        QTest::newRow("twice between parts, the second to no story") << 1 << 2 << true << 3;
        QTest::newRow("beyond the end between parts") << 2 << 5 << true << 3;
    }
    void nextSkips()
    {
        QFETCH(int, finishFirst);
        QFETCH(int, skips);
        QFETCH(bool, betweenParts);
        QFETCH(int, expectedIndex);
        Rig rig;
        for (int i = 0; i < finishFirst; ++i) {
            rig.finishPart();
            QTRY_COMPARE(rig.readingIndex(), i + 1);
        }
        if (betweenParts)
            rig.engine->finish(rig.engine->lastId()); // the next part waits for the event loop
        for (int i = 0; i < skips; ++i) {
            const bool skipped = rig.coordinator->skipToNextPart();
            QCOMPARE(skipped, finishFirst + i + (betweenParts ? 1 : 0) < 3);
            if (skipped && !betweenParts)
                QTRY_COMPARE(rig.engine->spoken().size(), finishFirst + i + 2);
        }
        QTRY_COMPARE(rig.readingIndex(), expectedIndex);
        QCOMPARE(rig.uttered().last(), rig.parts.at(expectedIndex).text);
        QCOMPARE(rig.coordinator->hasNextPart(), expectedIndex < 3);
        QVERIFY(!rig.outcomeOf(rig.run));
    }

    // A Stop ends the run at once, between parts too: nothing more is spoken, whatever the
    // engine reports afterwards.
    void stopEndsEveryPart_data()
    {
        QTest::addColumn<bool>("betweenParts");
        QTest::newRow("during a part") << false;
        QTest::newRow("between two parts") << true;
    }
    void stopEndsEveryPart()
    {
        QFETCH(bool, betweenParts);
        Rig rig;
        rig.finishPart();
        QTRY_COMPARE(rig.readingIndex(), 1);
        const auto current = rig.engine->lastId();
        if (betweenParts)
            rig.engine->finish(current);
        rig.coordinator->stop();
        QCOMPARE(rig.outcomeOf(rig.run), RunOutcome::stopped);
        QVERIFY(!rig.coordinator->reading());
        QVERIFY(!rig.coordinator->hasNextPart());
        QVERIFY(!rig.coordinator->skipToNextPart());
        rig.engine->finish(current);
        rig.engine->cancel(current);
        QVERIFY(test::deliverPostedEvents());
        QCOMPARE(rig.uttered(), rig.texts(0, 2));
        QCOMPARE(rig.coordinator->state(), AnnouncerState::idle());
    }

    // Reports name their utterance: a late end or cancel of an earlier part leaves the part
    // being read alone; a cancel of the current one (another program's speech) ends only that
    // part, as an end would.
    void reportsActOnTheirOwnPart()
    {
        Rig rig;
        const auto opening = rig.engine->lastId();
        rig.finishPart();
        QTRY_COMPARE(rig.readingIndex(), 1);
        rig.engine->finish(opening);
        rig.engine->cancel(opening);
        QVERIFY(test::deliverPostedEvents());
        QCOMPARE(rig.readingIndex(), 1);
        QCOMPARE(rig.uttered().size(), 2);

        rig.engine->cancel(rig.engine->lastId());
        QTRY_COMPARE(rig.readingIndex(), 2);
        QVERIFY(!rig.outcomeOf(rig.run));
    }

    // The watchdog watches each part: an engine that never reports still gets every part, one
    // after the other, and the run ends.
    void watchdogPerPart()
    {
        Rig rig;
        rig.speaker.setWatchdog(0ms, 30ms);
        rig.coordinator->skipToNextPart(); // the opening's watchdog was set before
        QTRY_COMPARE_WITH_TIMEOUT(rig.outcomeOf(rig.run), RunOutcome::briefed, 5000);
        QCOMPARE(rig.uttered(), rig.texts(0, 5));
    }

    // Other speech cuts the briefing off, during a part or between two: it ends as interrupted
    // and none of its later parts is spoken.
    void otherSpeechInterrupts_data()
    {
        QTest::addColumn<bool>("betweenParts");
        QTest::newRow("during a part") << false;
        QTest::newRow("between two parts") << true;
    }
    void otherSpeechInterrupts()
    {
        QFETCH(bool, betweenParts);
        Rig rig;
        if (betweenParts)
            rig.engine->finish(rig.engine->lastId());
        const RunId preview = rig.coordinator->previewVoice(u"A sample."_qs);
        QTRY_COMPARE(rig.outcomeOf(rig.run), RunOutcome::interrupted);
        QCOMPARE(rig.uttered(), (QStringList{rig.parts.first().text, u"A sample."_qs}));
        QCOMPARE(rig.coordinator->reading()->run, preview);
        rig.finishPart();
        QTRY_COMPARE(rig.outcomeOf(preview), RunOutcome::replayed);
        QCOMPARE(rig.uttered().size(), 2);
    }

    // A replay of the briefing composed in this process is told story by story too.
    void replayStoryByStory()
    {
        Rig rig;
        rig.coordinator->stop();
        const RunId replay = rig.coordinator->replayLastBriefing();
        QCOMPARE(rig.uttered().last(), rig.parts.first().text);
        QVERIFY(rig.coordinator->hasNextPart());
        QVERIFY(rig.coordinator->skipToNextPart());
        QTRY_COMPARE(rig.uttered().last(), rig.parts.at(1).text);
        QCOMPARE(rig.coordinator->reading()->run, replay);
    }
};

QTEST_GUILESS_MAIN(StoryByStoryTest)
#include "tst_storybystory.moc"
