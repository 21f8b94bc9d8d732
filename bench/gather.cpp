// A whole gather of the twenty catalogue feeds from a local server, each feed answering after
// its own delay. Prints the wall time of a gather against the slowest feed's delay, and the
// longest stretch the main thread was kept from its event loop meanwhile.
//
// Three layouts: the mirror (VARDELLE_FEED_MIRROR, every feed from one host and port), one port
// per feed, as the publishers' own hosts would be, and the twenty with a hundred feeds of the
// user's own, again one port each.
//
// Then the same twenty feeds, one port each, through a feed cache: a briefing within ten minutes
// of the last (no feed asked) and one after (every feed asked with its validators, answering 304
// Not Modified after its delay), each against the per-host gather without a cache.

#include "news/FeedCache.h"
#include "news/FeedSource.h"
#include "news/NewsService.h"
#include "store/HeadlineStore.h"
#include "support/ManualClock.h"
#include "support/TestData.h"
#include "support/TestHttpServer.h"
#include "time/Clock.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFutureWatcher>
#include <QHash>
#include <QLocale>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>

using namespace vardelle;
using namespace std::chrono_literals;
using test::TestHttpResponse;
using test::TestHttpServer;

namespace {

constexpr int runs = 5;
constexpr double ratioGoal = 1.10;
constexpr double blockedGoalMs = 8.0;

// Corpus files are named <publisher>__<origin>.xml; these publishers go by another feed id.
const QHash<QString, QString> corpusAliases{
    {u"cisa-all"_qs, u"cisa-advisories"_qs},
    {u"microsoft-security-blog"_qs, u"microsoft-security"_qs},
    {u"ncsc-news-rss"_qs, u"ncsc-uk"_qs},
    {u"securelist-apt-reports"_qs, u"securelist"_qs},
};

QHash<QString, QByteArray> corpusDocuments()
{
    QHash<QString, QByteArray> documents;
    const QString dir = test::corpusDir();
    if (dir.isEmpty())
        return documents;
    const QStringList files =
        QDir(dir + u"/publishers"_qs).entryList({u"*.xml"_qs}, QDir::Files, QDir::Name);
    for (const QString& name : files) {
        const QString publisher = name.section(u"__"_qs, 0, 0);
        const QString id = corpusAliases.value(publisher, publisher);
        if (!FeedSource::find(id) || documents.contains(id))
            continue;
        QFile file(dir + u"/publishers/"_qs + name);
        if (file.open(QIODevice::ReadOnly))
            documents.insert(id, file.readAll());
    }
    return documents;
}

QByteArray generatedFeed(const FeedSource& source)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
                     "<title>" +
                     source.name.toHtmlEscaped().toUtf8() + "</title>";
    const QDateTime newest(QDate(2025, 7, 24), QTime(12, 0), Qt::UTC);
    for (int i = 0; i < 25; ++i) {
        const QString date =
            QLocale::c().toString(newest.addSecs(-3600 * i), u"ddd, dd MMM yyyy HH:mm:ss +0000"_qs);
        const QByteArray n = QByteArray::number(i);
        xml += "<item><title>" + source.name.toHtmlEscaped().toUtf8() + " story " + n +
               "</title><link>https://example.org/" + source.id.toUtf8() + "/" + n +
               "</link><description>Summary of story " + n +
               " with &lt;b&gt;markup&lt;/b&gt;."
               "</description><pubDate>" +
               date.toUtf8() + "</pubDate></item>";
    }
    return xml + "</channel></rss>";
}

