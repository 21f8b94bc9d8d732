#include "news/NewsService.h"

#include "news/FeedParser.h"
#include "news/GatherMerge.h"
#include "store/HeadlineStore.h"
#include "threads/PoolRun.h"
#include "threads/TaskQueue.h"
#include "time/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QPromise>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

namespace vardelle {

namespace {

// The system's proxy settings (http_proxy, https_proxy, no_proxy and the like), for this
// service's manager only rather than for the whole process.
class EnvironmentProxyFactory final : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        return systemProxyForQuery(query);
    }
};

bool succeeded(const QNetworkReply* reply)
{
    if (reply->error() != QNetworkReply::NoError)
        return false;
    // Only HTTP answers carry a status; a file: mirror has none and succeeds when readable.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return true;
    const int code = status.toInt();
    return code >= 200 && code <= 299;
}

} // namespace

struct NewsService::Body {
    QList<QByteArray> pieces;
    qint64 size = 0;

    void take(QNetworkReply* reply)
    {
        if (reply->bytesAvailable() <= 0)
            return;
        pieces.append(reply->readAll());
        size += pieces.last().size();
    }
};

struct NewsService::Run {
    QPromise<GatherResult> promise;
    QList<FeedSource> sources;
    Instant since{};
    int limit = 0;
    bool skipLeftOut = false;
    WatchList watch;
    qsizetype pending = 0;
    QList<NewsItem> combined; // every parsed item, feed by feed in the order the feeds finished
    QStringList failed;
    QList<QPointer<QNetworkReply>> replies; // every download requested, for a cancel to abort
};

NewsService::NewsService(HeadlineStore& store, const Clock& clock, FetchLimits limits,
                         QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_clock(clock)
    , m_limits(limits)
    , m_network(new QNetworkAccessManager(this))
    , m_fromOtherThreads(new TaskQueue(this))
{
    // The manager has no disk cache unless one is set, and its default cookie jar lives in memory.
    m_network->setProxyFactory(new EnvironmentProxyFactory);
    // Redirects are followed, except from https to http.
    m_network->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

NewsService::~NewsService()
{
    // Parses and merges hold the clock and the store; let them end before those may go. (The
    // watchers for a cancel belong to the network manager, and go with it.)
    const auto watchers = findChildren<QFutureWatcherBase*>(Qt::FindDirectChildrenOnly);
    for (QFutureWatcherBase* watcher : watchers)
        watcher->waitForFinished();
    for (QFuture<void>& merge : m_merges)
        merge.waitForFinished();
}

QUrl NewsService::addressOf(const FeedSource& source)
{
    const QString mirror = qEnvironmentVariable(mirrorVariable);
    if (mirror.isEmpty())
        return source.url;
    // A base that is not a usable address makes the downloads fail rather than quietly reach the
    // publishers.
    QUrl base(mirror, QUrl::StrictMode);
    QString path = base.path();
    if (!path.endsWith(u'/'))
        path.append(u'/');
    base.setPath(path + source.id + u".xml"_qs);
    return base;
}

QFuture<GatherResult> NewsService::gather(const QList<FeedSource>& sources, Instant since,
                                          int limit, const WatchList& watch, bool skipLeftOut)
{
    if (sources.isEmpty())
        return QtFuture::makeReadyFuture(GatherResult{{}, {}, since, {}});

    auto run = std::make_shared<Run>();
    run->sources = sources;
    run->since = since;
    run->limit = limit;
    run->skipLeftOut = skipLeftOut;
    run->watch = watch;
    run->pending = sources.size();
    run->promise.start();
    QFuture<GatherResult> future = run->promise.future();
    // The manager and every reply belong to this object's thread.
    auto begin = [this, run] {
        watchForCancel(run);
        start(run, 0);
    };
    if (QThread::currentThread() == thread())
        begin();
    else
        m_fromOtherThreads->post(std::move(begin));
    return future;
}

void NewsService::watchForCancel(const std::shared_ptr<Run>& run)
{
    auto* watcher = new QFutureWatcher<GatherResult>(m_network);
    connect(watcher, &QFutureWatcherBase::canceled, this, [weak = std::weak_ptr<Run>(run)] {
        const std::shared_ptr<Run> run = weak.lock();
        if (!run)
            return;
        // Each abort finishes its reply at once; the list itself does not change meanwhile.
        const QList<QPointer<QNetworkReply>> replies = run->replies;
        for (const QPointer<QNetworkReply>& reply : replies) {
            if (reply)
                reply->abort();
        }
    });
    connect(watcher, &QFutureWatcherBase::finished, watcher, &QObject::deleteLater);
    watcher->setFuture(run->promise.future());
}

void NewsService::start(const std::shared_ptr<Run>& run, qsizetype index)
{
    if (index == 0)
        m_merges.removeIf([](const QFuture<void>& merge) { return merge.isFinished(); });
    // Setting up a request costs this thread a fraction of a millisecond. Requests are sent
    // for up to a millisecond per turn of the event loop: a hundred feeds are all asked for
    // within a few turns, and no batch holds up a frame.
    if (run->promise.isCanceled()) {
        // Nothing more is requested; the feeds not asked for count as done.
        feedDone(run, run->sources.size() - index);
        return;
    }
    QElapsedTimer turn;
    turn.start();
    do {
        fetch(run, run->sources[index]);
        ++index;
    } while (index < run->sources.size() && turn.nsecsElapsed() < 1'000'000);
    if (index < run->sources.size())
        QMetaObject::invokeMethod(
            this, [this, run, index] { start(run, index); }, Qt::QueuedConnection);
}

void NewsService::fetch(const std::shared_ptr<Run>& run, const FeedSource& source)
{
    run->replies.append(
        download(addressOf(source),
                 [this, run, source](QNetworkReply* reply, const std::shared_ptr<Body>& body) {
                     downloaded(run, source, reply, body);
                 }));
}

QNetworkReply*
NewsService::download(const QUrl& url,
                      std::function<void(QNetworkReply*, const std::shared_ptr<Body>&)> done)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(userAgent));
    // Restarted whenever data arrives, so it fires only after a stretch of silence.
    request.setTransferTimeout(int(m_limits.idleTimeout.count()));

    QNetworkReply* reply = m_network->get(request);

    QTimer::singleShot(m_limits.totalTimeout, reply, [reply] { reply->abort(); });

    // The body is taken in as it arrives, a piece per event, and joined on the thread pool: the
    // main thread never copies a whole large document in one go. A body past the cap is
    // abandoned as soon as it shows, by its announced length or by what has arrived.
    auto body = std::make_shared<Body>();
    const qint64 cap = m_limits.maxBodyBytes;
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply, cap](qint64, qint64 total) {
        if (total > cap)
            reply->abort();
    });
    connect(reply, &QNetworkReply::readyRead, reply, [reply, body, cap] {
        body->take(reply);
        if (body->size > cap)
            reply->abort();
    });

    connect(reply, &QNetworkReply::finished, this,
            [done = std::move(done), reply, body] { done(reply, body); });
    return reply;
}

