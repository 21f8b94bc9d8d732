#include "news/NewsService.h"

#include "news/FeedCache.h"
#include "news/FeedParser.h"
#include "news/GatherMerge.h"
#include "news/HttpFreshness.h"
#include "store/HeadlineStore.h"
#include "threads/PoolRun.h"
#include "threads/TaskQueue.h"
#include "time/Clock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QPromise>
#include <QSet>
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

// A validator as the server sent it, when it can be sent back as it is: bounded, printable.
QByteArray validatorOf(const QNetworkReply* reply, const QByteArray& name)
{
    const QByteArray value = reply->rawHeader(name);
    if (value.size() > 1024)
        return {};
    for (const char c : value) {
        if (uchar(c) < 0x20 || uchar(c) == 0x7f)
            return {};
    }
    return value;
}

// The cached stories, under the name and category the feed has now.
QList<NewsItem> storiesOf(const FeedCacheEntry& entry, const FeedSource& source)
{
    QList<NewsItem> items = entry.items;
    for (NewsItem& item : items) {
        item.source = source.name;
        item.category = source.category;
    }
    return items;
}

struct Parsed {
    QList<NewsItem> items;
    bool isFeed = false;
};

// Why a download was given up before its answer was complete.
enum class Stop {
    none,
    idle,             // no data for the idle limit
    total,            // not complete within the total limit
    tooLarge,         // the body grew past the cap
    headTooLarge,     // the response head is past its cap
    tooManyRedirects, // more hops than allowed
    nonWebRedirect,   // sent on to an address that is not http or https
    lessSafeRedirect, // sent on from https to http
    cancelled,        // its gather was cancelled
};

} // namespace

// One download, across its redirects: the hop in flight, the body of the last hop as it came,
// and what stopped it.
struct NewsService::Transfer {
    QList<QByteArray> pieces;
    qint64 size = 0;
    Stop stop = Stop::none;
    int redirects = 0;
    QPointer<QNetworkReply> reply;
    std::optional<QDeadlineTimer> deadline; // the total limit, from the first request sent

