#include "shell/LibraryRequests.h"

#include "instance/InstanceProtocol.h"
#include "library/LibraryCommands.h"
#include "linux/instance/InstanceRequest.h"

#include <QJsonArray>
#include <QPointer>

namespace vardelle {

LibraryRequests::LibraryRequests(LibraryCommands& commands, QObject* parent)
    : QObject(parent)
    , m_commands(commands)
{
}

bool LibraryRequests::serves(const QString& command)
{
    return command == instance::feedsCommand || command == instance::watchCommand;
}

void LibraryRequests::serve(InstanceRequest* request)
{
    const QJsonObject message = request->message();
    const QJsonValue arguments = message.value(instance::argumentsKey);
    const QJsonValue directory = message.value(instance::directoryKey);
    QStringList list;
    bool wellFormed = (arguments.isArray() || arguments.isUndefined()) &&
                      (directory.isString() || directory.isUndefined());
    for (const QJsonValue& argument : arguments.toArray()) {
        wellFormed = wellFormed && argument.isString();
        list.append(argument.toString());
    }
    if (!wellFormed) {
        request->finish(instance::errorAnswer(
            QStringLiteral("\"arguments\" is a list of texts and \"directory\" a text")));
        return;
    }
    // The client may go away while an address is fetched; the command still ends and stores
    // what it did.
    QPointer<InstanceRequest> open(request);
    m_commands.run(request->command(), list, directory.toString())
        .then(this, [open](const CommandOutput& output) {
            if (open)
                open->finish({{instance::statusKey, output.status},
                              {instance::outKey, output.out},
                              {instance::errKey, output.err}});
        });
}

} // namespace vardelle