QFuture<FeedCheck> NewsService::check(const QUrl& address)
{
    auto promise = std::make_shared<QPromise<FeedCheck>>();
    promise->start();
    QFuture<FeedCheck> future = promise->future();
    const auto refuse = [promise](const QString& reason) {
        promise->addResult(FeedCheck{reason, {}, 0});
        promise->finish();
    };
    download(address, [this, address, promise, refuse](QNetworkReply* reply,
                                                       const std::shared_ptr<Body>& body) {
        reply->deleteLater();
        body->take(reply);
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
            refuse(u"the server answered HTTP "_qs + QString::number(status.toInt()));
            return;
        }
        if (reply->error() != QNetworkReply::NoError) {
            refuse(u"cannot be reached: "_qs + reply->errorString());
            return;
        }
        if (body->size > m_limits.maxBodyBytes) {
            refuse(QStringLiteral("the document is too large"));
            return;
        }
        auto* watcher = new QFutureWatcher<FeedCheck>(this);
        connect(watcher, &QFutureWatcherBase::finished, this, [watcher, promise] {
            promise->addResult(watcher->result());
            promise->finish();
            watcher->deleteLater();
        });
        const Clock* clock = &m_clock;
        watcher->setFuture(runOnPool(QThreadPool::globalInstance(), [address, clock,
                                                                     pieces =
                                                                         std::move(body->pieces)] {
            QByteArray document;
            for (const QByteArray& piece : pieces)
                document.append(piece);
            FeedParser parser(FeedSource{QStringLiteral("check"), {}, address, {}}, clock);
            const qsizetype stories = parser.parse(document).size();
            if (!parser.isFeed())
                return FeedCheck{QStringLiteral("not an RSS or Atom feed"), {}, 0};
            if (stories == 0)
                return FeedCheck{QStringLiteral("the feed has no stories"), parser.feedTitle(), 0};
            return FeedCheck{std::nullopt, parser.feedTitle(), stories};
        }));
    });
    return future;
}

void NewsService::downloaded(const std::shared_ptr<Run>& run, const FeedSource& source,
                             QNetworkReply* reply, const std::shared_ptr<Body>& body)
{
    reply->deleteLater();
    // Errors include the idle and total timeouts, the size cap, a connection lost mid-body and
    // a redirect from https to http.
    if (run->promise.isCanceled()) {
        feedDone(run);
        return;
    }
    body->take(reply);
    if (!succeeded(reply) || body->size > m_limits.maxBodyBytes) {
        run->failed.append(source.name);
        feedDone(run);
        return;
    }

    auto* watcher = new QFutureWatcher<QList<NewsItem>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, run, watcher] {
        run->combined.append(watcher->result());
        watcher->deleteLater();
        feedDone(run);
    });
    const Clock* clock = &m_clock;
    watcher->setFuture(
        runOnPool(QThreadPool::globalInstance(),
                  [source, clock, pieces = std::move(body->pieces), size = body->size] {
                      QByteArray document;
                      document.reserve(size);
                      for (const QByteArray& piece : pieces)
                          document.append(piece);
                      return FeedParser(source, clock).parse(document);
                  }));
}

void NewsService::feedDone(const std::shared_ptr<Run>& run, qsizetype finished)
{
    run->pending -= finished;
    if (run->pending > 0)
        return;
    if (run->promise.isCanceled()) {
        run->promise.finish();
        return;
    }

    // The merge and the history check run off the main thread: the store's lock may be held by
    // a write in progress.
    HeadlineStore* store = &m_store;
    m_merges.append(runOnPool(QThreadPool::globalInstance(), [run, store] {
        const QList<NewsItem> fresh =
            store->unseen(mergeGathered(run->combined, run->since), run->skipLeftOut);
        const QList<StoryGroup> picked = selectForBriefing(fresh, run->limit, run->watch);
        const QList<NewsItem> told = storiesOf(picked);
        run->promise.addResult(GatherResult{told, run->failed, run->since, leftOutOf(fresh, told),
                                            groupSizes(picked)});
        run->promise.finish();
    }));
}

} // namespace vardelle
