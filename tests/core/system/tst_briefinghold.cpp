#include "system/BriefingHold.h"

#include <QtTest>

#include <memory>

using namespace vardelle;
using namespace Qt::StringLiterals;

namespace {

// A sign the test sets by hand.
class FakeSignal : public BusySignal {
public:
    using BusySignal::BusySignal;
    void start() override { ++starts; }
    void set(bool busy) { setBusy(busy); }
    int starts = 0;
};

AnnounceReason reasonNamed(const QString& name)
{
    if (name == u"launch")
        return AnnounceReason::launch;
    if (name == u"unlock")
        return AnnounceReason::unlock;
    if (name == u"wake")
        return AnnounceReason::wake;
    if (name == u"session")
        return AnnounceReason::sessionActive;
    return AnnounceReason::manual;
}

QString nameOf(AnnounceReason reason)
{
    switch (reason) {
    case AnnounceReason::launch:
        return u"launch"_s;
    case AnnounceReason::unlock:
        return u"unlock"_s;
    case AnnounceReason::wake:
        return u"wake"_s;
    case AnnounceReason::sessionActive:
        return u"session"_s;
    case AnnounceReason::manual:
        return u"manual"_s;
    }
    return {};
}

// Two signs, both known and not busy, and an announcer that starts a run for every reason but
// those listed as refused, recording each request it gets.
struct Rig {
    explicit Rig(const QStringList& refused = {})
        : hold([this, refused](AnnounceReason reason) {
            asked.append(nameOf(reason));
            return !refused.contains(nameOf(reason));
        })
    {
        for (FakeSignal*& sign : signs) {
            auto owned = std::make_unique<FakeSignal>();
            sign = owned.get();
            sign->set(false);
            hold.addSignal(std::move(owned));
        }
        hold.start(std::chrono::hours(1));
    }

    // "busy 0", "free 1", "off", "on", or a reason name: a request.
    void run(const QString& step)
    {
        const QStringList words = step.split(u' ');
        if (words[0] == u"busy" || words[0] == u"free")
            signs[words[1].toInt()]->set(words[0] == u"busy");
        else if (step == u"off" || step == u"on")
            hold.setEnabled(step == u"on");
        else
            hold.request(reasonNamed(step));
    }

    QStringList asked;
    BriefingHold hold;
    FakeSignal* signs[2] = {};
};

} // namespace

class BriefingHoldTest : public QObject {
    Q_OBJECT

private slots:
    void holdsAndReleases_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("refused"); // reasons whose guards drop them
        QTest::addColumn<QStringList>("asked");   // every request the announcer got, in order
        QTest::addColumn<bool>("holding");        // at the end

        const QStringList none;
        QTest::newRow("nothing busy: at once")
            << QStringList{u"unlock"_s} << none << QStringList{u"unlock"_s} << false;
        QTest::newRow("busy: held, nothing asked")
            << QStringList{u"busy 0"_s, u"unlock"_s} << none << none << true;
        QTest::newRow("released once when the sign clears")
            << QStringList{u"busy 0"_s, u"unlock"_s, u"free 0"_s} << none
            << QStringList{u"unlock"_s} << false;
        QTest::newRow("several held give one briefing")
            << QStringList{u"busy 0"_s, u"launch"_s, u"unlock"_s,
                           u"wake"_s,   u"unlock"_s, u"free 0"_s}
            << none << QStringList{u"launch"_s} << false;
        QTest::newRow("a dropped first reason lets the next one try")
            << QStringList{u"busy 0"_s, u"launch"_s, u"wake"_s, u"free 0"_s}
            << QStringList{u"launch"_s} << QStringList{u"launch"_s, u"wake"_s} << false;
        QTest::newRow("every held reason dropped: nothing runs, nothing kept")
            << QStringList{u"busy 0"_s, u"launch"_s, u"free 0"_s, u"busy 0"_s, u"free 0"_s}
            << QStringList{u"launch"_s} << QStringList{u"launch"_s} << false;
        QTest::newRow("waits for the last of two signs")
            << QStringList{u"busy 0"_s, u"busy 1"_s, u"unlock"_s, u"free 0"_s} << none << none
            << true;
        QTest::newRow("last of two signs clears")
            << QStringList{u"busy 0"_s, u"busy 1"_s, u"unlock"_s, u"free 1"_s, u"free 0"_s} << none
            << QStringList{u"unlock"_s} << false;
        QTest::newRow("a repeated busy reading changes nothing")
            << QStringList{u"busy 0"_s, u"unlock"_s, u"busy 0"_s, u"free 0"_s, u"free 0"_s} << none
            << QStringList{u"unlock"_s} << false;
        QTest::newRow("not run twice after a second busy spell")
            << QStringList{u"busy 0"_s, u"unlock"_s, u"free 0"_s, u"busy 1"_s, u"free 1"_s} << none
            << QStringList{u"unlock"_s} << false;
        QTest::newRow("manual is never held")
            << QStringList{u"busy 0"_s, u"manual"_s} << none << QStringList{u"manual"_s} << true;
        QTest::newRow("holding off: at once") << QStringList{u"off"_s, u"busy 0"_s, u"unlock"_s}
                                              << none << QStringList{u"unlock"_s} << false;
        QTest::newRow("switching holding off releases")
            << QStringList{u"busy 0"_s, u"wake"_s, u"off"_s} << none << QStringList{u"wake"_s}
            << false;
        QTest::newRow("switching holding on while busy holds the next")
            << QStringList{u"off"_s, u"busy 0"_s, u"on"_s, u"session"_s} << none << none << true;
    }
    void holdsAndReleases()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, refused);
        QFETCH(QStringList, asked);
        QFETCH(bool, holding);
        Rig rig(refused);
        for (const QString& step : steps)
            rig.run(step);
        QCOMPARE(rig.asked, asked);
        QCOMPARE(rig.hold.isHolding(), holding);
        if (!holding)
            QVERIFY(rig.hold.held().isEmpty());
    }

    // Until a sign has given its first reading the user may be busy: the launch request that
    // comes before the answer waits for it, and a sign that never answers stops counting.
    void unknownSignHoldsUntilSettled()
    {
        QStringList asked;
        BriefingHold hold([&asked](AnnounceReason reason) {
            asked.append(nameOf(reason));
            return true;
        });
        auto answering = std::make_unique<FakeSignal>();
        FakeSignal* first = answering.get();
        hold.addSignal(std::move(answering));
        hold.addSignal(std::make_unique<FakeSignal>()); // never answers
        hold.start(std::chrono::milliseconds(200));
        QCOMPARE(first->starts, 1);

        hold.request(AnnounceReason::launch);
        QVERIFY(asked.isEmpty());
        first->set(true);
        first->set(false);
        QVERIFY(asked.isEmpty()); // the silent sign still counts
        QTRY_COMPARE(asked, QStringList{u"launch"_s});
        QVERIFY(!hold.isHolding());
    }
};

QTEST_GUILESS_MAIN(BriefingHoldTest)
#include "tst_briefinghold.moc"
