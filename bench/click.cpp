// A click to the first word, through the coordinator, the news service and its feed cache, with
// twenty feeds of the user's own on a port each and a speaker whose engine only records: the time
// from announce() to the coordinator handing its first text to the speaker.
//
// Baseline, measured first in the same run: the first briefing, with no copies, every feed
// answering its whole document after 100 ms. Then: every copy fresh (no feed asked); every copy
// fifteen minutes old, each feed answering 304 Not Modified after 100 ms; the same with one feed
// not answering at all. And the bytes the servers sent for the second briefing, fifteen minutes
// after the first with nothing changed, against the first's.

#include "briefing/AppCoordinator.h"
#include "news/FeedCache.h"
#include "news/NewsService.h"
#include "settings/AppSettings.h"
#include "support/CoordinatorRig.h"
#include "support/TestHttpServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <cstdio>

using namespace vardelle;
using namespace std::chrono_literals;
using test::TestHttpResponse;
using test::TestHttpServer;

namespace {

constexpr int feeds = 20;
constexpr int runs = 5;
constexpr auto answerDelay = 100ms;

QByteArray document(int feed, Instant now)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
                     "<title>Own feed " +
                     QByteArray::number(feed) + "</title>";
    for (int i = 0; i < 25; ++i) {
        const QString date = QLocale::c().toString(toDateTime(now - std::chrono::hours(i)),
                                                   u"ddd, dd MMM yyyy HH:mm:ss +0000"_qs);
        const QByteArray n = QByteArray::number(feed) + "-" + QByteArray::number(i);
        xml += "<item><title>Story " + n +
               " about a patched gateway</title>"
               "<link>https://example.org/" +
               n + "</link><guid>" + n +
               "</guid>"
               "<description>Summary of story " +
               n +
               ", with some words to read.</description>"
               "<pubDate>" +
               date.toUtf8() + "</pubDate></item>";
    }
    return xml + "</channel></rss>";
}