    void take(QNetworkReply* from)
    {
        if (from->bytesAvailable() <= 0)
            return;
        pieces.append(from->readAll());
        size += pieces.last().size();
    }
    // Ends the hop in flight; its finished() comes at once, with this reason kept.
    void abort(Stop why)
    {
        if (stop == Stop::none)
            stop = why;
        if (reply)
            reply->abort();
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
    QList<std::weak_ptr<Transfer>> transfers; // every download requested, for a cancel to abort
    QHash<qsizetype, QList<NewsItem>> copies; // feeds being asked that have a cached copy, by index
    QSet<qsizetype> late;     // feeds whose copy stood in at the deadline, still being asked
    bool answered = false;    // whether any feed asked has answered with a document or a 304
    bool refreshOnly = false; // only the cache is the point: no merge, no result
};

NewsService::NewsService(HeadlineStore& store, const Clock& clock, FetchLimits limits,
                         FeedCache* cache, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_clock(clock)
    , m_limits(limits)
    , m_cache(cache)
    , m_network(new QNetworkAccessManager(this))
    , m_fromOtherThreads(new TaskQueue(this))
{
    // The manager has no disk cache unless one is set, and its default cookie jar lives in memory.
    m_network->setProxyFactory(new EnvironmentProxyFactory);
    // Every request here follows its redirects itself, hop by hop (see request()); should one
    // not, the manager still never goes from https to http.
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
    return mirrorAddressOf(source.id + u".xml"_qs).value_or(source.url);
}

std::optional<QUrl> NewsService::mirrorAddressOf(const QString& fileName)
{
    const QString mirror = qEnvironmentVariable(mirrorVariable);
    if (mirror.isEmpty())
        return std::nullopt;
    // A base that is not a usable address makes the downloads fail rather than quietly reach the
    // publishers.
    QUrl base(mirror, QUrl::StrictMode);
    QString path = base.path();
    if (!path.endsWith(u'/'))
        path.append(u'/');
    base.setPath(path + fileName);
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
        if (m_cache)
            m_cache->refresh(); // another process may have gathered since
        watchForCancel(run);
        if (m_cache && m_limits.copyDeadline.count() >= 0)
            QTimer::singleShot(m_limits.copyDeadline, this, [this, weak = std::weak_ptr<Run>(run)] {
                serveCopies(weak.lock());
            });
        start(run, 0);
    };
    if (QThread::currentThread() == thread())
        begin();
    else
        m_fromOtherThreads->post(std::move(begin));
    return future;
}

QFuture<void> NewsService::refresh(const FeedSource& source)
{
    if (!m_cache || !qEnvironmentVariableIsEmpty(mirrorVariable))
        return QtFuture::makeReadyFuture();
    auto run = std::make_shared<Run>();
    run->sources = {source};
    run->pending = 1;
    run->refreshOnly = true;
    run->promise.start();
    QFuture<void> future(run->promise.future());
    m_cache->refresh();
    watchForCancel(run);
    start(run, 0);
    return future;
}

std::optional<Instant> NewsService::copyTime(const FeedSource& source)
{
    if (!m_cache || !qEnvironmentVariableIsEmpty(mirrorVariable))
        return std::nullopt;
    m_cache->refresh();
    const std::optional<FeedCacheEntry> entry = m_cache->find(addressOf(source));
    return entry ? entry->fetched : std::nullopt;
}

void NewsService::watchForCancel(const std::shared_ptr<Run>& run)
{
    auto* watcher = new QFutureWatcher<GatherResult>(m_network);
    connect(watcher, &QFutureWatcherBase::canceled, this, [weak = std::weak_ptr<Run>(run)] {
        const std::shared_ptr<Run> run = weak.lock();
        if (!run)
            return;
        // Each abort finishes its reply at once; the list itself does not change meanwhile.
        const QList<std::weak_ptr<Transfer>> transfers = run->transfers;
        for (const std::weak_ptr<Transfer>& weakTransfer : transfers) {
            if (const std::shared_ptr<Transfer> transfer = weakTransfer.lock())
                transfer->abort(Stop::cancelled);
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
        fetch(run, index);
        ++index;
    } while (index < run->sources.size() && turn.nsecsElapsed() < 1'000'000);
    if (index < run->sources.size())
        QMetaObject::invokeMethod(
            this, [this, run, index] { start(run, index); }, Qt::QueuedConnection);
}

void NewsService::fetch(const std::shared_ptr<Run>& run, qsizetype index)
{
    const FeedSource& source = run->sources[index];
    const QUrl address = addressOf(source);
    FeedCache* cache = qEnvironmentVariableIsEmpty(mirrorVariable) ? m_cache : nullptr;
    const std::optional<FeedCacheEntry> entry =
        cache ? cache->find(address) : std::optional<FeedCacheEntry>();
    if (entry && (cache->isFresh(*entry) || cache->isHeldOff(*entry))) {
        // Not asked: its last answer stands in, and without one the feed has nothing to give.
        if (entry->hasCopy())
            run->combined.append(storiesOf(*entry, source));
        else
            run->failed.append(source.name);
        feedDone(run);
        return;
    }
    QList<std::pair<QByteArray, QByteArray>> conditional;
    if (entry && entry->hasCopy()) {
        if (!entry->etag.isEmpty())
            conditional.append({"If-None-Match", entry->etag});
        if (!entry->lastModified.isEmpty())
            conditional.append({"If-Modified-Since", entry->lastModified});
        run->copies.insert(index, storiesOf(*entry, source));
    }
    run->transfers.append(
        download(address, conditional,
                 [this, run, index, address, cache](QNetworkReply* reply,
                                                    const std::shared_ptr<Transfer>& body) {
                     downloaded(run, index, address, cache, reply, body);
                 }));
}

std::shared_ptr<NewsService::Transfer>
NewsService::download(const QUrl& url, const QList<std::pair<QByteArray, QByteArray>>& headers,
                      Done done)
{
    auto transfer = std::make_shared<Transfer>();
    request(transfer, url, headers, std::make_shared<Done>(std::move(done)));
    return transfer;
}

void NewsService::request(const std::shared_ptr<Transfer>& transfer, const QUrl& url,
                          const QList<std::pair<QByteArray, QByteArray>>& headers,
                          const std::shared_ptr<Done>& done)
{
    QNetworkRequest hop(url);
    hop.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(userAgent));
    for (const auto& [name, value] : headers)
        hop.setRawHeader(name, value);
    // Redirects are followed here, one hop at a time, so that every hop runs under the limits.
    hop.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                     QNetworkRequest::ManualRedirectPolicy);

    QNetworkReply* reply = m_network->get(hop);
    transfer->reply = reply;
    transfer->pieces.clear(); // what an earlier hop said is not the document
    transfer->size = 0;

    // The limits run from when the request goes out, not while it waits for one of the
    // connections the manager keeps per host. The idle timer restarts whenever data arrives;
    // the total limit spans every hop.
    auto* idle = new QTimer(reply);
    idle->setSingleShot(true);
    idle->setInterval(m_limits.idleTimeout);
    auto* total = new QTimer(reply);
    total->setSingleShot(true);
    connect(idle, &QTimer::timeout, reply, [weak = std::weak_ptr<Transfer>(transfer)] {
        if (const auto transfer = weak.lock())
            transfer->abort(Stop::idle);
    });
    connect(total, &QTimer::timeout, reply, [weak = std::weak_ptr<Transfer>(transfer)] {
        if (const auto transfer = weak.lock())
            transfer->abort(Stop::total);
    });
    const auto sent = [weak = std::weak_ptr<Transfer>(transfer), idle, total,
                       limit = m_limits.totalTimeout] {
        const auto transfer = weak.lock();
        if (!transfer)
            return;
        if (!transfer->deadline)
            transfer->deadline = QDeadlineTimer(limit);
        idle->start();
        if (!total->isActive())
            total->start(std::max<qint64>(0, transfer->deadline->remainingTime()));
    };
    connect(reply, &QNetworkReply::socketStartedConnecting, idle, sent);
    connect(reply, &QNetworkReply::requestSent, idle, sent);
    // The head is measured once it has been read: past its cap, the answer is not taken.
    connect(reply, &QNetworkReply::metaDataChanged, reply,
            [reply, idle, weak = std::weak_ptr<Transfer>(transfer), cap = m_limits.maxHeadBytes] {
                idle->start();
                qint64 size = 0;
                for (const auto& [name, value] : reply->rawHeaderPairs())
                    size += name.size() + value.size() + 4; // ": " and the line's end
                if (size > cap) {
                    if (const auto transfer = weak.lock())
                        transfer->abort(Stop::headTooLarge);
                }
            });
    // A request that never reports going out (not a socket at all) still ends, at the latest
    // this long after it was made.
    QTimer::singleShot(m_limits.totalTimeout * 10, reply,
                       [weak = std::weak_ptr<Transfer>(transfer)] {
                           if (const auto transfer = weak.lock())
                               transfer->abort(Stop::total);
                       });

    // The body is taken in as it arrives, a piece per event, and joined on the thread pool: the
    // main thread never copies a whole large document in one go. A body past the cap, counted
    // after decompression, is abandoned as soon as it shows, by its announced length or by
    // what has arrived.
    const qint64 cap = m_limits.maxBodyBytes;
    connect(reply, &QNetworkReply::downloadProgress, reply,
            [weak = std::weak_ptr<Transfer>(transfer), idle, cap](qint64, qint64 length) {
                idle->start();
                if (length > cap) {
                    if (const auto transfer = weak.lock())
                        transfer->abort(Stop::tooLarge);
                }
            });
    connect(reply, &QNetworkReply::readyRead, reply, [reply, transfer, idle, cap] {
        idle->start();
        transfer->take(reply);
        if (transfer->size > cap)
            transfer->abort(Stop::tooLarge);
    });

    connect(reply, &QNetworkReply::finished, this, [this, transfer, reply, headers, done] {
        transfer->take(reply);
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QVariant location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
        const bool redirect =
            status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
        if (transfer->stop == Stop::none && reply->error() == QNetworkReply::NoError && redirect &&
            location.isValid()) {
            const QUrl from = reply->url();
            const QUrl to = from.resolved(location.toUrl());
            const QString scheme = to.scheme().toLower();
            if (scheme != u"http" && scheme != u"https")
                transfer->stop = Stop::nonWebRedirect;
            else if (from.scheme().toLower() == u"https" && scheme == u"http")
                transfer->stop = Stop::lessSafeRedirect;
            else if (++transfer->redirects > m_limits.maxRedirects)
                transfer->stop = Stop::tooManyRedirects;
            else {
                reply->deleteLater();
                request(transfer, to, headers, done);
                return;
            }
        }
        (*done)(reply, transfer);
    });
}

QString NewsService::stopReason(const Transfer& transfer) const
{
    const auto seconds = [](std::chrono::milliseconds limit) {
        return QString::number(double(limit.count()) / 1000.0);
    };
    switch (transfer.stop) {
    case Stop::none:
    case Stop::cancelled:
        break;
    case Stop::idle:
        return u"no answer within "_qs + seconds(m_limits.idleTimeout) + u" seconds"_qs;
    case Stop::total:
        return u"not complete within "_qs + seconds(m_limits.totalTimeout) + u" seconds"_qs;
    case Stop::tooLarge:
        if (m_limits.maxBodyBytes % (1024 * 1024) == 0)
            return u"larger than "_qs + QString::number(m_limits.maxBodyBytes / (1024 * 1024)) +
                   u" MiB"_qs;
        return u"larger than "_qs + QString::number(m_limits.maxBodyBytes) + u" bytes"_qs;
    case Stop::headTooLarge:
        return u"a response head larger than "_qs + QString::number(m_limits.maxHeadBytes / 1024) +
               u" KiB"_qs;
    case Stop::tooManyRedirects:
        return QStringLiteral("too many redirects");
    case Stop::nonWebRedirect:
        return QStringLiteral("redirected to a non-web address");
    case Stop::lessSafeRedirect:
        return QStringLiteral("redirected from https to http");
    }
    return {};
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
    download(
        address, {},
        [this, address, promise, refuse](QNetworkReply* reply,
                                         const std::shared_ptr<Transfer>& body) {
            reply->deleteLater();
            if (const QString reason = stopReason(*body); !reason.isEmpty()) {
                refuse(reason);
                return;
            }
            const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
                refuse(u"the server answered HTTP "_qs + QString::number(status.toInt()));
                return;
            }
            if (reply->error() != QNetworkReply::NoError) {
                refuse(u"cannot be reached: "_qs + reply->errorString());
                return;
            }
            auto* watcher = new QFutureWatcher<FeedCheck>(this);
            connect(watcher, &QFutureWatcherBase::finished, this, [watcher, promise] {
                promise->addResult(watcher->result());
                promise->finish();
                watcher->deleteLater();
            });
            const Clock* clock = &m_clock;
            watcher->setFuture(runOnPool(
                QThreadPool::globalInstance(), [address, clock, pieces = std::move(body->pieces)] {
                    QByteArray document;
                    for (const QByteArray& piece : pieces)
                        document.append(piece);
                    FeedParser parser(FeedSource{QStringLiteral("check"), {}, address, {}}, clock);
                    const qsizetype stories = parser.parse(document).size();
                    if (!parser.isFeed())
                        return FeedCheck{QStringLiteral("not an RSS or Atom feed"), {}, 0};
                    if (stories == 0)
                        return FeedCheck{QStringLiteral("the feed has no stories"),
                                         parser.feedTitle(), 0};
                    return FeedCheck{std::nullopt, parser.feedTitle(), stories};
                }));
        });
    return future;
}

