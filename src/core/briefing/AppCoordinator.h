#pragma once

#include "briefing/AnnounceReason.h"
#include "briefing/AnnouncerState.h"
#include "briefing/BriefingRun.h"
#include "briefing/BriefingText.h"
#include "briefing/BriefingWindow.h"
#include "news/GatherResult.h"
#include "news/NewsItem.h"
#include "news/StoryGroups.h"
#include "news/WatchList.h"
#include "store/StoredState.h"
#include "time/Instant.h"

#include <QDeadlineTimer>
#include <QFuture>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace vardelle {

class AppSettings;
class Clock;
class HeadlineStore;
class NewsService;
class Speaker;

// The one owner of a briefing's life. Decides whether a request runs (a run in progress, the
// automatic-briefing settings, the minimum interval between automatic briefings), picks the time
// window, gathers, composes, records the briefing in the store and has it spoken; speaks the
// short fixed messages, replays the last briefing, previews the voice, stops, and forgets the
// history. Callers never stop the speaker, set the state or compute a window themselves.
//
// Every briefing, replay and voice sample is a run with its own id. The state follows the
// newest run that has not ended (gathering or speaking); with none, it is failed while the last
// briefing run could reach no feed, else idle. So an older run's end never changes what a newer
// one shows. Each property has a signal emitted on every assignment. Main thread only.
class AppCoordinator : public QObject {
    Q_OBJECT

public:
    using RunId = quint64;

    AppCoordinator(AppSettings& settings, HeadlineStore& store, NewsService& news, Speaker& speaker,
                   const Clock& clock, QObject* parent = nullptr);

    // The spoken messages.
    static const QString noCategoriesMessage;
    static const QString noCategoriesError;
    static const QString upToDateMessage;
    static const QString nothingToReplayMessage;
    static const QString unreachableMessage;
    static const QString unreachableError;

    AnnouncerState state() const { return m_state; }
    // The items and text of the last briefing that was spoken; always the store's.
    QList<NewsItem> lastItems() const { return m_lastItems; }
    QString lastBriefing() const { return m_lastBriefing; }
    // lastItems() as they were told, the reports of one event together.
    QList<StoryGroup> lastStories() const;
    std::optional<QString> lastError() const { return m_lastError; }
    // True while a briefing run gathers; a request made meanwhile is dropped.
    bool isGathering() const;

    // Starts a briefing run and returns its id, or 0 when the request is dropped (a run is
    // gathering, the reason's setting is off, or an automatic briefing came too soon after the
    // last one). The run gathers, then speaks; runEnded() tells how it ended. With a
    // `speechHold`, nothing is spoken before that much time has passed: a run gathered sooner
    // waits, still showing gathering, so that one which may yet be taken back is never heard.
    // A textOnly run gathers, records and tells its text through speaking() like any other, but
    // hands nothing to the speaker and cuts off no other run's speech: it ends as soon as its
    // text is out.
    RunId announce(AnnounceReason reason, AnnounceWindow window = AnnounceWindow::sinceLastCheck,
                   std::chrono::milliseconds speechHold = {},
                   BriefingDelivery delivery = BriefingDelivery::spoken);

    // Speaks the last briefing again, or says there is none. A run of its own.
    RunId replayLastBriefing();
    // Speaks `text` with the current voice and speed, showing speaking while it does.
    RunId previewVoice(const QString& text);
    // What every Stop command does: a run that gathers ends with nothing spoken or recorded,
    // speech ends at once, a shown failure is cleared; the state is idle.
    void stop();
    // Ends one run the same way, leaving the others alone; nothing when it has ended.
    void stop(RunId run);
    // Undoes a run the user turned out not to mean (the first click of a double click): it
    // ends as stopped and, when it has already recorded what it gathered, the history and the
    // last briefing go back to what they were before it. Only the newest briefing run can be
    // taken back; for any other this is stop(run).
    void takeBack(RunId run);
    // Forgets which stories were told and the last briefing.
    void forgetHistory();

    // The catalogue of known exploited vulnerabilities as last fetched, or none yet.
    using KnownExploitedSource = std::function<std::shared_ptr<const KnownExploitedCatalog>()>;
    // Brings the catalogue up to date; the future finishes when it is.
    using KnownExploitedUpdate = std::function<QFuture<void>()>;
    // Where briefings take the catalogue from, when the knownExploited preference is on: a story
    // naming catalogued CVE ids then says so, and the vulnerabilities added to it lately and not
    // told before are told in a section of their own. With `update`, each briefing brings the
    // catalogue up to date while it gathers, and waits for it at most until the feeds' copy
    // deadline (FetchLimits::copyDeadline) from its start; past that it takes the catalogue as
    // it is. Unset, or with no catalogue yet, a briefing is as before.
    void setKnownExploitedSource(KnownExploitedSource source, KnownExploitedUpdate update = {})
    {
        m_knownExploited = std::move(source);
        m_updateKnownExploited = std::move(update);
    }

