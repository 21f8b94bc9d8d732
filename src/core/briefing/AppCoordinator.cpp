#include "briefing/AppCoordinator.h"

#include "briefing/BriefingText.h"
#include "briefing/BriefingWindow.h"
#include "news/NewsService.h"
#include "settings/AppSettings.h"
#include "speech/Speaker.h"
#include "store/HeadlineStore.h"
#include "time/Clock.h"

#include <QCoreApplication>
#include <QFutureWatcher>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

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
    qRegisterMetaType<RunOutcome>();
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
    if (isGathering())
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
    return !withinQuietInterval(m_clock.now(), m_store.lastAnnouncement(),
                                m_settings.quietMinutes());
}

// Today: since local midnight. Since the last check: the last gather, else the look-back.
BriefingWindow AppCoordinator::windowFor(AnnounceWindow window) const
{
    const Instant now = m_clock.now();
    const std::optional<Instant> midnight =
        window == AnnounceWindow::today ? std::optional(startOfLocalDay(now)) : std::nullopt;
    return briefingWindow(now, midnight, m_store.lastGather(), m_settings.lookbackHours());
}

bool AppCoordinator::isGathering() const
{
    return std::any_of(m_runs.cbegin(), m_runs.cend(),
                       [](const Run& run) { return run.phase == Phase::gathering; });
}

AppCoordinator::RunId AppCoordinator::announce(AnnounceReason reason, AnnounceWindow window,
                                               milliseconds speechHold)
{
    if (!passesGuards(reason))
        return 0;

    m_failure.reset();
    setLastError(std::nullopt);
    const RunId run = startRun(Phase::gathering);
    if (speechHold > 0ms)
        m_runs[run].speechHold = QDeadlineTimer(speechHold);

    const QList<FeedSource> sources = m_settings.activeSources();
    if (sources.isEmpty()) {
        setLastError(noCategoriesError);
        speak(run, noCategoriesMessage, RunOutcome::noCategories);
        return run;
    }

    const BriefingWindow gatherWindow = windowFor(window);
    const Instant since = gatherWindow.since;
    const int limit =
        int(std::clamp<qint64>(m_settings.maxHeadlines(), 0, std::numeric_limits<int>::max()));
    const WatchList watch(m_settings.watchTerms());
    auto* watcher = new QFutureWatcher<GatherResult>(this);
    connect(watcher, &QFutureWatcher<GatherResult>::finished, this,
            [this, watcher, run, reason, since, watch, feeds = sources.size()] {
                watcher->deleteLater();
                std::optional<GatherResult> result;
                if (!watcher->isCanceled() && watcher->future().resultCount() > 0)
                    result = watcher->result();
                gathered(run, reason, since, watch, result, feeds);
            });
    m_runs[run].gather =
        m_news.gather(sources, gatherWindow.gatherFrom, limit, watch, gatherWindow.sinceLastCheck);
    watcher->setFuture(m_runs[run].gather);
    return run;
}

void AppCoordinator::gathered(RunId run, AnnounceReason reason, Instant since,
                              const WatchList& watch, const std::optional<GatherResult>& result,
                              qsizetype feeds)
{
    if (!m_runs.contains(run))
        return; // stopped while it gathered: nothing is spoken or recorded

    if (!result) {
        // The gathering service went away: nothing was gathered, nothing recorded.
        endRun(run, RunOutcome::stopped);
        return;
    }
    if (result->items.isEmpty() && result->failedSources.size() >= feeds) {
        // Not one feed answered (offline, or the network not up yet at login). That is no
        // gather: the window stays where it was, so the stories published meanwhile are still
        // told once the feeds can be reached, and a click hears why there is nothing rather
        // than "up to date". The failure shows until the next run or a Stop.
        m_failure = unreachableError;
        setLastError(unreachableError);
        if (reason == AnnounceReason::manual)
            speak(run, unreachableMessage, RunOutcome::unreachable);
        else
            endRun(run, RunOutcome::unreachable);
        return;
    }
    m_recordedRun = run;
    m_beforeRecord = m_store.state();
    if (result->items.isEmpty()) {
        // The last briefing stays what was last spoken; only the window moves on.
        m_store.recordGather(result->leftOut);
        if (reason == AnnounceReason::manual)
            speak(run, upToDateMessage, RunOutcome::upToDate);
        else
            endRun(run, RunOutcome::upToDate);
        return;
    }
    const QString text = composeBriefing(result->items, since, m_clock, watch);
    m_store.record(result->items, text, true, result->leftOut);
    setLastItems(result->items);
    setLastBriefing(text);
    speak(run, text, RunOutcome::briefed);
}

