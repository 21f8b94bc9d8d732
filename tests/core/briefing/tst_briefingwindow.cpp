#include "briefing/BriefingWindow.h"

#include "support/ManualClock.h"

#include <QtTest>

#include <limits>

using namespace vardelle;
using namespace std::chrono_literals;
using test::utc;

namespace {

const Instant now = utc(2026, 12, 10, 12, 0);
constexpr qint64 int64Max = std::numeric_limits<qint64>::max();

} // namespace

class BriefingWindowTest : public QObject {
    Q_OBJECT

private slots:
    // Every stored preference is valid: a look-back or an interval longer than the time type
    // holds means "far past" and "very long", never a start in the future or no interval.
    void lookbackStart_data()
    {
        QTest::addColumn<qint64>("hours");
        QTest::addColumn<Instant>("start");
        QTest::newRow("a day") << qint64(24) << now - 24h;
        QTest::newRow("none") << qint64(0) << now;
        QTest::newRow("negative counts as none") << qint64(-5) << now;
        QTest::newRow("a thousand years") << qint64(24 * 365'000) << now - 24h * 365'000;
        QTest::newRow("past what microseconds hold") << qint64(2'562'047'789) << farPast;
        QTest::newRow("largest") << int64Max << farPast;
    }
    void lookbackStart()
    {
        QFETCH(qint64, hours);
        QFETCH(Instant, start);
        QCOMPARE(vardelle::lookbackStart(now, hours), start);
    }

    void quietInterval_data()
    {
        QTest::addColumn<qint64>("minutes");
        QTest::addColumn<std::chrono::microseconds>("sinceLast");
        QTest::addColumn<bool>("quiet");
        using std::chrono::microseconds;
        QTest::newRow("within") << qint64(30) << microseconds(29min) << true;
        QTest::newRow("at its end") << qint64(30) << microseconds(30min) << false;
        QTest::newRow("a microsecond before its end")
            << qint64(30) << microseconds(30min - 1us) << true;
        QTest::newRow("none") << qint64(0) << microseconds(0) << false;
        QTest::newRow("negative") << qint64(-30) << microseconds(1min) << false;
        QTest::newRow("last in the future") << qint64(30) << microseconds(-5min) << false;
        QTest::newRow("past what microseconds hold")
            << qint64(153'722'867'281) << microseconds(24h * 365) << true;
        QTest::newRow("largest") << int64Max << microseconds(24h * 365 * 100) << true;
    }
    void quietInterval()
    {
        QFETCH(qint64, minutes);
        QFETCH(std::chrono::microseconds, sinceLast);
        QFETCH(bool, quiet);
        QCOMPARE(withinQuietInterval(now, now - sinceLast, minutes), quiet);
        QVERIFY(!withinQuietInterval(now, std::nullopt, minutes));
    }

    void window_data()
    {
        QTest::addColumn<std::optional<Instant>>("requested");
        QTest::addColumn<std::optional<Instant>>("lastCheck");
        QTest::addColumn<Instant>("since");
        QTest::addColumn<Instant>("gatherFrom");
        QTest::addColumn<bool>("sinceLastCheck");
        const std::optional<Instant> none;
        QTest::newRow("first run: the look-back")
            << none << none << now - 24h << now - 24h << false;
        QTest::newRow("since the last check, stories dated up to 48 hours before it")
            << none << std::optional(now - 3h) << now - 3h << now - 51h << true;
        QTest::newRow("the caller's start") << std::optional(now - 10h) << std::optional(now - 3h)
                                            << now - 10h << now - 10h << false;
        QTest::newRow("a last check in the future counts as none")
            << none << std::optional(now + 1h) << now - 24h << now - 24h << false;
        QTest::newRow("a last check near the earliest instant")
            << none << std::optional(farPast + 1h) << farPast + 1h << farPast << true;
    }
    void window()
    {
        QFETCH(std::optional<Instant>, requested);
        QFETCH(std::optional<Instant>, lastCheck);
        QFETCH(Instant, since);
        QFETCH(Instant, gatherFrom);
        QFETCH(bool, sinceLastCheck);
        const BriefingWindow window = briefingWindow(now, requested, lastCheck, 24);
        QCOMPARE(window.since, since);
        QCOMPARE(window.gatherFrom, gatherFrom);
        QCOMPARE(window.sinceLastCheck, sinceLastCheck);
    }
};

QTEST_GUILESS_MAIN(BriefingWindowTest)
#include "tst_briefingwindow.moc"
