#include "briefing/AppCoordinator.h"

#include "briefing/BriefingText.h"
#include "news/NewsService.h"
#include "settings/AppSettings.h"
#include "speech/Speaker.h"
#include "store/HeadlineStore.h"
#include "time/Clock.h"

#include <QCoreApplication>
#include <QFutureWatcher>
#include <QPromise>

#include <algorithm>
#include <limits>
#include <memory>

namespace vardelle {

using namespace std::chrono;

const QString AppCoordinator::noCategoriesMessage = QStringLiteral(
    "No headline categories are enabled. Open settings to choose what you would like to hear.");
const QString AppCoordinator::noCategoriesError =
    QStringLiteral("No headline categories are enabled. Open Settings \u2192 Headlines.");
const QString AppCoordinator::upToDateMessage =
    QStringLiteral("No new security headlines since the last check. You are up to date.");
const QString AppCoordinator::unreachableMessage =
    QStringLiteral("None of the news feeds could be reached. Check the network connection and "
                   "try again.");
const QString AppCoordinator::unreachableError =
    QStringLiteral("None of the news feeds could be reached.");
const QString AppCoordinator::nothingToReplayMessage =
    QStringLiteral("There is no previous briefing to replay.");

AppCoordinator::AppCoordinator(AppSettings& settings, HeadlineStore& store, NewsService& news,
                               Speaker& speaker, const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_store(store)
    , m_news(news)
    , m_speaker(speaker)
    , m_clock(clock)
    , m_lastItems(store.lastItems())
    , m_lastBriefing(store.lastBriefing())
{
    qRegisterMetaType<AnnouncerState>();
}

AppCoordinator& AppCoordinator::shared()
{
    // Never destroyed: it lives until the process ends, like the services it uses.
    static AppCoordinator* const coordinator = [] {
        auto* created =
            new AppCoordinator(AppSettings::shared(), HeadlineStore::shared(),
                               NewsService::shared(), Speaker::shared(), Clock::system());
        if (const QCoreApplication* app = QCoreApplication::instance())
            created->moveToThread(app->thread());
        return created;
    }();
    return *coordinator;
}

void AppCoordinator::setState(const AnnouncerState& state)
{
    m_state = state;
    emit stateChanged(m_state);
}

void AppCoordinator::setLastItems(const QList<NewsItem>& items)
{
    m_lastItems = items;
    emit lastItemsChanged(m_lastItems);
}

void AppCoordinator::setLastBriefing(const QString& briefing)
{
    m_lastBriefing = briefing;
    emit lastBriefingChanged(m_lastBriefing);
}

void AppCoordinator::setLastError(const std::optional<QString>& error)
{
    m_lastError = error;
    emit lastErrorChanged(m_lastError);
}

bool AppCoordinator::passesGuards(AnnounceReason reason) const
{
    if (m_running)
        return false;
    switch (reason) {
    case AnnounceReason::manual:
        return true; // no setting and no minimum interval
    case AnnounceReason::launch:
        if (!m_settings.announceOnLaunch())
            return false;
        break;
    case AnnounceReason::unlock:
    case AnnounceReason::wake:
    case AnnounceReason::sessionActive:
        if (!m_settings.announceOnUnlock())
            return false;
        break;
    }
    if (const auto last = m_store.lastAnnouncement()) {
        const auto elapsed = m_clock.now() - *last;
        // A last briefing stamped in the future (the clock was set back) holds nothing back.
        if (elapsed >= microseconds::zero() && elapsed < minutes(m_settings.quietMinutes()))
            return false;
    }
    return true;
}

QFuture<void> AppCoordinator::announce(AnnounceReason reason, std::optional<Instant> since)
{
    if (!passesGuards(reason))
        return QtFuture::makeReadyFuture();

    m_running = true;
    setLastError(std::nullopt);
    setState(AnnouncerState::gathering());

    auto handed = std::make_shared<QPromise<void>>();
    handed->start();
    const QFuture<void> result = handed->future();

    const QList<FeedSource> sources = m_settings.activeSources();
    if (sources.isEmpty()) {
        setState(AnnouncerState::idle());
        setLastError(noCategoriesError);
        speak(noCategoriesMessage);
        m_running = false;
        handed->finish();
        return result;
    }

    // The caller's start, else the last gather, else the look-back. A last gather stamped in
    // the future (the clock was set back) would hide every story until then: it counts as none.
    const Instant now = m_clock.now();
    Instant windowStart = now - hours(m_settings.lookbackHours());
    if (since)
        windowStart = *since;
    else if (const auto lastGather = m_store.lastGather(); lastGather && *lastGather <= now)
        windowStart = *lastGather;

    const int limit =
        int(std::clamp<qint64>(m_settings.maxHeadlines(), 0, std::numeric_limits<int>::max()));
    const WatchList watch(m_settings.watchTerms());
    auto* watcher = new QFutureWatcher<GatherResult>(this);
    connect(watcher, &QFutureWatcher<GatherResult>::finished, this,
            [this, watcher, handed, reason, windowStart, watch, feeds = sources.size()] {
                watcher->deleteLater();
                if (watcher->isCanceled() || watcher->future().resultCount() == 0) {
                    // The gathering service went away: nothing was gathered, nothing recorded.
                    setState(AnnouncerState::idle());
                    m_running = false;
                    handed->finish();
                    return;
                }
                const GatherResult& gathered = watcher->result();
                if (gathered.items.isEmpty() && gathered.failedSources.size() >= feeds) {
                    // Not one feed answered (offline, or the network not up yet at login).
                    // That is no gather: the window stays where it was, so the stories
                    // published meanwhile are still told once the feeds can be reached, and
                    // a click hears why there is nothing rather than "up to date".
                    setState(AnnouncerState::idle());
                    setLastError(unreachableError);
                    if (reason == AnnounceReason::manual)
                        speak(unreachableMessage);
                    m_running = false;
                    handed->finish();
                    return;
                }
                const QList<NewsItem> items = gathered.items;
                setLastItems(items);
                if (items.isEmpty()) {
                    m_store.record({}, {}, false);
                    setState(AnnouncerState::idle());
                    if (reason == AnnounceReason::manual)
                        speak(upToDateMessage);
                } else {
                    const QString text = composeBriefing(items, windowStart, m_clock, watch);
                    setLastBriefing(text);
                    m_store.record(items, text, true);
                    speak(text);
                }
                m_running = false;
                handed->finish();
            });
    watcher->setFuture(m_news.gather(sources, windowStart, limit, watch));
    return result;
}

void AppCoordinator::replayLastBriefing()
{
    const QString stored = m_store.lastBriefing();
    speak(stored.isEmpty() ? nothingToReplayMessage : stored);
}

void AppCoordinator::previewVoice(const QString& text)
{
    m_speaker.speak(text, m_settings.voiceIdentifier(), m_settings.speechRate());
}

void AppCoordinator::stopSpeaking()
{
    m_speaker.stop();
    setState(AnnouncerState::idle());
}

void AppCoordinator::speak(const QString& text)
{
    setState(AnnouncerState::speaking());
    emit speaking(text);
    const quint64 utterance = ++m_utterance;
    m_speaker.speak(text, m_settings.voiceIdentifier(), m_settings.speechRate(), this,
                    [this, utterance] {
                        QMetaObject::invokeMethod(
                            this,
                            [this, utterance] {
                                if (utterance == m_utterance)
                                    setState(AnnouncerState::idle());
                            },
                            Qt::QueuedConnection);
                    });
}

} // namespace vardelle
