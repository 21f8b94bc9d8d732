#pragma once

#include "library/Library.h"

#include <QFuture>
#include <QObject>

namespace vardelle {

class InstanceRequest;

// Serves the "feeds", "feeds-import" and "watch" requests of `vardelle feeds ...` and `vardelle
// watch ...` in a terminal: carries out the library request here, against the desktop's own
// preferences, so that its windows show the change at once. Files named in those commands are the
// terminal's to read and write: an import arrives as the feeds it lists, an export leaves as the
// document. Answers with the command's exit status and output in one line. Main thread only.
class LibraryRequests : public QObject {
    Q_OBJECT

public:
    explicit LibraryRequests(Library& library, QObject* parent = nullptr);

    // Whether `command` is one of these requests.
    static bool serves(const QString& command);
    void serve(InstanceRequest* request);

private:
    void answer(InstanceRequest* request, QFuture<CommandOutput> output);

    Library& m_library;
};

} // namespace vardelle
