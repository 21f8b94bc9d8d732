#pragma once

#include "briefing/AppCoordinator.h"
#include "news/NewsService.h"
#include "settings/AppSettings.h"
#include "speech/Speaker.h"
#include "store/HeadlineStore.h"
#include "support/FakeSpeechEngine.h"
#include "support/FeedMirror.h"
#include "support/ManualClock.h"

#include <QList>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <utility>

namespace vardelle::test {

// The coordinator, with the state it shows settable, for tests of the views that follow it.
class StateCoordinator : public AppCoordinator {
public:
    using AppCoordinator::AppCoordinator;
    using AppCoordinator::setState;
};

// The coordinator over real settings, store and gathering service in a temporary folder, the
// feeds served from a file mirror there, and a speaker whose engine only records. The objects
// are made by start(), so that a test can first prepare the folder, the preferences or the
// stored state they read at construction; the constructor starts at once unless told not to.
struct CoordinatorRig {
    enum class Start { now, later };
    using RunId = AppCoordinator::RunId;

    explicit CoordinatorRig(Instant now, Start start = Start::now);
    ~CoordinatorRig();

    QTemporaryDir dir;
    FeedMirror mirror{dir.filePath(QStringLiteral("feeds"))};
    ManualClock clock;
    FakeSpeechEngine* engine = new FakeSpeechEngine;
    Speaker speaker{std::unique_ptr<SpeechEngine>(engine)};
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<HeadlineStore> store;
    std::unique_ptr<NewsService> news;
    std::unique_ptr<StateCoordinator> coordinator;
    // Every state the coordinator published, and every run that ended, in order.
    QList<AnnouncerState> states;
    QList<std::pair<RunId, RunOutcome>> ended;
    // Every text the coordinator told it speaks: a run's whole text (a briefing's parts
    // together), in order.
    QStringList told;

    QString preferencePath() const { return dir.filePath(QStringLiteral("preferences.json")); }
    QString statePath() const { return dir.filePath(QStringLiteral("state.json")); }

    // The settings and the store, each made on first use, so that a test can prepare what the
    // coordinator reads when it is made.
    AppSettings& makeSettings();
    HeadlineStore& makeStore();
    // Makes the settings, the store, the gathering service and the coordinator, each unless it
    // was made before.
    AppCoordinator& start();

    void serve(const QString& feedId, const QList<MirrorStory>& stories) const
    {
        mirror.serve(feedId, stories);
    }
    // Runs one request until it has gathered (or at once when it is dropped); its id.
    RunId announce(AnnounceReason reason, AnnounceWindow window = AnnounceWindow::sinceLastCheck);
    // What the coordinator has had spoken, oldest first: one text for each run's speech, a
    // briefing's parts together (`told`).
    QStringList spoken() const { return told; }
    // The engine reports the end of what it is saying, and of each part of the same briefing
    // that follows; the coordinator follows on the event loop.
    void finishSpeaking();
    // How `run` ended, once it has.
    std::optional<RunOutcome> outcomeOf(RunId run) const;
};

} // namespace vardelle::test
