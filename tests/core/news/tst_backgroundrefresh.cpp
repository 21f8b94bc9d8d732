#include "news/BackgroundRefresh.h"

#include "news/FeedCache.h"
#include "news/NewsService.h"
#include "store/HeadlineStore.h"
#include "support/FakeSystemEventSource.h"
#include "support/ManualClock.h"
#include "support/TestHttpServer.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <map>

using namespace vardelle;
using namespace std::chrono_literals;
using test::FakeSystemEventSource;
using test::TestHttpResponse;
using test::TestHttpServer;
using test::utc;

namespace {

const Instant base = utc(2024, 6, 4, 9, 0);

QByteArray rss(const QString& id)
{
    return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Fixture</title><item>"
           "<guid>" +
           id.toUtf8() + "</guid><title>A story from " + id.toUtf8() +
           "</title><pubDate>Tue, 04 Jun 2024 08:00:00 +0000</pubDate></item></channel></rss>";
}

} // namespace

class BackgroundRefreshTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    TestHttpServer m_server;
    test::ManualClock m_clock{base};
    int m_count = 0;

    // What one test runs against: four feeds, a cache and a news service of its own.
    struct Rig {
        QList<FeedSource> feeds;
        std::unique_ptr<HeadlineStore> store;
        std::unique_ptr<FeedCache> cache;
        std::unique_ptr<NewsService> news;
        std::unique_ptr<BackgroundRefresh> refresh;
        std::unique_ptr<QSignalSpy> asked;
        std::unique_ptr<QSignalSpy> refreshed;
    };

    std::unique_ptr<Rig> makeRig()
    {
        auto rig = std::make_unique<Rig>();
        const int n = ++m_count;
        for (const QString& id : {u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs}) {
            // A path of each test's own, so the server's log tells its requests apart.
            const QString path = u"/%1/%2.xml"_qs.arg(n).arg(id);
            TestHttpResponse answer = TestHttpResponse::ok(rss(id));
            answer.headers = {{"ETag", "\"" + id.toUtf8() + "\""}, {"Cache-Control", "max-age=0"}};
            m_server.setResponse(path, answer);
            rig->feeds.append(
                FeedSource{id, u"Feed "_qs + id, m_server.url(path), NewsCategory::cybersecurity});
        }
        rig->store = std::make_unique<HeadlineStore>(
            m_home.filePath(u"store%1/state.json"_qs.arg(n)), m_clock);
        rig->cache = std::make_unique<FeedCache>(
            m_home.filePath(u"cache%1/Vardelle/feeds.json"_qs.arg(n)), m_clock);
        rig->news =
            std::make_unique<NewsService>(*rig->store, m_clock, FetchLimits{}, rig->cache.get());
        rig->refresh = std::make_unique<BackgroundRefresh>(*rig->news, m_clock,
                                                           [feeds = rig->feeds] { return feeds; });
        rig->asked = std::make_unique<QSignalSpy>(rig->refresh.get(), &BackgroundRefresh::asked);
        rig->refreshed =
            std::make_unique<QSignalSpy>(rig->refresh.get(), &BackgroundRefresh::refreshed);
        return rig;
    }

    // Moves the clock to the next look and lets it happen; true when a feed was asked for, once
    // its answer is in the cache.
    static bool stepTo(test::ManualClock& clock, Rig& rig)
    {
        const std::optional<Instant> next = rig.refresh->nextWake();
        if (!next)
            return false;
        clock.set(*next);
        const qsizetype asked = rig.asked->size();
        rig.refresh->wake();
        if (rig.asked->size() == asked)
            return false;
        return QTest::qWaitFor([&] { return rig.refreshed->size() == rig.asked->size(); }, 20000);
    }

    QList<test::TestHttpRequest> requestsUnder(const QString& folder) const
    {
        QList<test::TestHttpRequest> found;
        for (const test::TestHttpRequest& request : m_server.requests()) {
            if (request.path.startsWith(folder.toUtf8()))
                found.append(request);
        }
        return found;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_home.filePath(u"cache"_qs)));
        for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
            qunsetenv(name);
        qunsetenv(NewsService::mirrorVariable);
        QVERIFY(m_server.listen());
    }

    void init() { m_clock.set(base); }

    // Over three simulated hours: one feed at a time, never two in the same second; each feed
    // asked again once its copy is as old as the interval, and not sooner; asked with its
    // validators once it has a copy.
    void spacesTheRequests_data()
    {
        QTest::addColumn<qint64>("minutes");
        QTest::addColumn<int>("interval"); // in force, in minutes
        QTest::newRow("the default") << qint64(30) << 30;
        QTest::newRow("an hour") << qint64(60) << 60;
        QTest::newRow("5 counts as 15") << qint64(5) << 15;
        QTest::newRow("14 counts as 15") << qint64(14) << 15;
        QTest::newRow("15") << qint64(15) << 15;
    }
    void spacesTheRequests()
    {
        QFETCH(qint64, minutes);
        QFETCH(int, interval);
        const auto rig = makeRig();
        rig->refresh->setIntervalMinutes(minutes);
        rig->refresh->start();
        QCOMPARE(rig->refresh->interval(), std::chrono::minutes(interval));

        std::vector<std::pair<QUrl, Instant>> asks;
        while (m_clock.now() < base + 3h) {
            const qsizetype before = rig->asked->size();
            if (stepTo(m_clock, *rig))
                asks.emplace_back(rig->asked->at(before).at(0).value<FeedSource>().url,
                                  m_clock.now());
            else
                QCOMPARE(rig->asked->size(), before); // asked, but no answer came
        }

        // The server saw exactly these requests.
        const QList<test::TestHttpRequest> requests = requestsUnder(u"/%1/"_qs.arg(m_count));
        QCOMPARE(requests.size(), qsizetype(asks.size()));
        for (std::size_t i = 1; i < asks.size(); ++i)
            QVERIFY2(asks[i].second - asks[i - 1].second >= BackgroundRefresh::spacing,
                     "two requests less than the spacing apart");

        std::map<QString, std::vector<Instant>> perFeed;
        for (const auto& [url, at] : asks)
            perFeed[url.path()].push_back(at);
        QCOMPARE(perFeed.size(), std::size_t(4));
        const auto every = std::chrono::minutes(interval);
        // Slack: the jitter of a due look, and the other feeds due at the same time ahead of it.
        const auto slack = BackgroundRefresh::dueJitter +
                           4 * (BackgroundRefresh::spacing + BackgroundRefresh::spacingJitter);
        for (const auto& [path, times] : perFeed) {
            QVERIFY2(times.front() - base <= 1min + slack, qPrintable(path));
            for (std::size_t i = 1; i < times.size(); ++i) {
                QVERIFY2(times[i] - times[i - 1] >= every, qPrintable(path + u": too soon"_qs));
                QVERIFY2(times[i] - times[i - 1] <= every + slack,
                         qPrintable(path + u": too late"_qs));
            }
            QVERIFY2(base + 3h - times.back() <= every + slack, qPrintable(path));
        }
        // After the first answer, every request carries its validator.
        QSet<QByteArray> seen;
        for (const test::TestHttpRequest& request : requests) {
            QCOMPARE(request.hasHeader("If-None-Match"), seen.contains(request.path));
            seen.insert(request.path);
        }
    }

    // While away or metered, or with the interval at 0, nothing is asked, however late it grows;
    // once back, asking resumes after a short delay.
    void pausesAndResumes_data()
    {
        QTest::addColumn<QString>("pause");
        QTest::addColumn<QString>("resume");
        QTest::newRow("locked") << u"screenLocked"_qs << u"screenUnlocked"_qs;
        QTest::newRow("screen saver") << u"screenSaverStarted"_qs << u"screenSaverStopped"_qs;
        QTest::newRow("asleep") << u"goingToSleep"_qs << u"wokeFromSleep"_qs;
        QTest::newRow("locked, then the session active")
            << u"screenLocked"_qs << u"sessionActivated"_qs;
        QTest::newRow("metered") << u"metered"_qs << u"unmetered"_qs;
        QTest::newRow("off at 0") << u"0 minutes"_qs << u"30 minutes"_qs;
    }
    void pausesAndResumes()
    {
        QFETCH(QString, pause);
        QFETCH(QString, resume);
        const auto rig = makeRig();
        FakeSystemEventSource session;
        rig->refresh->followSession(session);
        const auto tell = [&](const QString& what) {
            const QMetaEnum events = QMetaEnum::fromType<FakeSystemEventSource::Event>();
            bool known = false;
            const int event = events.keyToValue(what.toLatin1().constData(), &known);
            if (known)
                session.fire(FakeSystemEventSource::Event(event));
            else if (what == u"metered" || what == u"unmetered")
                rig->refresh->setMetered(what == u"metered");
            else
                rig->refresh->setIntervalMinutes(what.section(u' ', 0, 0).toLongLong());
        };

        rig->refresh->start(0s);
        QVERIFY(stepTo(m_clock, *rig));
        QCOMPARE(rig->asked->size(), 1);

        tell(pause);
        QCOMPARE(rig->refresh->nextWake(), std::nullopt);
        m_clock.advance(2h);
        rig->refresh->wake();
        QCOMPARE(rig->asked->size(), 1);

        tell(resume);
        const std::optional<Instant> next = rig->refresh->nextWake();
        QVERIFY(next);
        QVERIFY(*next - m_clock.now() >= BackgroundRefresh::resumeDelay);
        QVERIFY(stepTo(m_clock, *rig));
        QCOMPARE(rig->asked->size(), 2);
        // The feed asked first is due again by now, as are the others.
        QVERIFY(stepTo(m_clock, *rig));
        QCOMPARE(rig->asked->size(), 3);
    }

    // Off from the start: no look is set, and a wake asks nothing.
    void offBeforeStartAsksNothing()
    {
        const auto rig = makeRig();
        rig->refresh->setIntervalMinutes(0);
        rig->refresh->start(0s);
        QCOMPARE(rig->refresh->nextWake(), std::nullopt);
        m_clock.advance(1h);
        rig->refresh->wake();
        QCOMPARE(rig->asked->size(), 0);
        QCOMPARE(rig->refresh->interval(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(BackgroundRefreshTest)
#include "tst_backgroundrefresh.moc"
