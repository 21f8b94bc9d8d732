#include "shell/RemoteCommands.h"

#include "briefing/AppCoordinator.h"
#include "instance/InstanceProtocol.h"
#include "linux/instance/InstanceRequest.h"
#include "shell/LibraryRequests.h"

namespace vardelle {

namespace {

// One brief request from the moment its run starts until the run has ended, also when its
// client has gone away before.
class BriefRun : public QObject {
public:
    BriefRun(InstanceRequest* request, AppCoordinator& coordinator, AppCoordinator::RunId run,
             QObject* parent)
        : QObject(parent)
        , m_request(request)
        , m_coordinator(coordinator)
        , m_run(run)
    {
        connect(&coordinator, &AppCoordinator::speaking, this,
                [this](AppCoordinator::RunId run, const QString& text) {
                    if (run == m_run && m_request)
                        m_request->send({{instance::speakingKey, text}});
                });
        connect(&coordinator, &AppCoordinator::runEnded, this,
                [this](AppCoordinator::RunId run, RunOutcome outcome) {
                    if (run != m_run)
                        return;
                    if (m_request)
                        m_request->finish({{instance::doneKey, true},
                                           {instance::outcomeKey, identifier(outcome)}});
                    deleteLater();
                });
        // The client went away (Ctrl+C): its run ends, as it did in the terminal; a run that
        // was still gathering records nothing.
        connect(request, &InstanceRequest::cancelled, this, [this] {
            m_request = nullptr;
            m_coordinator.stop(m_run);
        });
    }

private:
    QPointer<InstanceRequest> m_request;
    AppCoordinator& m_coordinator;
    const AppCoordinator::RunId m_run;
};

} // namespace

RemoteCommands::RemoteCommands(AppCoordinator& coordinator, std::function<void()> showSettings,
                               QObject* parent)
    : QObject(parent)
    , m_coordinator(coordinator)
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
    const QJsonValue speak = request->message().value(instance::speakKey);
    if ((!today.isUndefined() && !today.isBool()) || (!speak.isUndefined() && !speak.isBool())) {
        request->finish(
            instance::errorAnswer(QStringLiteral("\"today\" and \"speak\" are true or false")));
        return;
    }
    const AppCoordinator::RunId run = m_coordinator.announce(
        AnnounceReason::manual,
        today.toBool() ? AnnounceWindow::today : AnnounceWindow::sinceLastCheck, {},
        speak.toBool(true) ? BriefingDelivery::spoken : BriefingDelivery::textOnly);
    if (run == 0) {
        request->finish(instance::errorAnswer(QStringLiteral(
            "Vardelle is already gathering headlines; try again when it has finished")));
        return;
    }
    new BriefRun(request, m_coordinator, run, this);
}

void RemoteCommands::stop(InstanceRequest* request)
{
    m_coordinator.stop();
    request->finish({{instance::okKey, true}});
}

} // namespace vardelle