    // A briefing is spoken part by part (the opening, each story, the closing). The part being
    // read: the run, the part's place among the run's parts, and the part itself.
    struct Reading {
        RunId run = 0;
        qsizetype index = 0;
        qsizetype count = 0;
        BriefingPart part;
    };
    // What is being read now; nothing while no run speaks.
    std::optional<Reading> reading() const;
    // True while the run being read has a story after the part being read (the closing is no
    // story: on the last story there is nothing to go on to).
    bool hasNextPart() const;
    // Cuts the part being read short and goes on with the next one; false, doing nothing, when
    // hasNextPart() is false.
    bool skipToNextPart();

signals:
    void stateChanged(const vardelle::AnnouncerState& state);
    void lastItemsChanged(const QList<vardelle::NewsItem>& items);
    void lastBriefingChanged(const QString& briefing);
    void lastErrorChanged(const std::optional<QString>& error);
    // Every text a run tells, with the run it belongs to: as it is handed to the speaker, or,
    // for a text-only run, as it is ready.
    void speaking(vardelle::AppCoordinator::RunId run, const QString& text);
    // The part being read has changed: another part, another run, or nothing (reading()).
    void readingChanged();
    // A run has ended; after this nothing of it is spoken or recorded.
    void runEnded(vardelle::AppCoordinator::RunId run, vardelle::RunOutcome outcome);

protected:
    // Shows a state as it is; the coordinator's own runs assign it, and tests of the views that
    // follow it may too.
    void setState(const AnnouncerState& state);

private:
    enum class Phase : quint8 { gathering, speaking };
    struct Run {
        Phase phase = Phase::gathering;
        // What the run reports when its speech ends by itself.
        RunOutcome outcome = RunOutcome::briefed;
        // Until when its speech waits, if it must.
        std::optional<QDeadlineTimer> speechHold;
        // Its gather, cancelled should the run end before it returns.
        QFuture<GatherResult> gather;
        // What it speaks, one utterance each, and the one being spoken.
        QList<BriefingPart> parts;
        qsizetype part = 0;
        // Parts to pass over when the current one ends (skips asked for between two parts).
        qsizetype skips = 0;
        BriefingDelivery delivery = BriefingDelivery::spoken;
        // The catalogue's update started with the gather, and until when the run waits for it.
        QFuture<void> knownExploitedUpdate;
        QDeadlineTimer knownExploitedDeadline;
    };

    void setLastItems(const QList<NewsItem>& items);
    void setLastBriefing(const QString& briefing);
    void setLastError(const std::optional<QString>& error);
    bool passesGuards(AnnounceReason reason) const;
    BriefingWindow windowFor(AnnounceWindow window) const;
    // How many stories a briefing tells at most, and as many newly known vulnerabilities.
    int headlineLimit() const;
    void gathered(RunId run, AnnounceReason reason, const BriefingWindow& window,
                  const WatchList& watch, const std::optional<GatherResult>& result,
                  qsizetype feeds);
    // Runs `next` once the run's update of the catalogue has finished or its deadline passed,
    // unless the run has ended meanwhile.
    void afterKnownExploitedUpdate(RunId run, std::function<void()> next);
    // Composes, records and speaks what `result` and the catalogue hold.
    void tell(RunId run, AnnounceReason reason, const BriefingWindow& window,
              const WatchList& watch, const GatherResult& result, int limit);
    RunId startRun(Phase phase);
    void speak(RunId run, const QString& text, RunOutcome outcome);
    void speak(RunId run, const QList<BriefingPart>& parts, RunOutcome outcome);
    void speakPart(RunId run);
    // An utterance of `run` has ended; `kept` when no other run's speech cut it off.
    void partEnded(RunId run, bool kept);
    void endRun(RunId run, RunOutcome outcome);
    // The state that the live runs and the last failure call for.
    void showState();

    AppSettings& m_settings;
    HeadlineStore& m_store;
    NewsService& m_news;
    Speaker& m_speaker;
    const Clock& m_clock;

    AnnouncerState m_state;
    QList<NewsItem> m_lastItems;
    QString m_lastBriefing;
    std::optional<QString> m_lastError;

    RunId m_lastRun = 0;
    // The runs that have not ended, oldest first.
    QMap<RunId, Run> m_runs;
    // The run whose text the speaker holds, if any.
    RunId m_speechOwner = 0;
    // The run whose parts are being read, also in the moment between two parts.
    RunId m_readingRun = 0;
    // The parts of the last briefing composed here, for a replay told story by story too.
    QList<BriefingPart> m_lastParts;
    // How the last briefing composed here told m_lastItems (GatherResult::groupSizes).
    QList<qsizetype> m_lastGroupSizes;
    KnownExploitedSource m_knownExploited;
    KnownExploitedUpdate m_updateKnownExploited;
    // What the last briefing run could not do, shown as failed once no run is live.
    std::optional<QString> m_failure;
    // The store as it was before the newest briefing run recorded, for takeBack().
    RunId m_recordedRun = 0;
    StoredState m_beforeRecord;
};

} // namespace vardelle