qint64 threadCpuNanos()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Ticks every millisecond on the main thread. The longest gap between two ticks, past the
// interval, is how long the thread could not run its event loop; the main thread's own CPU time
// between two ticks tells how much of such a gap was work done on it rather than waiting for a
// core that other processes held.
class StallMeter {
public:
    struct Figures {
        double stretchMs = 0;        // longest gap past the interval
        double stretchCpuMs = 0;     // main-thread CPU time within that gap
        double mostCpuBetweenMs = 0; // most main-thread CPU time between any two ticks
    };

    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1ms);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }
    void start()
    {
        m_figures = {};
        m_clock.start();
        m_last = 0;
        m_lastCpu = threadCpuNanos();
        m_timer.start();
    }
    Figures stop()
    {
        m_timer.stop();
        tick();
        return m_figures;
    }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        const qint64 cpu = threadCpuNanos();
        const double gapMs = std::max(0.0, (now - m_last) / 1e6 - 1.0);
        const double cpuMs = (cpu - m_lastCpu) / 1e6;
        if (gapMs > m_figures.stretchMs) {
            m_figures.stretchMs = gapMs;
            m_figures.stretchCpuMs = cpuMs;
        }
        m_figures.mostCpuBetweenMs = std::max(m_figures.mostCpuBetweenMs, cpuMs);
        m_last = now;
        m_lastCpu = cpu;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_lastCpu = 0;
    Figures m_figures;
};

struct Measurement {
    double wallMs = 0;
    double callMs = 0;        // the gather() call itself
    StallMeter::Figures main; // the main thread during the gather
    GatherResult result;
};

Measurement measure(NewsService& service, const QList<FeedSource>& sources, StallMeter& meter)
{
    Measurement m;
    QEventLoop loop;
    QFutureWatcher<GatherResult> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);

    meter.start();
    QElapsedTimer wall;
    wall.start();
    QFuture<GatherResult> future = service.gather(sources, Instant{}, 10);
    m.callMs = wall.nsecsElapsed() / 1e6;
    watcher.setFuture(future);
    loop.exec();
    m.wallMs = wall.nsecsElapsed() / 1e6;
    m.main = meter.stop();
    m.result = future.result();
    return m;
}

StallMeter::Figures idleLateness(StallMeter& meter)
{
    meter.start();
    QEventLoop loop;
    QTimer::singleShot(300ms, &loop, &QEventLoop::quit);
    loop.exec();
    return meter.stop();
}

