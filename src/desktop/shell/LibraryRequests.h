#pragma once

#include "library/LibraryCommands.h"

#include <QFuture>
#include <QObject>

namespace vardelle {

class InstanceRequest;

// Serves the "feeds", "feeds-import" and "watch" requests of `vardelle feeds ...` and `vardelle
// watch ...` in a terminal: runs the command here, against the desktop's own preferences, so that
// its windows show the change at once. Files named in those commands are the terminal's to read
// and write; a request that would have this process open one is refused. Answers with the command's
// exit status and output in one line. Main thread only.
class LibraryRequests : public QObject {
    Q_OBJECT

public:
    explicit LibraryRequests(LibraryCommands& commands, QObject* parent = nullptr);

    // Whether `command` is one of these requests.
    static bool serves(const QString& command);
    void serve(InstanceRequest* request);

private:
    void answer(InstanceRequest* request, QFuture<CommandOutput> output);

    LibraryCommands& m_commands;
};

} // namespace vardelle
