#pragma once

#include "news/FeedSource.h"
#include "news/GatherResult.h"
#include "news/WatchList.h"
#include "time/Instant.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace vardelle {

class Clock;
class FeedCache;
class HeadlineStore;
class TaskQueue;

// How long and how much one feed download may take before it counts as failed. The times run
// from when a request goes out (not while it waits for a free connection), and hold for every
// hop of a redirect: the idle limit on each, the total limit across them all.
struct FetchLimits {
    std::chrono::milliseconds idleTimeout{20'000};  // no data at all for this long
    std::chrono::milliseconds totalTimeout{40'000}; // the whole download, from the request on
    qint64 maxBodyBytes = 16 * 1024 * 1024;         // a larger body is abandoned
    int maxRedirects = 10;                          // hops beyond the first request
    qint64 maxHeadBytes = 64 * 1024;                // a larger response head is refused
    // How long a gather waits for the feeds it has a cached copy of; those still being asked
    // then are served from the copy, and their answers, still under the limits above, only
    // update the cache. Negative: wait for them as for the others.
    std::chrono::milliseconds copyDeadline{3'000};
};

// What one download of a feed address showed: its own title and how many stories it holds, or
// the reason it cannot be a feed, in a few words.
struct FeedCheck {
    std::optional<QString> refusal; // none when the address gave a feed with at least one story
    QString title;                  // the feed's own title; may be empty
    qsizetype stories = 0;
};

// One answer to NewsService::fetchDocument(): what the server said, or why nothing usable came.
struct FetchedDocument {
    QString failure; // in a few words; empty when an answer came (of any HTTP status)
    // The server could not be reached at all (no name, no route, refused): nothing was asked.
    bool unreached = false;
    int status = 0;  // the HTTP status; 0 for an address that has none (a file)
    QByteArray etag; // the validators, when fit to be sent back as they are; else empty
    QByteArray lastModified;
    QByteArray retryAfter; // the header as received
    QByteArray body;       // empty unless the status is a success
};

// Fetches feeds concurrently, parses them off the main thread, and picks the new stories of a
// time window, balanced across the categories. Lives on the main thread and owns the one
// network manager used for every download: no HTTP disk cache, cookies in memory only, redirects
// followed except from https to http, proxies from the environment.
//
// With a feed cache, a gather asks each publisher the way it asks to be asked: a feed that
// answered recently (see FeedCache::isFresh) or asked not to be asked yet (a 429 or 503 with
// Retry-After) is not requested, its cached stories stand in; any other cached feed is asked
// with its stored validators, and a 304 means its cached stories. Feeds fetched through the
// mirror bypass the cache: the mirror is the user's own copy, asked every time.
class NewsService : public QObject {
    Q_OBJECT

public:
    static constexpr char userAgent[] = "Vardelle/" VARDELLE_VERSION " (Linux)";
    // When set to a base address, every feed is fetched from <base>/<feed-id>.xml.
    static constexpr char mirrorVariable[] = "VARDELLE_FEED_MIRROR";

    // `store` answers which stories were announced before; it, `clock` and `cache` (when given)
    // must outlive every gather started here. Without a cache every feed is downloaded whole.
    NewsService(HeadlineStore& store, const Clock& clock, FetchLimits limits = {},
                FeedCache* cache = nullptr, QObject* parent = nullptr);
    // Waits for parses still running on the thread pool; downloads in flight are dropped and
    // their gathers end cancelled.
    ~NewsService() override;

    // Downloads every source at once, parses each body on the global thread pool, merges and
    // de-duplicates the stories, keeps those published at or after `since` that the store has not
    // seen (with `skipLeftOut`, nor left out of a briefing before), and picks at most `limit` of
    // them: the stories on `watch` first, newest first, then the rest round-robin across the
    // categories. Never fails as a whole: a feed that fails is named in the result's
    // failedSources; a feed served from the cache (fresh, or held off by Retry-After) has not
    // failed, one held off with no cached copy has. May be called from any thread; the main thread
    // never waits on the network or on parsing. Cancelling the future ends the gather: its
    // downloads are aborted, nothing more is requested or parsed, and the future finishes
    // cancelled, with no result.
    QFuture<GatherResult> gather(const QList<FeedSource>& sources, Instant since, int limit,
                                 const WatchList& watch = {}, bool skipLeftOut = false);

    // Asks for one feed the way a gather would (not at all while its copy is fresh or the server
    // holds it off; otherwise with its validators) and keeps the answer in the cache. Nothing is
    // told or recorded. Without a cache, or through the mirror, nothing is asked. The future
    // finishes once the answer is in the cache, or the download failed. Main thread only.
    QFuture<void> refresh(const FeedSource& source);
    // When the cached copy of `source` was fetched (or last confirmed by a 304); none without a
    // copy, a cache, or through the mirror. Main thread only.
    std::optional<Instant> copyTime(const FeedSource& source);

    // Downloads `address` once (never through the mirror), under the same limits and parser as
    // a gather, and tells whether it is a feed with stories: refused when it cannot be reached,
    // answers with an HTTP error, is not a feed, or is a feed without stories. Main thread only.
    QFuture<FeedCheck> check(const QUrl& address);

    // Downloads one document that is not a feed under the same limits as a feed, with
    // `headers` besides the User-Agent (the validators of a conditional request). The future
    // finishes on this thread's next turns once the answer is in or the download failed.
    // Main thread only.
    QFuture<FetchedDocument> fetchDocument(const QUrl& address,
                                           const QList<std::pair<QByteArray, QByteArray>>& headers);

    // Where `source` is fetched from: its own address, or the mirror's when one is set.
    static QUrl addressOf(const FeedSource& source);
    // Where a document named `fileName` is fetched from through the mirror; none without one.
    static std::optional<QUrl> mirrorAddressOf(const QString& fileName);

    const FetchLimits& limits() const { return m_limits; }

    // Whether feeds are still being asked whose copies stood in for them at a gather's deadline;
    // their answers go to the cache for the next briefing.
    bool hasLateAnswers() const { return m_lateAnswers > 0; }

signals:
    // The last of the late answers has come (or failed) and is in the cache.
    void lateAnswersSettled();

private:
    struct Run;
    struct Transfer;

    // Aborts the run's downloads once its future is cancelled.
    void watchForCancel(const std::shared_ptr<Run>& run);
    void start(const std::shared_ptr<Run>& run, qsizetype index);
    using Done = std::function<void(QNetworkReply*, const std::shared_ptr<Transfer>&)>;
    // Requests `url` with `headers` besides the User-Agent, under the limits, following
    // redirects; `done` runs once, on this thread, with the last hop's finished reply (deleted
    // later) and the whole body taken in.
    std::shared_ptr<Transfer>
    download(const QUrl& url, const QList<std::pair<QByteArray, QByteArray>>& headers, Done done);
    // One hop of `transfer`.
    void request(const std::shared_ptr<Transfer>& transfer, const QUrl& url,
                 const QList<std::pair<QByteArray, QByteArray>>& headers,
                 const std::shared_ptr<Done>& done);
    // What stopped `transfer`, in a few words; empty when nothing did.
    QString stopReason(const Transfer& transfer) const;
    void fetch(const std::shared_ptr<Run>& run, qsizetype index);
    void downloaded(const std::shared_ptr<Run>& run, qsizetype index, const QUrl& address,
                    FeedCache* cache, QNetworkReply* reply, const std::shared_ptr<Transfer>& body);
    // The feed at `index` is done, with these stories or (none) failed; an answer that comes
    // after its copy stood in only updates the cache.
    void settle(const std::shared_ptr<Run>& run, qsizetype index,
                std::optional<QList<NewsItem>> items);
    // At the deadline: the copies of the feeds still being asked stand in for them.
    void serveCopies(const std::shared_ptr<Run>& run);
    // `finished` more of the run's feeds are done; the last one merges, or ends a cancelled run.
    void feedDone(const std::shared_ptr<Run>& run, qsizetype finished = 1);

    HeadlineStore& m_store;
    const Clock& m_clock;
    const FetchLimits m_limits;
    FeedCache* const m_cache;
    QNetworkAccessManager* m_network;
    TaskQueue* m_fromOtherThreads; // gathers asked for on another thread start here
    QList<QFuture<void>> m_merges; // merges still running on the thread pool
    qsizetype m_lateAnswers = 0;   // feeds still being asked after their copy stood in
};

} // namespace vardelle