// Servers in a thread of their own, so that serving costs the main thread nothing.
class ServerThread {
public:
    ServerThread() { m_thread.start(); }
    ~ServerThread()
    {
        for (TestHttpServer* server : m_servers)
            QMetaObject::invokeMethod(
                server, [server] { delete server; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    TestHttpServer* add()
    {
        auto* server = new TestHttpServer(10min);
        server->moveToThread(&m_thread);
        bool listening = false;
        QMetaObject::invokeMethod(
            server, [&] { listening = server->listen(); }, Qt::BlockingQueuedConnection);
        if (!listening) {
            std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
            std::exit(2);
        }
        m_servers.append(server);
        return server;
    }
    qint64 bytesSent() const
    {
        qint64 sum = 0;
        for (const TestHttpServer* server : m_servers)
            sum += server->bytesSent();
        return sum;
    }
    qsizetype requests() const
    {
        qsizetype sum = 0;
        for (const TestHttpServer* server : m_servers)
            sum += server->requests().size();
        return sum;
    }

private:
    QThread m_thread;
    QList<TestHttpServer*> m_servers;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A click, to the first text handed to the speaker; the briefing is then heard to its end.
// Negative when nothing was spoken within a minute.
double click(test::CoordinatorRig& rig)
{
    bool spoke = false;
    const auto connection = QObject::connect(rig.coordinator.get(), &AppCoordinator::speaking,
                                             [&spoke] { spoke = true; });
    QElapsedTimer wall;
    wall.start();
    rig.coordinator->announce(AnnounceReason::manual);
    const bool done = QTest::qWaitFor([&] { return spoke; }, 60000);
    const double ms = wall.nsecsElapsed() / 1e6;
    QObject::disconnect(connection);
    rig.finishSpeaking();
    return done ? ms : -1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"})
        qunsetenv(name);

    test::CoordinatorRig rig(Clock::system().now(), test::CoordinatorRig::Start::later);
    // The rig serves its feeds from a file mirror; these come from their own ports instead.
    qunsetenv(NewsService::mirrorVariable);
    ServerThread servers;
    QList<TestHttpServer*> hosts;
    QList<OwnFeed> own;
    QList<QByteArray> bodies;
    for (int i = 0; i < feeds; ++i) {
        TestHttpServer* host = servers.add();
        const QString path = u"/feed.xml"_qs;
        TestHttpResponse answer = TestHttpResponse::ok(document(i, rig.clock.now()));
        answer.delay = answerDelay;
        answer.headers.append({"ETag", "\"v" + QByteArray::number(i) + "\""});
        host->setResponse(path, answer);
        hosts.append(host);
        own.append(OwnFeed{u"own-%1"_qs.arg(i), u"Own feed %1"_qs.arg(i), host->url(path),
                           NewsCategory::cybersecurity, true});
    }

    AppSettings& settings = rig.makeSettings();
    QSet<QString> catalogue;
    for (const FeedSource& source : FeedSource::catalog())
        catalogue.insert(source.id);
    settings.setDisabledFeedIDs(catalogue);
    settings.setOwnFeeds(own);
    FeedCache cache(rig.dir.filePath(u"cache/Vardelle/feeds.json"_qs), rig.clock);
    rig.news = std::make_unique<NewsService>(rig.makeStore(), rig.clock, FetchLimits{}, &cache);
    rig.start();

    // The baseline: the first briefing, no copies, every feed's whole document after 100 ms.
    const qint64 bytesBefore = servers.bytesSent();
    const double first = click(rig);
    const qint64 firstBytes = servers.bytesSent() - bytesBefore;
    bool complete = first >= 0 && servers.requests() == feeds;

    // Every copy fresh: nothing is asked.
    QList<double> fresh;
    for (int run = 0; run < runs; ++run) {
        rig.clock.advance(1min);
        fresh.append(click(rig));
    }
    complete = complete && servers.requests() == feeds;

    // Fifteen minutes on, nothing changed: every feed 304 after 100 ms.
    for (int i = 0; i < feeds; ++i) {
        TestHttpResponse notModified;
        notModified.status = 304;
        notModified.delay = answerDelay;
        notModified.headers.append({"ETag", "\"v" + QByteArray::number(i) + "\""});
        hosts[i]->setResponse(u"/feed.xml"_qs, notModified);
    }
    QList<double> revalidated;
    qint64 secondBytes = -1;
    for (int run = 0; run < runs; ++run) {
        rig.clock.advance(15min);
        const qint64 before = servers.bytesSent();
        const qsizetype asked = servers.requests();
        revalidated.append(click(rig));
        if (run == 0)
            secondBytes = servers.bytesSent() - before;
        complete = complete && servers.requests() == asked + feeds;
    }

    // One feed says nothing at all; its copy stands in after the wait for copies.
    TestHttpResponse silent;
    silent.stallAfterHeaders = true;
    silent.delay = 10min;
    hosts[0]->setResponse(u"/feed.xml"_qs, silent);
    QList<double> stalled;
    for (int run = 0; run < 3; ++run) {
        rig.clock.advance(15min);
        stalled.append(click(rig));
    }

    for (const QList<double>& set : {fresh, revalidated, stalled})
        complete =
            complete && std::all_of(set.cbegin(), set.cend(), [](double ms) { return ms >= 0; });

    std::printf("twenty own feeds, one port each, answering after %lld ms; a click to the first "
                "text handed to the speaker\n",
                static_cast<long long>(answerDelay.count()));
    std::printf("baseline  first briefing, no copies, every feed 200: %.1f ms, %lld bytes sent\n",
                first, static_cast<long long>(firstBytes));
    std::printf("fresh     every copy fresh, no feed asked: median %.1f ms of %d (goal <= 300 ms); "
                "/ baseline = %.3f\n",
                median(fresh), runs, median(fresh) / first);
    std::printf("304       every feed 304 after %lld ms: median %.1f ms of %d (goal <= 500 ms); / "
                "baseline = %.3f\n",
                static_cast<long long>(answerDelay.count()), median(revalidated), runs,
                median(revalidated) / first);
    std::printf("stalled   one feed silent, the others 304: median %.1f ms of 3 (goal <= 3500 ms; "
                "the wait for copies is %lld ms); / baseline = %.3f\n",
                median(stalled), static_cast<long long>(rig.news->limits().copyDeadline.count()),
                median(stalled) / first);
    std::printf("bytes     second briefing 15 minutes on, nothing changed: %lld bytes; / first = "
                "%.4f (goal < 0.05)\n",
                static_cast<long long>(secondBytes), double(secondBytes) / double(firstBytes));
    if (!complete)
        std::printf("some clicks spoke nothing, or feeds were asked when they should not have "
                    "been; the figures above are not comparable\n");
    // The service goes before the cache it writes to and the servers it may still be waiting on.
    rig.coordinator.reset();
    rig.news.reset();
    return complete ? 0 : 1;
}
