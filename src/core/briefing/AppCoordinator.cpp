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
#include <numeric>
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

int AppCoordinator::headlineLimit() const
{
    return int(std::clamp<qint64>(m_settings.maxHeadlines(), 0, std::numeric_limits<int>::max()));
}

QList<StoryGroup> AppCoordinator::lastStories() const
{
    const qsizetype told =
        std::accumulate(m_lastGroupSizes.cbegin(), m_lastGroupSizes.cend(), qsizetype(0));
    if (!m_lastGroupSizes.isEmpty() && told == m_lastItems.size())
        return groupsBySize(m_lastItems, m_lastGroupSizes);
    // Recorded by an earlier process, which kept no groups: found again.
    return groupStories(m_lastItems);
}

bool AppCoordinator::isGathering() const
{
    return std::any_of(m_runs.cbegin(), m_runs.cend(),
                       [](const Run& run) { return run.phase == Phase::gathering; });
}

AppCoordinator::RunId AppCoordinator::announce(AnnounceReason reason, AnnounceWindow window,
                                               milliseconds speechHold, BriefingDelivery delivery)
{
    if (!passesGuards(reason))
        return 0;

    m_failure.reset();
    setLastError(std::nullopt);
    const RunId run = startRun(Phase::gathering);
    if (speechHold > 0ms)
        m_runs[run].speechHold = QDeadlineTimer(speechHold);
    m_runs[run].delivery = delivery;

    const QList<FeedSource> sources = m_settings.activeSources();
    if (sources.isEmpty()) {
        setLastError(noCategoriesError);
        speak(run, noCategoriesMessage, RunOutcome::noCategories);
        return run;
    }

    const BriefingWindow gatherWindow = windowFor(window);
    const int limit = headlineLimit();
    const WatchList watch(m_settings.watchTerms());
    if (m_updateKnownExploited && m_settings.knownExploited()) {
        m_runs[run].knownExploitedUpdate = m_updateKnownExploited();
        m_runs[run].knownExploitedDeadline =
            QDeadlineTimer(std::max(m_news.limits().copyDeadline, 0ms));
    }
    auto* watcher = new QFutureWatcher<GatherResult>(this);
    connect(watcher, &QFutureWatcher<GatherResult>::finished, this,
            [this, watcher, run, reason, gatherWindow, watch, feeds = sources.size()] {
                watcher->deleteLater();
                std::optional<GatherResult> result;
                if (!watcher->isCanceled() && watcher->future().resultCount() > 0)
                    result = watcher->result();
                gathered(run, reason, gatherWindow, watch, result, feeds);
            });
    m_runs[run].gather =
        m_news.gather(sources, gatherWindow.gatherFrom, limit, watch, gatherWindow.sinceLastCheck);
    watcher->setFuture(m_runs[run].gather);
    return run;
}

void AppCoordinator::gathered(RunId run, AnnounceReason reason, const BriefingWindow& window,
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
    const int limit = headlineLimit();
    afterKnownExploitedUpdate(run, [this, run, reason, window, watch, result = *result, limit] {
        tell(run, reason, window, watch, result, limit);
    });
}

void AppCoordinator::afterKnownExploitedUpdate(RunId run, std::function<void()> next)
{
    const Run& live = m_runs[run];
    const QFuture<void> update = live.knownExploitedUpdate;
    if (!update.isValid() || update.isFinished() || live.knownExploitedDeadline.hasExpired()) {
        next();
        return;
    }
    // Whichever comes first, the update's end or the deadline, goes on; the other finds it done.
    auto once = std::make_shared<std::function<void()>>(std::move(next));
    const auto goOn = [this, run, once] {
        if (!*once)
            return;
        const std::function<void()> next = std::exchange(*once, {});
        if (m_runs.contains(run))
            next();
    };
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [watcher, goOn] {
        watcher->deleteLater();
        goOn();
    });
    watcher->setFuture(update);
    QTimer::singleShot(ceil<milliseconds>(live.knownExploitedDeadline.remainingTimeAsDuration()),
                       this, goOn);
}

