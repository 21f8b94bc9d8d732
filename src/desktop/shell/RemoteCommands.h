#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

namespace vardelle {

class AppCoordinator;
class InstanceRequest;
class LibraryRequests;

// Serves the requests that other `vardelle` processes send to the running desktop instance
// (SingleInstance::requested): "show-settings" from a second start, and "brief" and "stop" from
// `vardelle brief` in a terminal, which then runs through this instance's coordinator, so that
// only this process ever writes state.json.
//
// A brief answers each text its run hands to the speaker as {"speaking":...} and ends with
// {"done":true,"outcome":...} once the run has ended, exactly as the terminal command does on
// its own. A client that goes away (Ctrl+C) ends the run it started: nothing more of it is
// spoken or recorded. Needs no display. Main thread only.
class RemoteCommands : public QObject {
    Q_OBJECT

public:
    RemoteCommands(AppCoordinator& coordinator, std::function<void()> showSettings,
                   QObject* parent = nullptr);

    void serve(vardelle::InstanceRequest* request);
    // Hands the "feeds" and "watch" requests to `library` from now on; without it they are
    // refused as unknown.
    void serveLibraryWith(LibraryRequests* library) { m_library = library; }

private:
    void brief(InstanceRequest* request);
    void stop(InstanceRequest* request);

    AppCoordinator& m_coordinator;
    std::function<void()> m_showSettings;
    QPointer<LibraryRequests> m_library;
};

} // namespace vardelle
