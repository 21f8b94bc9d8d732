#include "news/NewsService.h"

#include "news/FeedCache.h"
#include "store/HeadlineStore.h"
#include "support/ManualClock.h"
#include "support/TestHttpServer.h"

#include <QLocale>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <QtTest>

using namespace vardelle;
using namespace std::chrono_literals;
using test::TestHttpResponse;
using test::TestHttpServer;
using test::utc;

Q_DECLARE_METATYPE(vardelle::test::TestHttpResponse)

namespace {

constexpr qint64 cap = 16 * 1024 * 1024;

struct Story {
    QString id;
    QString title;
    Instant published;
};

QByteArray rss(const QList<Story>& stories, const QByteArray& padding = {})
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
                     "<title>Fixture</title>";
    for (const Story& story : stories) {
        const QString date = QLocale::c().toString(toDateTime(story.published),
                                                   u"ddd, dd MMM yyyy HH:mm:ss +0000"_qs);
        xml += "<item><guid>" + story.id.toUtf8() + "</guid><title>" + story.title.toUtf8() +
               "</title><link>https://example.org/" + story.id.toUtf8() + "</link><pubDate>" +
               date.toUtf8() + "</pubDate></item>";
    }
    xml += "</channel></rss>";
    if (!padding.isEmpty())
        xml += "<!--" + padding + "-->";
    return xml;
}

// A feed document of exactly `size` bytes, its two stories included.
QByteArray rssOfSize(qint64 size, const QList<Story>& stories)
{
    const qint64 bare = rss(stories, "x").size() - 1;
    return rss(stories, QByteArray(size - bare, 'x'));
}

const Instant base = utc(2024, 6, 4, 9, 0);

QList<Story> twoStories(const QString& prefix)
{
    return {{prefix + u"-1"_qs, u"First story from "_qs + prefix, base + 2h},
            {prefix + u"-2"_qs, u"Second story from "_qs + prefix, base + 1h}};
}

QStringList ids(const QList<NewsItem>& items)
{
    QStringList list;
    for (const NewsItem& item : items)
        list.append(item.id);
    return list;
}

std::optional<GatherResult> finish(QFuture<GatherResult> future)
{
    if (!QTest::qWaitFor([&] { return future.isFinished(); }, 30000))
        return std::nullopt;
    if (future.isCanceled() || future.resultCount() == 0)
        return std::nullopt;
    return future.result();
}

} // namespace

class NewsServiceTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    TestHttpServer m_server;
    test::ManualClock m_clock{base + 24h};
    std::unique_ptr<HeadlineStore> m_store;
    int m_storeCount = 0;

    FeedSource source(const QString& id, const QString& path,
                      NewsCategory category = NewsCategory::cybersecurity) const
    {
        return FeedSource{id, u"Feed "_qs + id, m_server.url(path), category};
    }

    // A cache of its own for each test that asks, in a folder of its own.
    std::unique_ptr<FeedCache> makeCache()
    {
        return std::make_unique<FeedCache>(
            m_home.filePath(u"cache%1/Vardelle/feeds.json"_qs.arg(++m_storeCount)), m_clock);
    }

    // A path of its own for the current row, in characters that need no escaping.
    static QString rowPath(const QString& folder)
    {
        QString tag = QString::fromLatin1(QTest::currentDataTag());
        for (QChar& c : tag) {
            if (!c.isLetterOrNumber())
                c = u'-';
        }
        return u"/"_qs + folder + u"/"_qs + tag;
    }

    QList<test::TestHttpRequest> requestsFor(const QString& path, qsizetype from) const
    {
        QList<test::TestHttpRequest> found;
        const QList<test::TestHttpRequest> all = m_server.requests().mid(from);
        for (const test::TestHttpRequest& request : all) {
            if (request.path == path.toUtf8())
                found.append(request);
        }
        return found;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(u"data"_qs)));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(u"config"_qs)));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_home.filePath(u"cache"_qs)));
        // Every request here goes to 127.0.0.1 directly.
        for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
            qunsetenv(name);
        qunsetenv(NewsService::mirrorVariable);
        QVERIFY(m_server.listen());
        m_server.setResponse(u"/feed.xml"_qs, TestHttpResponse::ok(rss(twoStories(u"f"_qs))));
    }

    void init()
    {
        m_clock.set(base + 24h);
        m_store = std::make_unique<HeadlineStore>(
            m_home.filePath(u"store%1/state.json"_qs.arg(++m_storeCount)), m_clock);
    }

    void cleanup() { qunsetenv(NewsService::mirrorVariable); }

    void fetchOutcomes_data()
    {
        QTest::addColumn<TestHttpResponse>("response");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("totalMs");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<int>("itemCount");

        const QByteArray feed = rss(twoStories(u"f"_qs));
        auto row = [](const char* name) -> QTestData& { return QTest::newRow(name); };
        const TestHttpResponse none;

        row("200 with a feed") << TestHttpResponse::ok(feed) << false << 5000 << 10000 << false
                               << 2;
        row("200 with an HTML page")
            << TestHttpResponse::ok("<!DOCTYPE html><html><body><h1>Moved</h1></body></html>",
                                    "text/html")
            << false << 5000 << 10000 << false << 0;
        row("200 with an empty body")
            << TestHttpResponse::ok({}) << false << 5000 << 10000 << false << 0;

        TestHttpResponse notFound = TestHttpResponse::ok("missing", "text/plain");
        notFound.status = 404;
        row("404") << notFound << false << 5000 << 10000 << true << 0;
        TestHttpResponse serverError = TestHttpResponse::ok(feed);
        serverError.status = 500;
        row("500 even with a feed body") << serverError << false << 5000 << 10000 << true << 0;

        row("301 to a working address")
            << TestHttpResponse::redirect(301, m_server.url(u"/feed.xml"_qs)) << false << 5000
            << 10000 << false << 2;
        row("redirect loop") << TestHttpResponse::redirect(302, m_server.url(u"/loop"_qs)) << false
                             << 5000 << 10000 << true << 0;
        row("connection refused") << none << true << 5000 << 10000 << true << 0;

        TestHttpResponse silent = TestHttpResponse::ok(feed);
        silent.delay = 10s;
        row("no answer at all") << silent << false << 200 << 10000 << true << 0;
        TestHttpResponse stall = TestHttpResponse::ok(feed);
        stall.stallAfterHeaders = true;
        row("headers, then a stall") << stall << false << 200 << 10000 << true << 0;

        TestHttpResponse slowButSteady = TestHttpResponse::ok(feed);
        slowButSteady.dripBytes = feed.size() / 12 + 1;
        slowButSteady.dripInterval = 50ms;
        row("a slow drip that keeps the idle limit")
            << slowButSteady << false << 400 << 10000 << false << 2;
        TestHttpResponse tooSlow = TestHttpResponse::ok(feed);
        tooSlow.dripBytes = 16;
        tooSlow.dripInterval = 30ms;
        row("a drip past the total limit") << tooSlow << false << 2000 << 300 << true << 0;

        TestHttpResponse cut = TestHttpResponse::ok(feed);
        cut.closeAfterBodyBytes = feed.size() / 2;
        row("connection lost mid-body") << cut << false << 5000 << 10000 << true << 0;

        row("a feed exactly at the size cap")
            << TestHttpResponse::ok(rssOfSize(cap, twoStories(u"f"_qs))) << false << 5000 << 20000
            << false << 2;
        const QByteArray oversized = rssOfSize(cap + 1, twoStories(u"f"_qs));
        row("one byte over the cap, length announced")
            << TestHttpResponse::ok(oversized) << false << 5000 << 20000 << true << 0;
        TestHttpResponse unannounced = TestHttpResponse::ok(oversized);
        unannounced.declareLength = false;
        row("one byte over the cap, length not announced")
            << unannounced << false << 5000 << 20000 << true << 0;
    }
    void fetchOutcomes()
    {
        QFETCH(TestHttpResponse, response);
        QFETCH(bool, refused);
        QFETCH(int, idleMs);
        QFETCH(int, totalMs);
        QFETCH(bool, failed);
        QFETCH(int, itemCount);

        const QString path = u"/case/"_qs + QString::fromLatin1(QTest::currentDataTag());
        m_server.setResponse(path, response);
        m_server.setResponse(u"/loop"_qs,
                             TestHttpResponse::redirect(302, m_server.url(u"/loop"_qs)));
        FeedSource feed = source(u"case"_qs, path);
        if (refused)
            feed.url.setPort(TestHttpServer::closedPort());

        const qsizetype before = m_server.requests().size();
        NewsService service(*m_store, m_clock,
                            FetchLimits{std::chrono::milliseconds(idleMs),
                                        std::chrono::milliseconds(totalMs), cap});
        const auto result = finish(service.gather({feed}, base, 10));
        QVERIFY(result);
        // The scripted answer was the one given, not the server's 404 for unknown paths.
        if (!refused) {
            const auto requests = m_server.requests();
            QVERIFY(requests.size() > before);
            QVERIFY(requests[before].scripted);
        }
        QCOMPARE(result->failedSources, failed ? QStringList{feed.name} : QStringList{});
        QCOMPARE(result->items.size(), itemCount);
        QCOMPARE(result->since, base);
    }

    void requestsCarryOnlyTheUserAgent()
    {
        const qsizetype before = m_server.requests().size();
        NewsService service(*m_store, m_clock);
        QVERIFY(finish(service.gather({source(u"ua"_qs, u"/feed.xml"_qs)}, base, 10)));

        const QList<test::TestHttpRequest> requests = m_server.requests().mid(before);
        QCOMPARE(requests.size(), 1);
        const test::TestHttpRequest& request = requests.first();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.path, QByteArray("/feed.xml"));
        QCOMPARE(request.header("User-Agent"),
                 QByteArray("Vardelle/") + QByteArray(VARDELLE_VERSION) + " (Linux)");
        QVERIFY(request.header("Accept-Encoding").contains("gzip"));
        for (const char* conditional : {"If-None-Match", "If-Modified-Since", "Cookie"})
            QVERIFY2(!request.hasHeader(conditional), conditional);
    }

    // Several feeds at once: failures are named, duplicates across feeds merged, the window
    // kept, the result balanced; what was recorded as announced never comes back.
    void wholeGather()
    {
        m_server.setResponse(
            u"/w/cyber.xml"_qs,
            TestHttpResponse::ok(rss({{u"c1"_qs, u"Cyber newest"_qs, base + 50min},
                                      {u"c2"_qs, u"Cyber second"_qs, base + 40min},
                                      {u"c3"_qs, u"Cyber third"_qs, base + 30min},
                                      {u"c-old"_qs, u"Cyber before the window"_qs, base - 1s}})));
        m_server.setResponse(
            u"/w/threat.xml"_qs,
            TestHttpResponse::ok(rss({{u"t1"_qs, u"Threat newest"_qs, base + 55min},
                                      {u"t2"_qs, u"Threat second"_qs, base + 45min}})));
        // The same story as c2 under another id, a little later, with another case and mark.
        m_server.setResponse(
            u"/w/malware.xml"_qs,
            TestHttpResponse::ok(rss({{u"m1"_qs, u"Malware newest"_qs, base + 20min},
                                      {u"m-c2"_qs, u"CYBER SECOND!"_qs, base + 41min},
                                      {u"m2"_qs, u"Malware at the window's start"_qs, base}})));
        TestHttpResponse gone = TestHttpResponse::ok("gone", "text/plain");
        gone.status = 404;
        m_server.setResponse(u"/w/gone.xml"_qs, gone);
        TestHttpResponse stall = TestHttpResponse::ok(rss(twoStories(u"s"_qs)));
        stall.stallAfterHeaders = true;
        m_server.setResponse(u"/w/stall.xml"_qs, stall);
        m_server.setResponse(u"/w/page.xml"_qs,
                             TestHttpResponse::ok("<html><body>Hi</body></html>", "text/html"));

        const QList<FeedSource> sources{
            source(u"stall"_qs, u"/w/stall.xml"_qs),
            source(u"cyber"_qs, u"/w/cyber.xml"_qs, NewsCategory::cybersecurity),
            source(u"gone"_qs, u"/w/gone.xml"_qs),
            source(u"threat"_qs, u"/w/threat.xml"_qs, NewsCategory::threatIntel),
            source(u"page"_qs, u"/w/page.xml"_qs),
            source(u"malware"_qs, u"/w/malware.xml"_qs, NewsCategory::malware),
        };
        NewsService service(*m_store, m_clock, FetchLimits{300ms, 10s, cap});

        const auto first = finish(service.gather(sources, base, 4));
        QVERIFY(first);
        QCOMPARE(first->failedSources, (QStringList{u"Feed gone"_qs, u"Feed stall"_qs}));
        QCOMPARE(ids(first->items), (QStringList{u"c1"_qs, u"t1"_qs, u"m-c2"_qs, u"c3"_qs}));
        QCOMPARE(first->items[2].category, NewsCategory::malware);
        QCOMPARE(first->items[2].source, u"Feed malware"_qs);

        m_store->record(first->items, u"Briefing"_qs, true);
        const auto second = finish(service.gather(sources, base, 4));
        QVERIFY(second);
        QCOMPARE(ids(second->items), (QStringList{u"t2"_qs, u"m1"_qs, u"m2"_qs}));

        m_store->record(second->items, u"Briefing"_qs, true);
        const auto third = finish(service.gather(sources, base, 4));
        QVERIFY(third);
        QVERIFY(third->items.isEmpty());
        QCOMPARE(third->failedSources.size(), 2);
    }

    // A feed asked again sends back its validators exactly as they came, and a 304 means the
    // stories it gave last time; without validators it is asked in full.
    void conditionalRequests_data()
    {
        QTest::addColumn<QByteArray>("etag");
        QTest::addColumn<QByteArray>("lastModified");
        QTest::newRow("both") << QByteArray("W/\"5f-a b\"")
                              << QByteArray("Tue, 04 Jun 2024 08:59:59 GMT");
        QTest::newRow("an ETag only") << QByteArray("\"v1\"") << QByteArray();
        QTest::newRow("a date only") << QByteArray() << QByteArray("Mon, 03 Jun 2024 23:00:00 GMT");
        QTest::newRow("neither") << QByteArray() << QByteArray();
    }
    void conditionalRequests()
    {
        QFETCH(QByteArray, etag);
        QFETCH(QByteArray, lastModified);
        const QString path = rowPath(u"conditional"_qs);
        TestHttpResponse full = TestHttpResponse::ok(rss(twoStories(u"v"_qs)));
        if (!etag.isEmpty())
            full.headers.append({"ETag", etag});
        if (!lastModified.isEmpty())
            full.headers.append({"Last-Modified", lastModified});
        m_server.setResponse(path, full);
        const auto cache = makeCache();
        NewsService service(*m_store, m_clock, {}, cache.get());
        const FeedSource feed = source(u"v"_qs, path);
        const qsizetype before = m_server.requests().size();

        const auto first = finish(service.gather({feed}, base, 10));
        QVERIFY(first);
        QCOMPARE(first->items.size(), 2);

        TestHttpResponse notModified;
        notModified.status = 304;
        m_server.setResponse(path, etag.isEmpty() && lastModified.isEmpty() ? full : notModified);
        m_clock.advance(11min);
        const auto second = finish(service.gather({feed}, base, 10));
        QVERIFY(second);
        QCOMPARE(ids(second->items), ids(first->items));
        QCOMPARE(second->items, first->items);
        QVERIFY(second->failedSources.isEmpty());

        const auto requests = requestsFor(path, before);
        QCOMPARE(requests.size(), 2);
        for (const char* header : {"If-None-Match", "If-Modified-Since"})
            QVERIFY2(!requests[0].hasHeader(header), header);
        QCOMPARE(requests[1].hasHeader("If-None-Match"), !etag.isEmpty());
        QCOMPARE(requests[1].header("If-None-Match"), etag);
        QCOMPARE(requests[1].hasHeader("If-Modified-Since"), !lastModified.isEmpty());
        QCOMPARE(requests[1].header("If-Modified-Since"), lastModified);

        // The 304 counts as an answer: the feed is fresh again from now on.
        m_clock.advance(9min);
        QVERIFY(finish(service.gather({feed}, base, 10)));
        QCOMPARE(requestsFor(path, before).size(), 2);
    }

    // A feed answered recently is not asked again: ten minutes, or as long as its server says
    // up to an hour. Its stories are served all the same.
    void aFreshFeedIsNotAskedAgain_data()
    {
        QTest::addColumn<QByteArray>("cacheControl");
        QTest::addColumn<int>("minutesLater");
        QTest::addColumn<bool>("asked");
        QTest::newRow("nothing said, 9 min") << QByteArray() << 9 << false;
        QTest::newRow("nothing said, 10 min") << QByteArray() << 10 << true;
        QTest::newRow("no-cache, 9 min") << QByteArray("no-cache") << 9 << false;
        QTest::newRow("max-age 30 min, 29 min") << QByteArray("max-age=1800") << 29 << false;
        QTest::newRow("max-age 30 min, 30 min") << QByteArray("max-age=1800") << 30 << true;
        QTest::newRow("max-age a day, 59 min")
            << QByteArray("public, max-age=86400") << 59 << false;
        QTest::newRow("max-age a day, 60 min") << QByteArray("public, max-age=86400") << 60 << true;
    }
    void aFreshFeedIsNotAskedAgain()
    {
        QFETCH(QByteArray, cacheControl);
        QFETCH(int, minutesLater);
        QFETCH(bool, asked);
        const QString path = rowPath(u"fresh"_qs);
        TestHttpResponse response = TestHttpResponse::ok(rss(twoStories(u"r"_qs)));
        if (!cacheControl.isEmpty())
            response.headers.append({"Cache-Control", cacheControl});
        m_server.setResponse(path, response);
        const auto cache = makeCache();
        const qsizetype before = m_server.requests().size();
        const FeedSource feed = source(u"r"_qs, path);
        {
            NewsService service(*m_store, m_clock, {}, cache.get());
            QVERIFY(finish(service.gather({feed}, base, 10)));
        }
        QCOMPARE(requestsFor(path, before).size(), 1);

        // A later briefing, by another process reading the same file.
        m_clock.advance(std::chrono::minutes(minutesLater));
        FeedCache reader(cache->filePath(), m_clock);
        NewsService service(*m_store, m_clock, {}, &reader);
        const auto result = finish(service.gather({feed}, base, 10));
        QVERIFY(result);
        QCOMPARE(result->items.size(), 2);
        QVERIFY(result->failedSources.isEmpty());
        QCOMPARE(requestsFor(path, before).size(), asked ? 2 : 1);
    }

    // A refresh asks as a gather would and keeps the answer in the cache, and nothing else: the
    // store records no gather. Through the mirror it asks nothing.
    void refreshOnlyFillsTheCache_data()
    {
        QTest::addColumn<bool>("mirror");
        QTest::addColumn<int>("minutesLater");
        QTest::addColumn<int>("requests"); // after both refreshes
        QTest::newRow("a fresh copy is not asked for") << false << 9 << 1;
        QTest::newRow("an older copy is asked for with its validator") << false << 10 << 2;
        QTest::newRow("through the mirror, nothing") << true << 10 << 0;
    }
    void refreshOnlyFillsTheCache()
    {
        QFETCH(bool, mirror);
        QFETCH(int, minutesLater);
        QFETCH(int, requests);
        const QString path = rowPath(u"refresh"_qs);
        TestHttpResponse response = TestHttpResponse::ok(rss(twoStories(u"h"_qs)));
        response.headers = {{"ETag", "\"h1\""}};
        m_server.setResponse(path, response);
        if (mirror)
            qputenv(NewsService::mirrorVariable, m_server.url(u"/nowhere"_qs).toEncoded());
        const auto cache = makeCache();
        NewsService service(*m_store, m_clock, {}, cache.get());
        const FeedSource feed = source(u"h"_qs, path);
        const qsizetype before = m_server.requests().size();

        QFuture<void> first = service.refresh(feed);
        QVERIFY(QTest::qWaitFor([&] { return first.isFinished(); }, 30000));
        const Instant answered = m_clock.now();
        m_clock.advance(std::chrono::minutes(minutesLater));
        QFuture<void> second = service.refresh(feed);
        QVERIFY(QTest::qWaitFor([&] { return second.isFinished(); }, 30000));

        const QList<test::TestHttpRequest> asked = requestsFor(path, before);
        QCOMPARE(asked.size(), qsizetype(requests));
        if (asked.size() == 2)
            QCOMPARE(asked[1].header("If-None-Match"), QByteArray("\"h1\""));
        if (mirror) {
            QCOMPARE(service.copyTime(feed), std::nullopt);
            QCOMPARE(cache->size(), 0);
        } else {
            QCOMPARE(service.copyTime(feed), requests == 2 ? m_clock.now() : answered);
            QCOMPARE(cache->find(feed.url)->items.size(), 2);
        }
        QCOMPARE(m_store->lastGather(), std::nullopt);
    }

    // Through the mirror every gather asks again: it is the user's own copy of the feeds.
    void theMirrorIsAlwaysAsked()
    {
        const FeedSource* talos = FeedSource::find(u"talos");
        QVERIFY(talos);
        m_server.setResponse(u"/fresh-mirror/talos.xml"_qs,
                             TestHttpResponse::ok(rss(twoStories(u"talos"_qs))));
        qputenv(NewsService::mirrorVariable, m_server.url(u"/fresh-mirror"_qs).toEncoded());
        const auto cache = makeCache();
        NewsService service(*m_store, m_clock, {}, cache.get());
        const qsizetype before = m_server.requests().size();
        for (int i = 0; i < 2; ++i)
            QVERIFY(finish(service.gather({*talos}, base, 10)));
        QCOMPARE(requestsFor(u"/fresh-mirror/talos.xml"_qs, before).size(), 2);
        QCOMPARE(cache->size(), 0);
    }

    // A 429 or 503 with Retry-After: the feed is not asked again before then (a day at most),
    // and its cached stories stand in meanwhile; without a copy it has failed.
    void retryAfterIsHonoured_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("retryAfter");
        QTest::addColumn<bool>("copy");
        QTest::addColumn<int>("heldMinutes"); // asked again after this long, not before
        const QByteArray inHalfAnHour = QLocale::c()
                                            .toString(toDateTime(base + 24h + 11min + 30min),
                                                      u"ddd, dd MMM yyyy HH:mm:ss 'GMT'"_qs)
                                            .toLatin1();
        QTest::newRow("503, seconds") << 503 << QByteArray("1200") << true << 20;
        QTest::newRow("429, an HTTP date") << 429 << inHalfAnHour << true << 30;
        QTest::newRow("503, a week is a day") << 503 << QByteArray("604800") << true << 24 * 60;
        QTest::newRow("503 with no copy") << 503 << QByteArray("1200") << false << 20;
    }
    void retryAfterIsHonoured()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, retryAfter);
        QFETCH(bool, copy);
        QFETCH(int, heldMinutes);
        const QString path = rowPath(u"busy"_qs);
        const TestHttpResponse good = TestHttpResponse::ok(rss(twoStories(u"b"_qs)));
        TestHttpResponse busy = TestHttpResponse::ok("busy", "text/plain");
        busy.status = status;
        busy.headers.append({"Retry-After", retryAfter});
        const auto cache = makeCache();
        NewsService service(*m_store, m_clock, {}, cache.get());
        const FeedSource feed = source(u"b"_qs, path);
        const QStringList failed = copy ? QStringList{} : QStringList{feed.name};
        const qsizetype storyCount = copy ? 2 : 0;
        const qsizetype before = m_server.requests().size();
        if (copy) {
            m_server.setResponse(path, good);
            QVERIFY(finish(service.gather({feed}, base, 10)));
        }
        m_clock.advance(11min);
        m_server.setResponse(path, busy);
        const auto refused = finish(service.gather({feed}, base, 10));
        QVERIFY(refused);
        QCOMPARE(refused->failedSources, failed);
        QCOMPARE(refused->items.size(), storyCount);
        const qsizetype asked = requestsFor(path, before).size();

        m_server.setResponse(path, good);
        m_clock.advance(std::chrono::minutes(heldMinutes) - 1s);
        const auto held = finish(service.gather({feed}, base, 10));
        QVERIFY(held);
        QCOMPARE(held->failedSources, failed);
        QCOMPARE(held->items.size(), storyCount);
        QCOMPARE(requestsFor(path, before).size(), asked);

        m_clock.advance(1s);
        const auto after = finish(service.gather({feed}, base, 10));
        QVERIFY(after);
        QVERIFY(after->failedSources.isEmpty());
        QCOMPARE(after->items.size(), 2);
        QCOMPARE(requestsFor(path, before).size(), asked + 1);
    }

    // Offline, the feeds that had to be asked have failed, cached or not, so the briefing can
    // say the feeds could not be reached; the ones still fresh have not.
    void offlineFeedsStillFail_data()
    {
        QTest::addColumn<int>("minutesLater");
        QTest::addColumn<int>("failedCount");
        QTest::newRow("still fresh") << 5 << 0;
        QTest::newRow("due again") << 11 << 2;
    }
    void offlineFeedsStillFail()
    {
        QFETCH(int, minutesLater);
        QFETCH(int, failedCount);
        TestHttpServer publisher;
        QVERIFY(publisher.listen());
        publisher.setResponse(u"/a.xml"_qs, TestHttpResponse::ok(rss(twoStories(u"a"_qs))));
        publisher.setResponse(u"/b.xml"_qs, TestHttpResponse::ok(rss(twoStories(u"b"_qs))));
        const QList<FeedSource> feeds{{u"a"_qs, u"Feed a"_qs, publisher.url(u"/a.xml"_qs), {}},
                                      {u"b"_qs, u"Feed b"_qs, publisher.url(u"/b.xml"_qs), {}}};
        const auto cache = makeCache();
        NewsService service(*m_store, m_clock, {}, cache.get());
        const auto online = finish(service.gather(feeds, base, 10));
        QVERIFY(online);
        QCOMPARE(online->items.size(), 4);

        publisher.close();
        m_clock.advance(std::chrono::minutes(minutesLater));
        const auto offline = finish(service.gather(feeds, base, 10));
        QVERIFY(offline);
        QCOMPARE(offline->failedSources.size(), failedCount);
        QCOMPARE(offline->items.size(), failedCount == 0 ? 4 : 0);
    }

    // A refused address says what happened, in a few words, whichever hop it happened on.
    void checkSaysWhatHappened_data()
    {
        QTest::addColumn<TestHttpResponse>("response");
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("totalMs");
        QTest::addColumn<qint64>("capBytes");
        QTest::addColumn<QString>("reason");

        const QByteArray feed = rss(twoStories(u"k"_qs));
        TestHttpResponse stall = TestHttpResponse::ok(feed);
        stall.stallAfterHeaders = true;
        m_server.setResponse(u"/check/stalls"_qs, stall);
        TestHttpResponse silent = TestHttpResponse::ok(feed);
        silent.delay = 60s;
        m_server.setResponse(u"/check/silent"_qs, silent);
        TestHttpResponse drip = TestHttpResponse::ok(feed);
        drip.dripBytes = 16;
        drip.dripInterval = 30ms;
        m_server.setResponse(u"/check/drips"_qs, drip);
        m_server.setResponse(u"/check/loop"_qs,
                             TestHttpResponse::redirect(302, m_server.url(u"/check/loop"_qs)));

        QTest::newRow("no answer at all")
            << silent << 200 << 60000 << cap << u"no answer within 0.2 seconds"_qs;
        QTest::newRow("a stall after the head")
            << stall << 200 << 60000 << cap << u"no answer within 0.2 seconds"_qs;
        QTest::newRow("a stall behind a redirect")
            << TestHttpResponse::redirect(302, m_server.url(u"/check/stalls"_qs)) << 200 << 60000
            << cap << u"no answer within 0.2 seconds"_qs;
        QTest::newRow("silence behind a redirect")
            << TestHttpResponse::redirect(307, m_server.url(u"/check/silent"_qs)) << 200 << 60000
            << cap << u"no answer within 0.2 seconds"_qs;
        QTest::newRow("a drip past the total behind a redirect")
            << TestHttpResponse::redirect(301, m_server.url(u"/check/drips"_qs)) << 5000 << 300
            << cap << u"not complete within 0.3 seconds"_qs;
        QTest::newRow("a redirect loop")
            << TestHttpResponse::redirect(302, m_server.url(u"/check/loop"_qs)) << 5000 << 60000
            << cap << u"too many redirects"_qs;
        QTest::newRow("a redirect to a file")
            << TestHttpResponse::redirect(302, QUrl(u"file:///etc/passwd"_qs)) << 5000 << 60000
            << cap << u"redirected to a non-web address"_qs;
        QTest::newRow("a redirect to ftp")
            << TestHttpResponse::redirect(301, QUrl(u"ftp://127.0.0.1/feed.xml"_qs)) << 5000
            << 60000 << cap << u"redirected to a non-web address"_qs;
        QTest::newRow("a body past the cap, announced")
            << TestHttpResponse::ok(rssOfSize(cap + 1, twoStories(u"k"_qs))) << 5000 << 60000 << cap
            << u"larger than 16 MiB"_qs;
        TestHttpResponse endless = TestHttpResponse::ok(QByteArray(2 * 1024 * 1024, ' '));
        endless.declareLength = false;
        QTest::newRow("an endless body")
            << endless << 5000 << 60000 << qint64(1024 * 1024) << u"larger than 1 MiB"_qs;
        // Four MiB of spaces, a few KiB on the wire.
        TestHttpResponse bomb;
        bomb.body = qCompress(QByteArray(4 * 1024 * 1024, ' '), 9).mid(4);
        bomb.headers = {{"Content-Type", "application/rss+xml"}, {"Content-Encoding", "deflate"}};
        QTest::newRow("a compressed bomb")
            << bomb << 5000 << 60000 << qint64(1024 * 1024) << u"larger than 1 MiB"_qs;
        TestHttpResponse bigHead = TestHttpResponse::ok(feed);
        bigHead.headers.append({"X-Padding", QByteArray(1024 * 1024, 'p')});
        // A head is not data: while it comes, the idle limit runs.
        QTest::newRow("a head of a MiB, slower than the idle limit")
            << bigHead << 300 << 60000 << cap << u"no answer within 0.3 seconds"_qs;
        // Ninety fields of a KiB: fewer and shorter than the network layer drops on its own.
        TestHttpResponse manyFields = TestHttpResponse::ok(feed);
        for (int i = 0; i < 90; ++i)
            manyFields.headers.append({"X-Field-" + QByteArray::number(i), QByteArray(1000, 'f')});
        QTest::newRow("a head of many fields")
            << manyFields << 5000 << 60000 << cap << u"a response head larger than 64 KiB"_qs;
        TestHttpResponse missing = TestHttpResponse::ok("missing", "text/plain");
        missing.status = 404;
        QTest::newRow("404") << missing << 5000 << 60000 << cap
                             << u"the server answered HTTP 404"_qs;
    }
    void checkSaysWhatHappened()
    {
        QFETCH(TestHttpResponse, response);
        QFETCH(int, idleMs);
        QFETCH(int, totalMs);
        QFETCH(qint64, capBytes);
        QFETCH(QString, reason);
        const QString path = rowPath(u"check"_qs);
        m_server.setResponse(path, response);
        NewsService service(*m_store, m_clock,
                            FetchLimits{std::chrono::milliseconds(idleMs),
                                        std::chrono::milliseconds(totalMs), capBytes});
        QFuture<FeedCheck> future = service.check(m_server.url(path));
        QVERIFY(QTest::qWaitFor([&] { return future.isFinished(); }, 30000));
        QCOMPARE(future.result().refusal, std::optional<QString>(reason));
    }

    // The limits run from when a request goes out: feeds of one host queued behind its six
    // connections are not failed for the time they waited.
    void queuedRequestsAreNotTimedWhileTheyWait()
    {
        TestHttpServer host;
        QVERIFY(host.listen());
        TestHttpResponse slow = TestHttpResponse::ok(rss(twoStories(u"q"_qs)));
        slow.delay = 600ms;
        QList<FeedSource> feeds;
        for (int i = 0; i < 18; ++i) {
            const QString path = u"/queued/%1.xml"_qs.arg(i);
            host.setResponse(path, slow);
            feeds.append({u"q%1"_qs.arg(i), u"Feed q%1"_qs.arg(i), host.url(path), {}});
        }
        // Three rounds of six take 1.8 s from the first request; each round alone 0.6 s.
        NewsService service(*m_store, m_clock, FetchLimits{1500ms, 1500ms, cap});
        const auto result = finish(service.gather(feeds, base, 100));
        QVERIFY(result);
        QCOMPARE(result->failedSources, QStringList());
        QCOMPARE(host.requests().size(), 18);
    }

    // A gather waits for the feeds it has a copy of only until its deadline: the copy stands
    // in, the answer still comes into the cache, and the next briefing tells what it brought.
    // Feeds without a copy are waited for. (One feed answers at once: the network is up.)
    void copiesStandInAtTheDeadline()
    {
        TestHttpServer host;
        QVERIFY(host.listen());
        host.setResponse(u"/known.xml"_qs,
                         TestHttpResponse::ok(rss({{u"k-old"_qs, u"Known old"_qs, base + 1h}})));
        const QList<FeedSource> feeds{
            {u"known"_qs, u"Feed known"_qs, host.url(u"/known.xml"_qs), {}},
            {u"new"_qs, u"Feed new"_qs, host.url(u"/new.xml"_qs), {}},
            {u"quick"_qs, u"Feed quick"_qs, host.url(u"/quick.xml"_qs), {}}};
        host.setResponse(u"/quick.xml"_qs, TestHttpResponse::ok(rss(twoStories(u"q"_qs))));
        const auto cache = makeCache();
        FetchLimits limits;
        limits.copyDeadline = 200ms;
        NewsService service(*m_store, m_clock, limits, cache.get());
        QVERIFY(finish(service.gather({feeds[0]}, base, 10)));

        m_clock.advance(11min);
        TestHttpResponse slowKnown =
            TestHttpResponse::ok(rss({{u"k-new"_qs, u"Known new"_qs, base + 2h},
                                      {u"k-old"_qs, u"Known old"_qs, base + 1h}}));
        slowKnown.delay = 2s;
        host.setResponse(u"/known.xml"_qs, slowKnown);
        TestHttpResponse slowNew = TestHttpResponse::ok(rss(twoStories(u"n"_qs)));
        slowNew.delay = 1s;
        host.setResponse(u"/new.xml"_qs, slowNew);
        QSignalSpy settled(&service, &NewsService::lateAnswersSettled);

        const auto result = finish(service.gather(feeds, base, 10));
        QVERIFY(result);
        QVERIFY(result->failedSources.isEmpty());
        QStringList told = ids(result->items);
        told.sort();
        QCOMPARE(told, (QStringList{u"k-old"_qs, u"n-1"_qs, u"n-2"_qs, u"q-1"_qs, u"q-2"_qs}));
        QVERIFY(service.hasLateAnswers());

        QVERIFY(settled.wait(10000));
        QVERIFY(!service.hasLateAnswers());
        FeedCache reader(cache->filePath(), m_clock);
        reader.refresh();
        QCOMPARE(reader.find(feeds[0].url)->items.size(), 2);

        // Both feeds are fresh now: the next briefing asks neither and tells the late story.
        const qsizetype asked = host.requests().size();
        const auto next = finish(service.gather(feeds, base, 10));
        QVERIFY(next);
        QVERIFY(ids(next->items).contains(u"k-new"_qs));
        QCOMPARE(host.requests().size(), asked);
    }

    // At the deadline with not one answer yet, the feeds whose copies stood in are named as
    // not reached: the briefing cannot tell a slow network from none.
    void copiesAtTheDeadlineWithNoAnswerAreNamed()
    {
        TestHttpServer host;
        QVERIFY(host.listen());
        const QList<FeedSource> feeds{{u"a"_qs, u"Feed a"_qs, host.url(u"/a.xml"_qs), {}},
                                      {u"b"_qs, u"Feed b"_qs, host.url(u"/b.xml"_qs), {}}};
        host.setResponse(u"/a.xml"_qs, TestHttpResponse::ok(rss(twoStories(u"a"_qs))));
        host.setResponse(u"/b.xml"_qs, TestHttpResponse::ok(rss(twoStories(u"b"_qs))));
        const auto cache = makeCache();
        FetchLimits limits;
        limits.copyDeadline = 200ms;
        NewsService service(*m_store, m_clock, limits, cache.get());
        QVERIFY(finish(service.gather(feeds, base, 10)));

        m_clock.advance(11min);
        for (const QString& path : {u"/a.xml"_qs, u"/b.xml"_qs}) {
            TestHttpResponse stall = TestHttpResponse::ok(rss(twoStories(u"x"_qs)));
            stall.stallAfterHeaders = true;
            host.setResponse(path, stall);
        }
        const auto result = finish(service.gather(feeds, base, 10));
        QVERIFY(result);
        QStringList failed = result->failedSources;
        failed.sort();
        QCOMPARE(failed, (QStringList{u"Feed a"_qs, u"Feed b"_qs}));
        QCOMPARE(result->items.size(), 4);
        host.close(); // the late downloads end here
        QTRY_VERIFY(!service.hasLateAnswers());
    }

    void limitZeroStillDownloads()
    {
        const qsizetype before = m_server.requests().size();
        NewsService service(*m_store, m_clock);
        const auto result = finish(service.gather({source(u"z"_qs, u"/feed.xml"_qs)}, base, 0));
        QVERIFY(result);
        QVERIFY(result->items.isEmpty());
        QVERIFY(result->failedSources.isEmpty());
        QCOMPARE(m_server.requests().size(), before + 1);
    }

    void noSourcesAnswersAtOnce()
    {
        const qsizetype before = m_server.requests().size();
        NewsService service(*m_store, m_clock);
        QFuture<GatherResult> future = service.gather({}, base + 5min, 10);
        QVERIFY(future.isFinished());
        QCOMPARE(future.result(), (GatherResult{{}, {}, base + 5min, {}}));
        QCOMPARE(m_server.requests().size(), before);
    }

    void mirrorAddresses_data()
    {
        QTest::addColumn<QString>("mirror");
        QTest::addColumn<QString>("expected");
        QTest::newRow("unset") << QString() << u"https://www.cisa.gov/news.xml"_qs;
        QTest::newRow("host only")
            << u"http://127.0.0.1:8080"_qs << u"http://127.0.0.1:8080/cisa-news.xml"_qs;
        QTest::newRow("folder") << u"http://mirror.test/feeds"_qs
                                << u"http://mirror.test/feeds/cisa-news.xml"_qs;
        QTest::newRow("folder with slash")
            << u"file:///srv/feeds/"_qs << u"file:///srv/feeds/cisa-news.xml"_qs;
    }
    void mirrorAddresses()
    {
        QFETCH(QString, mirror);
        QFETCH(QString, expected);
        if (!mirror.isEmpty())
            qputenv(NewsService::mirrorVariable, mirror.toUtf8());
        const FeedSource* news = FeedSource::find(u"cisa-news");
        QVERIFY(news);
        QCOMPARE(NewsService::addressOf(*news).toString(), expected);
    }

    void gatherFromTheMirror()
    {
        const QList<FeedSource> sources{*FeedSource::find(u"bleepingcomputer"),
                                        *FeedSource::find(u"cisa-ics"),
                                        *FeedSource::find(u"talos")};
        for (const FeedSource& feed : sources)
            m_server.setResponse(u"/mirror/"_qs + feed.id + u".xml"_qs,
                                 TestHttpResponse::ok(rss(twoStories(feed.id))));
        qputenv(NewsService::mirrorVariable, m_server.url(u"/mirror"_qs).toEncoded());

        NewsService service(*m_store, m_clock);
        const auto result = finish(service.gather(sources, base, 10));
        QVERIFY(result);
        QVERIFY(result->failedSources.isEmpty());
        QCOMPARE(ids(result->items),
                 (QStringList{u"bleepingcomputer-1"_qs, u"cisa-ics-1"_qs, u"talos-1"_qs,
                              u"bleepingcomputer-2"_qs, u"cisa-ics-2"_qs, u"talos-2"_qs}));
        QCOMPARE(result->items[1].source, u"CISA ICS Advisories"_qs);
    }

    void gatherFromAnotherThread()
    {
        NewsService service(*m_store, m_clock);
        const FeedSource feed = source(u"t"_qs, u"/feed.xml"_qs);
        QFuture<GatherResult> future =
            QtConcurrent::run([&] { return service.gather({feed}, base, 10); }).result();
        const auto result = finish(future);
        QVERIFY(result);
        QCOMPARE(result->items.size(), 2);
    }

    // Cancelling a gather ends it at once, at its start or while its feeds stall: the future
    // finishes cancelled with no result, and feeds that would never finish do not hold it.
    void cancellingAGatherAbortsItsDownloads_data()
    {
        QTest::addColumn<int>("afterMs");
        QTest::newRow("at once") << -1;
        QTest::newRow("while the feeds stall") << 100;
    }
    void cancellingAGatherAbortsItsDownloads()
    {
        QFETCH(int, afterMs);
        TestHttpResponse stall = TestHttpResponse::ok(rss(twoStories(u"s"_qs)));
        stall.stallAfterHeaders = true;
        m_server.setResponse(u"/stalls.xml"_qs, stall);
        QList<FeedSource> sources{source(u"fast"_qs, u"/feed.xml"_qs)};
        for (int i = 0; i < 30; ++i)
            sources.append(source(u"stalls-%1"_qs.arg(i), u"/stalls.xml"_qs));

        NewsService service(*m_store, m_clock);
        QFuture<GatherResult> future = service.gather(sources, base, 10);
        if (afterMs >= 0)
            QTest::qWait(afterMs);
        future.cancel();
        QVERIFY(QTest::qWaitFor([&] { return future.isFinished(); }, 3000));
        QVERIFY(future.isCanceled());
        QCOMPARE(future.resultCount(), 0);
    }

    void destroyingTheServiceCancelsItsGathers()
    {
        TestHttpResponse stall = TestHttpResponse::ok(rss(twoStories(u"s"_qs)));
        stall.stallAfterHeaders = true;
        m_server.setResponse(u"/forever.xml"_qs, stall);
        auto service = std::make_unique<NewsService>(*m_store, m_clock);
        QFuture<GatherResult> future = service->gather(
            {source(u"a"_qs, u"/forever.xml"_qs), source(u"b"_qs, u"/feed.xml"_qs)}, base, 10);
        QTest::qWait(0); // let the requests go out
        service.reset();
        QVERIFY(QTest::qWaitFor([&] { return future.isFinished(); }, 5000));
        QVERIFY(future.isCanceled());
    }
};

QTEST_GUILESS_MAIN(NewsServiceTest)
#include "tst_newsservice.moc"