QFuture<FetchedDocument>
NewsService::fetchDocument(const QUrl& address,
                           const QList<std::pair<QByteArray, QByteArray>>& headers)
{
    auto promise = std::make_shared<QPromise<FetchedDocument>>();
    promise->start();
    QFuture<FetchedDocument> future = promise->future();
    download(address, headers,
             [this, promise](QNetworkReply* reply, const std::shared_ptr<Transfer>& body) {
                 reply->deleteLater();
                 FetchedDocument fetched;
                 fetched.failure = stopReason(*body);
                 fetched.status =
                     reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                 // An HTTP error status is an answer; an error with none, or with a success
                 // (the connection lost mid-body), is not.
                 const bool errorStatus = fetched.status >= 300;
                 if (fetched.failure.isEmpty() && reply->error() != QNetworkReply::NoError &&
                     !errorStatus) {
                     fetched.failure = u"cannot be reached: "_qs + reply->errorString();
                     fetched.unreached = fetched.status == 0;
                 }
                 if (fetched.failure.isEmpty()) {
                     fetched.etag = validatorOf(reply, "ETag");
                     fetched.lastModified = validatorOf(reply, "Last-Modified");
                     fetched.retryAfter = reply->rawHeader("Retry-After").left(256);
                     if (succeeded(reply) && body->size <= m_limits.maxBodyBytes) {
                         fetched.body.reserve(body->size);
                         for (const QByteArray& piece : std::as_const(body->pieces))
                             fetched.body.append(piece);
                     }
                 }
                 promise->addResult(std::move(fetched));
                 promise->finish();
             });
    return future;
}