// Runs a server object in its own thread, so serving costs the main thread nothing.
class ServerThread {
public:
    ~ServerThread()
    {
        for (TestHttpServer* server : m_servers)
            QMetaObject::invokeMethod(
                server, [server] { delete server; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    ServerThread() { m_thread.start(); }

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

private:
    QThread m_thread;
    QList<TestHttpServer*> m_servers;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Summary {
    double medianWallMs = 0;
    Measurement first;           // the first gather of the layout
    StallMeter::Figures worst;   // the run with the longest stretch
    double medianStretchMs = 0;  // the middle of the runs' longest stretches
    double mostCpuBetweenMs = 0; // over all runs
    double longestCallMs = 0;
    bool complete = true;
};

Summary runLayout(const char* title, NewsService& service, const QList<FeedSource>& sources,
                  StallMeter& meter)
{
    std::printf("\n%s\n", title);
    Summary summary;
    QList<double> walls;
    QList<double> stretches;
    for (int run = 0; run < runs; ++run) {
        const Measurement m = measure(service, sources, meter);
        stretches.append(m.main.stretchMs);
        std::printf("  run %d: %7.1f ms wall; main thread: longest stretch %5.2f ms (%5.2f ms of "
                    "it its own CPU), most CPU between ticks %5.2f ms, gather() %4.2f ms; "
                    "%lld items, %lld failed\n",
                    run + 1, m.wallMs, m.main.stretchMs, m.main.stretchCpuMs,
                    m.main.mostCpuBetweenMs, m.callMs,
                    static_cast<long long>(m.result.items.size()),
                    static_cast<long long>(m.result.failedSources.size()));
        if (!m.result.failedSources.isEmpty()) {
            summary.complete = false;
            std::printf("    failed: %s\n", qPrintable(m.result.failedSources.join(u", ")));
        }
        if (run == 0)
            summary.first = m;
        walls.append(m.wallMs);
        if (m.main.stretchMs >= summary.worst.stretchMs)
            summary.worst = m.main;
        summary.mostCpuBetweenMs = std::max(summary.mostCpuBetweenMs, m.main.mostCpuBetweenMs);
        summary.longestCallMs = std::max(summary.longestCallMs, m.callMs);
    }
    summary.medianWallMs = median(walls);
    summary.medianStretchMs = median(stretches);
    return summary;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);

    // Nothing of the user's is touched, and every request goes straight to 127.0.0.1.
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(u"data"_qs)));
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"})
        qunsetenv(name);
    qunsetenv(NewsService::mirrorVariable);

    const QList<FeedSource>& catalog = FeedSource::catalog();
    const QHash<QString, QByteArray> corpus = corpusDocuments();

    // Delays spread evenly over 50..600 ms, dealt to the feeds in a fixed shuffled order.
    QList<int> delays;
    for (qsizetype i = 0; i < catalog.size(); ++i)
        delays.append(50 + int(i * 550 / (catalog.size() - 1)));
    std::shuffle(delays.begin(), delays.end(), std::mt19937(20240604));
    const int slowest = *std::max_element(delays.cbegin(), delays.cend());

    ServerThread servers;
    TestHttpServer* mirror = servers.add();
    QList<FeedSource> perHost;
    QList<TestHttpServer*> hosts; // the server of each per-host feed
    qint64 totalBytes = 0;
    std::printf("feeds (delay, bytes, document):\n");
    for (qsizetype i = 0; i < catalog.size(); ++i) {
        const FeedSource& source = catalog[i];
        const bool real = corpus.contains(source.id);
        TestHttpResponse response = TestHttpResponse::ok(
            real ? corpus.value(source.id) : generatedFeed(source), "application/rss+xml");
        response.delay = std::chrono::milliseconds(delays[i]);
        response.headers.append({"ETag", "\"" + source.id.toLatin1() + "-1\""});
        totalBytes += response.body.size();
        std::printf("  %-20s %4d ms %8lld  %s\n", qPrintable(source.id), delays[i],
                    static_cast<long long>(response.body.size()), real ? "corpus" : "generated");

        const QString path = u"/"_qs + source.id + u".xml"_qs;
        mirror->setResponse(path, response);
        TestHttpServer* own = servers.add();
        own->setResponse(path, response);
        hosts.append(own);
        FeedSource local = source;
        local.url = own->url(path);
        perHost.append(local);
    }
    std::printf("  %lld feeds from the corpus, %lld bytes in all, slowest delay %d ms\n",
                static_cast<long long>(corpus.size()), static_cast<long long>(totalBytes), slowest);

    // A hundred own feeds, generated, with delays over the same span and no slower than the
    // slowest catalogue feed.
    constexpr int ownFeeds = 100;
    QList<FeedSource> withOwn = perHost;
    for (int i = 0; i < ownFeeds; ++i) {
        FeedSource source{u"own-%1"_qs.arg(i),
                          u"Own feed %1"_qs.arg(i),
                          {},
                          allNewsCategories[size_t(i) % allNewsCategories.size()]};
        TestHttpResponse response = TestHttpResponse::ok(generatedFeed(source));
        response.delay = std::chrono::milliseconds(50 + (i * 7919) % (slowest - 50 + 1));
        const QString path = u"/"_qs + source.id + u".xml"_qs;
        TestHttpServer* own = servers.add();
        own->setResponse(path, response);
        source.url = own->url(path);
        withOwn.append(source);
    }

    HeadlineStore store(home.filePath(u"data/Vardelle/state.json"_qs), Clock::system());
    NewsService service(store, Clock::system());
    StallMeter meter;

    const StallMeter::Figures idle = idleLateness(meter);
    std::printf("\nidle event loop for 300 ms: longest stretch past 1 ms %.2f ms\n",
                idle.stretchMs);

    // The mirror first, so that its first run is also the service's first gather.
    qputenv(NewsService::mirrorVariable, mirror->url(QString()).toEncoded());
    const Summary viaMirror =
        runLayout("mirror: all twenty feeds from one host and port", service, catalog, meter);
    qunsetenv(NewsService::mirrorVariable);
    const Summary viaHosts =
        runLayout("one port per feed, as the publishers' own hosts", service, perHost, meter);
    const Summary withOwnFeeds =
        runLayout("the twenty and 100 own feeds, one port per feed", service, withOwn, meter);

    // Baseline: the slowest feed alone, on its own port.
    const qsizetype slowestIndex =
        std::max_element(delays.cbegin(), delays.cend()) - delays.cbegin();
    QList<double> singles;
    for (int run = 0; run < runs; ++run)
        singles.append(measure(service, {perHost[slowestIndex]}, meter).wallMs);
    const double single = median(singles);
    std::printf("\nbaseline, the slowest feed alone (%s, %d ms): %.1f ms median of %d\n",
                qPrintable(catalog[slowestIndex].id), slowest, single, runs);

    auto report = [&](const char* name, const Summary& s) {
        std::printf("%-9s median wall %7.1f ms; / slowest delay = %.2f (goal <= %.2f); "
                    "/ slowest feed alone = %.2f; first gather %.1f ms\n",
                    name, s.medianWallMs, s.medianWallMs / slowest, ratioGoal,
                    s.medianWallMs / single, s.first.wallMs);
        std::printf("%-9s main thread: longest stretch %.2f ms (goal < %.0f ms), %.2f ms of it "
                    "its own CPU; median of the runs' longest %.2f ms; first gather's %.2f ms\n",
                    name, s.worst.stretchMs, blockedGoalMs, s.worst.stretchCpuMs, s.medianStretchMs,
                    s.first.main.stretchMs);
        std::printf("%-9s main thread's own CPU between two ticks at most %.2f ms; longest "
                    "gather() call %.2f ms\n",
                    name, s.mostCpuBetweenMs, s.longestCallMs);
    };
    std::printf("\nsummary (%d runs per layout; an idle event loop here stretched to %.2f ms)\n",
                runs, idle.stretchMs);
    report("mirror", viaMirror);
    report("per-host", viaHosts);
    report("+100 own", withOwnFeeds);

    // Through a feed cache, on a clock the benchmark moves.
    test::ManualClock clock(Clock::system().now());
    FeedCache cache(home.filePath(u"cache/Vardelle/feeds.json"_qs), clock);
    NewsService cached(store, clock, {}, &cache);
    bool cachedComplete = measure(cached, perHost, meter).result.failedSources.isEmpty();
    QList<double> fresh;
    for (int run = 0; run < runs; ++run) {
        const Measurement m = measure(cached, perHost, meter);
        cachedComplete = cachedComplete && m.result.failedSources.isEmpty();
        fresh.append(m.wallMs);
    }
    for (qsizetype i = 0; i < perHost.size(); ++i) {
        TestHttpResponse notModified;
        notModified.status = 304;
        notModified.delay = std::chrono::milliseconds(delays[i]);
        hosts[i]->setResponse(perHost[i].url.path(), notModified);
    }
    QList<double> revalidated;
    for (int run = 0; run < runs; ++run) {
        clock.advance(11min);
        const Measurement m = measure(cached, perHost, meter);
        cachedComplete = cachedComplete && m.result.failedSources.isEmpty() &&
                         !m.result.items.isEmpty() == !viaHosts.first.result.items.isEmpty();
        revalidated.append(m.wallMs);
    }
    std::printf("cached    within ten minutes, no feed asked: median wall %.2f ms; / per-host "
                "without a cache = %.4f\n",
                median(fresh), median(fresh) / viaHosts.medianWallMs);
    std::printf("cached    after ten minutes, every feed 304: median wall %.1f ms; / per-host "
                "without a cache = %.2f\n",
                median(revalidated), median(revalidated) / viaHosts.medianWallMs);

    if (!viaMirror.complete || !viaHosts.complete || !withOwnFeeds.complete || !cachedComplete) {
        std::printf("some feeds failed; the figures above are not comparable\n");
        return 1;
    }
    return 0;
}
