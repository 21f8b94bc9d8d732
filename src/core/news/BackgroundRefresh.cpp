#include "news/BackgroundRefresh.h"

#include "news/NewsService.h"
#include "system/SystemEventSource.h"
#include "time/Clock.h"

#include <QFuture>
#include <QNetworkInformation>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>

namespace vardelle {

namespace {

std::chrono::milliseconds randomUpTo(std::chrono::milliseconds most)
{
    if (most.count() <= 0)
        return {};
    return std::chrono::milliseconds(QRandomGenerator::global()->bounded(qint64(most.count()) + 1));
}

} // namespace

BackgroundRefresh::BackgroundRefresh(NewsService& news, const Clock& clock, Feeds feeds,
                                     QObject* parent)
    : QObject(parent)
    , m_news(news)
    , m_clock(clock)
    , m_feeds(std::move(feeds))
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &BackgroundRefresh::wake);
}

BackgroundRefresh::~BackgroundRefresh() = default;

void BackgroundRefresh::setIntervalMinutes(qint64 minutes)
{
    const bool wasRunning = running();
    if (minutes <= 0)
        m_interval.reset();
    else
        m_interval = std::max(shortestInterval,
                              std::chrono::minutes(std::min<qint64>(minutes, 7 * 24 * 60)));
    reconsider(wasRunning);
}

void BackgroundRefresh::setAway(bool away)
{
    const bool wasRunning = running();
    m_away = away;
    reconsider(wasRunning);
}

void BackgroundRefresh::setMetered(bool metered)
{
    const bool wasRunning = running();
    m_metered = metered;
    reconsider(wasRunning);
}

void BackgroundRefresh::followSession(const SystemEventSource& source)
{
    const auto away = [this] { setAway(true); };
    const auto back = [this] { setAway(false); };
    connect(&source, &SystemEventSource::screenLocked, this, away);
    connect(&source, &SystemEventSource::screenSaverStarted, this, away);
    connect(&source, &SystemEventSource::goingToSleep, this, away);
    connect(&source, &SystemEventSource::screenUnlocked, this, back);
    connect(&source, &SystemEventSource::screenSaverStopped, this, back);
    connect(&source, &SystemEventSource::wokeFromSleep, this, back);
    connect(&source, &SystemEventSource::sessionActivated, this, back);
}

void BackgroundRefresh::followNetwork()
{
    // A backend may be missing, or not know about metering: then nothing is metered.
    if (!QNetworkInformation::instance() &&
        !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Metered))
        return;
    QNetworkInformation* information = QNetworkInformation::instance();
    if (!information || !information->supports(QNetworkInformation::Feature::Metered))
        return;
    connect(information, &QNetworkInformation::isMeteredChanged, this,
            &BackgroundRefresh::setMetered);
    setMetered(information->isMetered());
}

void BackgroundRefresh::start(std::chrono::seconds firstDelay)
{
    if (m_started)
        return;
    m_started = true;
    if (running())
        scheduleIn(firstDelay, dueJitter);
}

bool BackgroundRefresh::running() const
{
    return m_started && m_interval && !m_away && !m_metered;
}

void BackgroundRefresh::reconsider(bool wasRunning)
{
    if (!running()) {
        stop();
        return;
    }
    if (!wasRunning)
        scheduleIn(resumeDelay, spacingJitter);
}

void BackgroundRefresh::stop()
{
    m_timer->stop();
    m_next.reset();
}

void BackgroundRefresh::scheduleIn(std::chrono::milliseconds after,
                                   std::chrono::milliseconds jitter)
{
    scheduleAt(m_clock.now() + after + randomUpTo(jitter));
}

void BackgroundRefresh::scheduleAt(Instant at)
{
    m_next = at;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(at - m_clock.now());
    // A long wait is looked at again now and then: the wall clock may jump (a suspend the
    // session did not report), and the timer does not follow it.
    m_timer->start(std::clamp(wait, std::chrono::milliseconds(0),
                              std::chrono::milliseconds(std::chrono::minutes(5))));
}

void BackgroundRefresh::wake()
{
    if (!running()) {
        stop();
        return;
    }
    const Instant now = m_clock.now();
    if (m_next && now < *m_next) {
        scheduleAt(*m_next);
        return;
    }

    QList<FeedSource> due;
    std::optional<Instant> firstDue;
    const QList<FeedSource> feeds = m_feeds();
    for (const FeedSource& feed : feeds) {
        std::optional<Instant> last = m_news.copyTime(feed);
        if (const auto asked = m_asked.constFind(feed.url); asked != m_asked.constEnd())
            last = last ? std::max(*last, *asked) : *asked;
        if (!last || now - *last >= *m_interval) {
            due.append(feed);
        } else {
            const Instant at = *last + *m_interval;
            firstDue = firstDue ? std::min(*firstDue, at) : at;
        }
    }

    if (!due.isEmpty()) {
        const FeedSource feed = due[QRandomGenerator::global()->bounded(int(due.size()))];
        m_asked.insert(feed.url, now);
        emit asked(feed);
        m_news.refresh(feed).then(this, [this, feed] { emit refreshed(feed); });
        scheduleIn(spacing, spacingJitter);
        return;
    }
    if (!firstDue) {
        // No feeds at all: look again after a while, they may be switched on.
        scheduleIn(*m_interval, dueJitter);
        return;
    }
    const Instant earliest = now + spacing;
    scheduleAt(std::max(*firstDue, earliest) + randomUpTo(dueJitter));
}

} // namespace vardelle
