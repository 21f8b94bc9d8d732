#pragma once

#include <QObject>

namespace vardelle {

class InstanceRequest;
class LibraryCommands;

// Serves the "feeds" and "watch" requests of `vardelle feeds ...` and `vardelle watch ...` in a
// terminal: runs the command here, against the desktop's own preferences, so that its windows
// show the change at once and no other process writes the file. Answers with the command's exit
// status and output in one line. Main thread only.
class LibraryRequests : public QObject {
    Q_OBJECT

public:
    explicit LibraryRequests(LibraryCommands& commands, QObject* parent = nullptr);

    // Whether `command` is one of these requests.
    static bool serves(const QString& command);
    void serve(InstanceRequest* request);

private:
    LibraryCommands& m_commands;
};

} // namespace vardelle
