#include "shell/LibraryRequests.h"

#include "instance/InstanceProtocol.h"
#include "linux/instance/InstanceRequest.h"

#include <QPointer>

namespace vardelle {

LibraryRequests::LibraryRequests(Library& library, QObject* parent)
    : QObject(parent)
    , m_library(library)
{
}

bool LibraryRequests::serves(const QString& command)
{
    return command == instance::feedsCommand || command == instance::watchCommand ||
           command == instance::feedsImportCommand;
}

void LibraryRequests::answer(InstanceRequest* request, QFuture<CommandOutput> output)
{
    // The client may go away while an address is fetched; the command still ends and stores
    // what it did.
    QPointer<InstanceRequest> open(request);
    output.then(this, [open](const CommandOutput& output) {
        if (open)
            open->finish({{instance::statusKey, output.status},
                          {instance::outKey, output.out},
                          {instance::errKey, output.err}});
    });
}

void LibraryRequests::serve(InstanceRequest* request)
{
    QString error;
    const std::optional<LibraryRequest> parsed =
        libraryRequestFromMessage(request->message(), error);
    if (!parsed) {
        request->finish(instance::errorAnswer(error));
        return;
    }
    answer(request, m_library.perform(*parsed));
}

} // namespace vardelle