void NewsService::downloaded(const std::shared_ptr<Run>& run, qsizetype index, const QUrl& address,
                             FeedCache* cache, QNetworkReply* reply,
                             const std::shared_ptr<Transfer>& body)
{
    reply->deleteLater();
    const FeedSource& source = run->sources[index];
    if (run->promise.isCanceled()) {
        settle(run, index, {});
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (body->stop == Stop::none && (succeeded(reply) || status == 304))
        run->answered = true;
    const Instant now = m_clock.now();
    std::optional<FeedCacheEntry> entry =
        cache ? cache->find(address) : std::optional<FeedCacheEntry>();
    if (entry && entry->hasCopy() && status == 304) {
        // Not modified: the cached stories, good for another while.
        entry->fetched = now;
        entry->freshFor = freshnessOf(reply->rawHeader("Cache-Control"),
                                      reply->rawHeader("Expires"), reply->rawHeader("Date"), now);
        entry->retryAfter.reset();
        if (const QByteArray etag = validatorOf(reply, "ETag"); !etag.isEmpty())
            entry->etag = etag;
        if (const QByteArray date = validatorOf(reply, "Last-Modified"); !date.isEmpty())
            entry->lastModified = date;
        cache->insert(address, *entry);
        settle(run, index, storiesOf(*entry, source));
        return;
    }
    if (cache && (status == 429 || status == 503)) {
        if (const auto at =
                retryAfterOf(reply->rawHeader("Retry-After"), now, FeedCache::longestRetryAfter)) {
            FeedCacheEntry held = entry.value_or(FeedCacheEntry{});
            held.retryAfter = at;
            cache->insert(address, held);
            if (held.hasCopy()) {
                settle(run, index, storiesOf(held, source));
                return;
            }
        }
    }
    // Errors include the idle and total timeouts, the size caps, a connection lost mid-body and
    // a redirect that is not followed.
    if (body->stop != Stop::none || !succeeded(reply) || body->size > m_limits.maxBodyBytes) {
        settle(run, index, {});
        return;
    }

    // What the cache keeps of this answer, should it turn out to be a feed.
    FeedCacheEntry answer;
    if (cache) {
        answer.etag = validatorOf(reply, "ETag");
        answer.lastModified = validatorOf(reply, "Last-Modified");
        answer.freshFor = freshnessOf(reply->rawHeader("Cache-Control"),
                                      reply->rawHeader("Expires"), reply->rawHeader("Date"), now);
        answer.fetched = now;
    }
    auto* watcher = new QFutureWatcher<Parsed>(this);
    connect(watcher, &QFutureWatcherBase::finished, this,
            [this, run, index, watcher, cache, address, answer = std::move(answer)]() mutable {
                Parsed parsed = watcher->result();
                watcher->deleteLater();
                if (cache && parsed.isFeed) {
                    answer.items = parsed.items;
                    cache->insert(address, std::move(answer));
                }
                settle(run, index, std::move(parsed.items));
            });
    const Clock* clock = &m_clock;
    watcher->setFuture(
        runOnPool(QThreadPool::globalInstance(),
                  [source, clock, pieces = std::move(body->pieces), size = body->size] {
                      QByteArray document;
                      document.reserve(size);
                      for (const QByteArray& piece : pieces)
                          document.append(piece);
                      FeedParser parser(source, clock);
                      Parsed parsed;
                      parsed.items = parser.parse(document);
                      parsed.isFeed = parser.isFeed();
                      return parsed;
                  }));
}

void NewsService::settle(const std::shared_ptr<Run>& run, qsizetype index,
                         std::optional<QList<NewsItem>> items)
{
    if (run->late.remove(index)) {
        // Its copy stood in at the deadline: this answer is for the next briefing.
        if (m_cache && m_cache->hasUnsavedEntries())
            m_cache->save();
        if (--m_lateAnswers == 0)
            emit lateAnswersSettled();
        return;
    }
    run->copies.remove(index);
    if (!run->promise.isCanceled()) {
        if (items)
            run->combined.append(std::move(*items));
        else
            run->failed.append(run->sources[index].name);
    }
    feedDone(run);
}

void NewsService::serveCopies(const std::shared_ptr<Run>& run)
{
    if (!run || run->promise.isCanceled() || run->copies.isEmpty())
        return;
    // Not one feed has answered yet: as far as this briefing can tell, it is offline, and the
    // feeds it could not reach are named so, their copies told all the same.
    const QHash<qsizetype, QList<NewsItem>> copies = std::exchange(run->copies, {});
    for (auto it = copies.cbegin(); it != copies.cend(); ++it) {
        run->combined.append(it.value());
        run->late.insert(it.key());
        if (!run->answered)
            run->failed.append(run->sources[it.key()].name);
    }
    m_lateAnswers += copies.size();
    feedDone(run, copies.size());
}

void NewsService::feedDone(const std::shared_ptr<Run>& run, qsizetype finished)
{
    run->pending -= finished;
    if (run->pending > 0)
        return;
    // Every answer that came is kept, also for a gather cancelled meanwhile.
    if (m_cache && m_cache->hasUnsavedEntries())
        m_cache->save();
    if (run->promise.isCanceled() || run->refreshOnly) {
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
