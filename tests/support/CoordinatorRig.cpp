#include "support/CoordinatorRig.h"

#include <QCoreApplication>
#include <QTest>

namespace vardelle::test {

CoordinatorRig::CoordinatorRig(Instant now, Start start)
    : clock(now)
{
    if (start == Start::now)
        this->start();
}

CoordinatorRig::~CoordinatorRig() = default;

AppSettings& CoordinatorRig::makeSettings()
{
    if (!settings)
        settings = std::make_unique<AppSettings>(preferencePath());
    return *settings;
}

HeadlineStore& CoordinatorRig::makeStore()
{
    if (!store)
        store = std::make_unique<HeadlineStore>(statePath(), clock);
    return *store;
}

AppCoordinator& CoordinatorRig::start()
{
    makeSettings();
    makeStore();
    if (!news)
        news = std::make_unique<NewsService>(*store, clock);
    if (!coordinator) {
        coordinator = std::make_unique<StateCoordinator>(*settings, *store, *news, speaker, clock);
        QObject::connect(coordinator.get(), &AppCoordinator::stateChanged,
                         [this](const AnnouncerState& state) { states.append(state); });
        QObject::connect(coordinator.get(), &AppCoordinator::speaking,
                         [this](RunId, const QString& text) { told.append(text); });
        QObject::connect(coordinator.get(), &AppCoordinator::runEnded,
                         [this](RunId run, RunOutcome outcome) {
                             ended.append({run, outcome});
                         });
    }
    return *coordinator;
}

CoordinatorRig::RunId CoordinatorRig::announce(AnnounceReason reason, AnnounceWindow window)
{
    const RunId run = start().announce(reason, window);
    if (run != 0 && !QTest::qWaitFor([this] { return !coordinator->isGathering(); }, 10000))
        qWarning("the gather did not finish");
    return run;
}

void CoordinatorRig::finishSpeaking()
{
    // Each end reported brings, from the event loop, the next part of a briefing or the end of
    // its run; the next part is finished in turn.
    for (int part = 0; part < 10000; ++part) {
        const qsizetype handed = engine->spoken().size();
        const qsizetype runsEnded = ended.size();
        engine->finish(engine->lastId());
        const bool moved = QTest::qWaitFor(
            [&] { return engine->spoken().size() != handed || ended.size() != runsEnded; }, 1000);
        if (!moved || engine->spoken().size() == handed)
            return;
    }
}

std::optional<RunOutcome> CoordinatorRig::outcomeOf(RunId run) const
{
    for (const auto& [id, outcome] : ended) {
        if (id == run)
            return outcome;
    }
    return std::nullopt;
}

} // namespace vardelle::test