void AppCoordinator::tell(RunId run, AnnounceReason reason, const BriefingWindow& window,
                          const WatchList& watch, const GatherResult& result, int limit)
{
    std::shared_ptr<const KnownExploitedCatalog> catalog;
    if (m_knownExploited && m_settings.knownExploited())
        catalog = m_knownExploited();
    // Added to the catalogue since the day before the earliest story the briefing may tell (the
    // catalogue dates its additions by day, in US time), and not told before: a first
    // catalogue tells its latest additions, never the whole list.
    KnownExploitedNews exploited{catalog.get(), {}};
    if (catalog)
        exploited.newlyKnown =
            newlyKnownEntries(*catalog, toDateTime(window.gatherFrom).date().addDays(-1),
                              m_store.toldExploitedIDs(), limit);

    m_recordedRun = run;
    m_beforeRecord = m_store.state();
    if (result.items.isEmpty() && exploited.newlyKnown.isEmpty()) {
        // The last briefing stays what was last spoken; only the window moves on.
        m_store.recordGather(result.leftOut);
        if (reason == AnnounceReason::manual)
            speak(run, upToDateMessage, RunOutcome::upToDate);
        else
            endRun(run, RunOutcome::upToDate);
        return;
    }
    // Every report of an event told once is recorded as told, and so is every vulnerability
    // told as newly known.
    const QList<BriefingPart> parts = composeBriefingParts(
        groupsBySize(result.items, result.groupSizes), window.since, m_clock, watch, exploited);
    const QString text = joinedText(parts);
    QStringList toldExploited;
    for (const KnownExploitedEntry& entry : std::as_const(exploited.newlyKnown))
        toldExploited.append(entry.cveId);
    m_store.record(result.items, text, true, result.leftOut, toldExploited);
    m_lastParts = parts;
    m_lastGroupSizes = result.groupSizes;
    setLastItems(result.items);
    setLastBriefing(text);
    speak(run, parts, RunOutcome::briefed);
}

AppCoordinator::RunId AppCoordinator::replayLastBriefing()
{
    const RunId run = startRun(Phase::speaking);
    if (m_lastBriefing.isEmpty())
        speak(run, nothingToReplayMessage, RunOutcome::replayed);
    else if (joinedText(m_lastParts) == m_lastBriefing)
        speak(run, m_lastParts, RunOutcome::replayed);
    else // stored by an earlier process, or taken back to one
        speak(run, m_lastBriefing, RunOutcome::replayed);
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
        m_lastGroupSizes.clear();
        setLastItems(m_beforeRecord.lastItems);
        setLastBriefing(m_beforeRecord.lastBriefing);
    }
    stop(run);
}

void AppCoordinator::forgetHistory()
{
    m_recordedRun = 0;
    m_lastParts.clear();
    m_lastGroupSizes.clear();
    m_store.forgetHistory();
    setLastItems({});
    setLastBriefing({});
}

AppCoordinator::RunId AppCoordinator::startRun(Phase phase)
{
    const RunId run = ++m_lastRun;
    Run started;
    started.phase = phase;
    m_runs.insert(run, started);
    showState();
    return run;
}

void AppCoordinator::speak(RunId run, const QString& text, RunOutcome outcome)
{
    speak(run, QList<BriefingPart>{{text, std::nullopt}}, outcome);
}

