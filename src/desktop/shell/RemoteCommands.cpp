#include "shell/RemoteCommands.h"

#include "briefing/AppCoordinator.h"
#include "linux/instance/InstanceProtocol.h"
#include "linux/instance/InstanceRequest.h"
#include "shell/LibraryRequests.h"
#include "speech/Speaker.h"
#include "time/Clock.h"

#include <QFutureWatcher>

namespace vardelle {

namespace {

// One brief request from the moment it is taken until its speech has ended, also when its
// client has gone away before.
class BriefRun : public QObject {
public:
    BriefRun(InstanceRequest* request, AppCoordinator& coordinator, Speaker& speaker,
             QObject* parent)
        : QObject(parent)
        , m_request(request)
        , m_coordinator(coordinator)
        , m_speaker(speaker)
    {
        connect(&coordinator, &AppCoordinator::speaking, this, [this](const QString& text) {
            if (m_done)
                return;
            m_handedText = true;
            if (m_request)
                m_request->send({{instance::speakingKey, text}});
        });
        connect(&speaker, &Speaker::isSpeakingChanged, this, &BriefRun::check);
        connect(&m_handed, &QFutureWatcher<void>::finished, this, [this] {
            if (m_abandoned)
                stopSpeech();
            else
                check();
        });
        connect(request, &InstanceRequest::cancelled, this, &BriefRun::abandon);
    }

    void start(std::optional<Instant> since)
    {
        const QFuture<void> handed = m_coordinator.announce(AnnounceReason::manual, since);
        if (handed.isFinished() && !m_handedText) {
            // Dropped: the coordinator is already gathering for someone else.
            if (m_request)
                m_request->finish(instance::errorAnswer(
                    QStringLiteral("Vardelle is already gathering headlines; try again when it "
                                   "has finished")));
            deleteLater();
            return;
        }
        m_handed.setFuture(handed);
    }

private:
    void check()
    {
        if (m_done || m_abandoned || !m_handed.isFinished() || m_speaker.isSpeaking())
            return;
        m_done = true;
        if (m_request)
            m_request->finish({{instance::doneKey, true}});
        deleteLater();
    }

    // The client went away: stop what it started, as Ctrl+C did in the terminal. Speech that
    // has not begun yet is stopped the moment the briefing is handed over.
    void abandon()
    {
        m_request = nullptr;
        if (m_done || m_abandoned)
            return;
        m_abandoned = true;
        if (m_handed.isFinished())
            stopSpeech();
    }

    void stopSpeech()
    {
        if (m_done)
            return;
        m_done = true;
        if (m_handedText && m_speaker.isSpeaking())
            m_coordinator.stopSpeaking();
        deleteLater();
    }

    QPointer<InstanceRequest> m_request;
    AppCoordinator& m_coordinator;
    Speaker& m_speaker;
    QFutureWatcher<void> m_handed;
    bool m_handedText = false;
    bool m_abandoned = false;
    bool m_done = false;
};

} // namespace

RemoteCommands::RemoteCommands(AppCoordinator& coordinator, Speaker& speaker, const Clock& clock,
                               std::function<void()> showSettings, QObject* parent)
    : QObject(parent)
    , m_coordinator(coordinator)
    , m_speaker(speaker)
    , m_clock(clock)
    , m_showSettings(std::move(showSettings))
{
}

void RemoteCommands::serve(InstanceRequest* request)
{
    if (!request || !request->isOpen())
        return;
    const QString command = request->command();
    if (command == instance::showSettingsCommand) {
        if (m_showSettings)
            m_showSettings();
        request->finish({{instance::okKey, true}});
    } else if (command == instance::briefCommand) {
        brief(request);
    } else if (command == instance::stopCommand) {
        stop(request);
    } else if (m_library && LibraryRequests::serves(command)) {
        m_library->serve(request);
    } else {
        request->finish(instance::errorAnswer(QStringLiteral("unknown command")));
    }
}

void RemoteCommands::brief(InstanceRequest* request)
{
    const QJsonValue today = request->message().value(instance::todayKey);
    if (!today.isUndefined() && !today.isBool()) {
        request->finish(instance::errorAnswer(QStringLiteral("\"today\" is true or false")));
        return;
    }
    auto* run = new BriefRun(request, m_coordinator, m_speaker, this);
    run->start(today.toBool() ? std::optional(startOfLocalDay(m_clock.now())) : std::nullopt);
}

void RemoteCommands::stop(InstanceRequest* request)
{
    m_coordinator.stopSpeaking();
    request->finish({{instance::okKey, true}});
}

} // namespace vardelle
