#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

namespace vardelle {

class AppCoordinator;
class Clock;
class InstanceRequest;
class LibraryRequests;
class Speaker;

// Serves the requests that other `vardelle` processes send to the running desktop instance
// (SingleInstance::requested): "show-settings" from a second start, and "brief" and "stop" from
// `vardelle brief` in a terminal, which then runs through this instance's coordinator, so that
// only this process ever writes state.json.
//
// A brief answers each text the coordinator hands to the speaker as {"speaking":...} and ends
// with {"done":true} once it has been handed over and speech has ended, exactly as the terminal
// command did on its own. A client that goes away (Ctrl+C) stops the speech it started. Needs no
// display. Main thread only.
class RemoteCommands : public QObject {
    Q_OBJECT

public:
    RemoteCommands(AppCoordinator& coordinator, Speaker& speaker, const Clock& clock,
                   std::function<void()> showSettings, QObject* parent = nullptr);

    void serve(vardelle::InstanceRequest* request);
    // Hands the "feeds" and "watch" requests to `library` from now on; without it they are
    // refused as unknown.
    void serveLibraryWith(LibraryRequests* library) { m_library = library; }

private:
    void brief(InstanceRequest* request);
    void stop(InstanceRequest* request);

    AppCoordinator& m_coordinator;
    Speaker& m_speaker;
    const Clock& m_clock;
    std::function<void()> m_showSettings;
    QPointer<LibraryRequests> m_library;
};

} // namespace vardelle