AppCoordinator::RunId AppCoordinator::replayLastBriefing()
{
    const RunId run = startRun(Phase::speaking);
    speak(run, m_lastBriefing.isEmpty() ? nothingToReplayMessage : m_lastBriefing,
          RunOutcome::replayed);
    return run;
}

AppCoordinator::RunId AppCoordinator::previewVoice(const QString& text)
{
    const RunId run = startRun(Phase::speaking);
    speak(run, text, RunOutcome::replayed);
    return run;
}

void AppCoordinator::stop()
{
    m_failure.reset();
    m_speaker.stop();
    // Every live run ends now, the one that gathers included: its result will be dropped.
    const QList<RunId> live = m_runs.keys();
    for (RunId run : live)
        endRun(run, RunOutcome::stopped);
    showState();
}

void AppCoordinator::stop(RunId run)
{
    if (!m_runs.contains(run))
        return;
    if (run == m_speechOwner)
        m_speaker.stop();
    endRun(run, RunOutcome::stopped);
}

void AppCoordinator::takeBack(RunId run)
{
    if (run != 0 && run == m_recordedRun && m_runs.contains(run)) {
        m_store.restore(m_beforeRecord);
        setLastItems(m_beforeRecord.lastItems);
        setLastBriefing(m_beforeRecord.lastBriefing);
    }
    stop(run);
}

void AppCoordinator::forgetHistory()
{
    m_recordedRun = 0;
    m_store.forgetHistory();
    setLastItems({});
    setLastBriefing({});
}

AppCoordinator::RunId AppCoordinator::startRun(Phase phase)
{
    const RunId run = ++m_lastRun;
    m_runs.insert(run, Run{phase, RunOutcome::briefed, std::nullopt, {}});
    showState();
    return run;
}

void AppCoordinator::speak(RunId run, const QString& text, RunOutcome outcome)
{
    auto it = m_runs.find(run);
    if (it == m_runs.end())
        return;
    if (const std::optional<QDeadlineTimer> hold = std::exchange(it->speechHold, std::nullopt);
        hold && !hold->hasExpired()) {
        // Still gathering, as far as anyone can see, until the hold ends; a stop meanwhile
        // ends the run and the text is never spoken.
        QTimer::singleShot(ceil<milliseconds>(hold->remainingTimeAsDuration()), this,
                           [this, run, text, outcome] { speak(run, text, outcome); });
        return;
    }
    it->phase = Phase::speaking;
    it->outcome = outcome;
    // The speech this cuts off ends its run as interrupted, not as spoken to the end.
    if (m_speechOwner != 0 && m_speechOwner != run) {
        if (auto earlier = m_runs.find(m_speechOwner); earlier != m_runs.end())
            earlier->outcome = RunOutcome::interrupted;
    }
    showState();
    emit speaking(run, text);
    m_speechOwner = run;
    m_speaker.speak(text, m_settings.voiceIdentifier(), m_settings.speechRate(), this, [this, run] {
        if (m_speechOwner == run)
            m_speechOwner = 0;
        // The speaker may run this inside stop() or speak(); the run ends from the event loop,
        // after the caller has finished.
        QMetaObject::invokeMethod(
            this,
            [this, run] {
                if (auto ended = m_runs.find(run); ended != m_runs.end())
                    endRun(run, ended->outcome);
            },
            Qt::QueuedConnection);
    });
}

void AppCoordinator::endRun(RunId run, RunOutcome outcome)
{
    auto it = m_runs.find(run);
    if (it == m_runs.end())
        return;
    // A gather still under way is abandoned: its downloads end now, not when the feeds answer.
    it->gather.cancel();
    m_runs.erase(it);
    showState();
    emit runEnded(run, outcome);
}

void AppCoordinator::showState()
{
    AnnouncerState next = AnnouncerState::idle();
    if (!m_runs.isEmpty())
        next = m_runs.last().phase == Phase::gathering ? AnnouncerState::gathering()
                                                       : AnnouncerState::speaking();
    else if (m_failure)
        next = AnnouncerState::failed(*m_failure);
    if (next != m_state)
        setState(next);
}

} // namespace vardelle
