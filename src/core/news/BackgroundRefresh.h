#pragma once

#include "news/FeedSource.h"
#include "time/Instant.h"

#include <QHash>
#include <QList>
#include <QObject>

#include <chrono>
#include <functional>
#include <optional>

class QTimer;

namespace vardelle {

class Clock;
class NewsService;
class SystemEventSource;

// Keeps the feed cache warm while the desktop runs, so that a briefing asked for finds fresh
// copies and speaks at once. A feed is due when neither its cached copy nor this object's last
// request for it is younger than the interval; due feeds are asked one at a time, in random
// order, at least `spacing` apart plus up to `spacingJitter` more, through
// NewsService::refresh() (which asks conditionally and honours the publisher's freshness and
// Retry-After). Nothing is told or recorded.
//
// Paused while the user is away (the screen locked, the screen saver on, the computer asleep)
// and while the connection is metered; after a pause, the first request waits `resumeDelay`
// plus jitter, so that a wake whose network is still coming up is not met with requests.
//
// Time is read from the injectable clock; the timer only wakes the object when something may be
// due. Main thread.
class BackgroundRefresh : public QObject {
    Q_OBJECT

public:
    using Feeds = std::function<QList<FeedSource>()>;

    // A shorter interval than this, other than 0, counts as this.
    static constexpr std::chrono::minutes shortestInterval{15};
    static constexpr std::chrono::seconds spacing{4};
    static constexpr std::chrono::seconds spacingJitter{4};
    static constexpr std::chrono::seconds resumeDelay{20};
    // When nothing is due, the next look comes up to this much after the first feed falls due.
    static constexpr std::chrono::seconds dueJitter{60};

    // `feeds` answers which feeds are enabled now. `news` and `clock` must outlive this object.
    BackgroundRefresh(NewsService& news, const Clock& clock, Feeds feeds,
                      QObject* parent = nullptr);
    ~BackgroundRefresh() override;

    // Minutes as the preference holds them: 0 (or less) is off, 1 to 14 count as 15.
    void setIntervalMinutes(qint64 minutes);
    // The interval in force; none while off.
    std::optional<std::chrono::minutes> interval() const { return m_interval; }

    // The user is away (locked, screen saver, asleep) or back.
    void setAway(bool away);
    // The connection is metered, or not (or not known).
    void setMetered(bool metered);
    // Away and back from `source`'s events; `source` must outlive this object or be destroyed
    // before it (its connections go with it).
    void followSession(const SystemEventSource& source);
    // Metered or not from QNetworkInformation, where a backend that knows is available;
    // otherwise the connection counts as not metered.
    void followNetwork();

    // Begins: the first look comes `firstDelay` (plus jitter) from now.
    void start(std::chrono::seconds firstDelay = std::chrono::seconds(60));

    // When the next look is due; none while off, paused or not started.
    std::optional<Instant> nextWake() const { return m_next; }
    // What the timer calls: when the next look is due by the clock, asks one due feed and sets
    // the next look. Does nothing earlier, or while off or paused.
    void wake();

signals:
    // A refresh of `source` was asked of the news service.
    void asked(const vardelle::FeedSource& source);
    // The news service is done with that refresh: the answer is in the cache, or failed.
    void refreshed(const vardelle::FeedSource& source);

private:
    bool running() const;
    // Sets the next look `after` from now, plus up to `jitter`.
    void scheduleIn(std::chrono::milliseconds after, std::chrono::milliseconds jitter);
    void scheduleAt(Instant at);
    void stop();
    void reconsider(bool wasRunning);

    NewsService& m_news;
    const Clock& m_clock;
    const Feeds m_feeds;
    QTimer* m_timer;
    std::optional<std::chrono::minutes> m_interval{std::chrono::minutes(30)};
    QHash<QUrl, Instant> m_asked; // when each feed was last asked for here, by its address
    std::optional<Instant> m_next;
    bool m_started = false;
    bool m_away = false;
    bool m_metered = false;
};

} // namespace vardelle