void AppCoordinator::speak(RunId run, const QList<BriefingPart>& parts, RunOutcome outcome)
{
    auto it = m_runs.find(run);
    if (it == m_runs.end())
        return;
    if (const std::optional<QDeadlineTimer> hold = std::exchange(it->speechHold, std::nullopt);
        hold && !hold->hasExpired()) {
        // Still gathering, as far as anyone can see, until the hold ends; a stop meanwhile
        // ends the run and nothing is spoken.
        QTimer::singleShot(ceil<milliseconds>(hold->remainingTimeAsDuration()), this,
                           [this, run, parts, outcome] { speak(run, parts, outcome); });
        return;
    }
    if (parts.isEmpty()) {
        endRun(run, outcome); // nothing to say
        return;
    }
    if (it->delivery == BriefingDelivery::textOnly) {
        // Told, not spoken: whatever is being read goes on.
        emit speaking(run, joinedText(parts));
        endRun(run, outcome);
        return;
    }
    it->phase = Phase::speaking;
    it->outcome = outcome;
    it->parts = parts;
    it->part = 0;
    // The speech this cuts off ends its run as interrupted, not as spoken to the end; so does a
    // run waiting between two of its parts.
    for (RunId earlier : {m_speechOwner, m_readingRun}) {
        if (earlier == 0 || earlier == run)
            continue;
        if (auto found = m_runs.find(earlier); found != m_runs.end())
            found->outcome = RunOutcome::interrupted;
    }
    showState();
    emit speaking(run, joinedText(parts));
    speakPart(run);
}

void AppCoordinator::speakPart(RunId run)
{
    const Run& current = m_runs[run];
    const QString text = current.parts.at(current.part).text;
    m_speechOwner = run;
    m_readingRun = run;
    emit readingChanged();
    m_speaker.speak(text, m_settings.voiceIdentifier(), m_settings.speechRate(), this, [this, run] {
        const bool kept = m_speechOwner == run;
        if (kept)
            m_speechOwner = 0;
        // The speaker may run this inside stop() or speak(); the run goes on (or ends) from the
        // event loop, after the caller has finished.
        QMetaObject::invokeMethod(
            this, [this, run, kept] { partEnded(run, kept); }, Qt::QueuedConnection);
    });
}

void AppCoordinator::partEnded(RunId run, bool kept)
{
    auto it = m_runs.find(run);
    if (it == m_runs.end())
        return; // stopped: nothing more of it is spoken
    if (!kept || m_readingRun != run) {
        endRun(run, RunOutcome::interrupted);
        return;
    }
    const qsizetype next = it->part + 1 + std::exchange(it->skips, 0);
    if (next < it->parts.size()) {
        it->part = next;
        speakPart(run);
        return;
    }
    endRun(run, it->outcome);
}

std::optional<AppCoordinator::Reading> AppCoordinator::reading() const
{
    const auto it = m_runs.find(m_readingRun);
    if (m_readingRun == 0 || it == m_runs.end())
        return std::nullopt;
    return Reading{m_readingRun, it->part, it->parts.size(), it->parts.at(it->part)};
}

bool AppCoordinator::hasNextPart() const
{
    const auto it = m_runs.find(m_readingRun);
    if (m_readingRun == 0 || it == m_runs.end())
        return false;
    // Between two parts the next one is already due: a skip passes over it. Only a story is
    // skipped to; the closing is not one.
    const qsizetype due = it->part + it->skips + (m_speechOwner == m_readingRun ? 0 : 1);
    return due + 1 < it->parts.size() && it->parts.at(due + 1).story.has_value();
}

bool AppCoordinator::skipToNextPart()
{
    if (!hasNextPart())
        return false;
    if (m_speechOwner == m_readingRun) {
        m_speaker.stop(); // its completion goes on with the next part
        return true;
    }
    // Between two parts: the one about to start is passed over.
    ++m_runs[m_readingRun].skips;
    return true;
}

void AppCoordinator::endRun(RunId run, RunOutcome outcome)
{
    auto it = m_runs.find(run);
    if (it == m_runs.end())
        return;
    // A gather still under way is abandoned: its downloads end now, not when the feeds answer.
    it->gather.cancel();
    m_runs.erase(it);
    const bool wasRead = run == m_readingRun;
    if (wasRead)
        m_readingRun = 0;
    showState();
    if (wasRead)
        emit readingChanged();
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
