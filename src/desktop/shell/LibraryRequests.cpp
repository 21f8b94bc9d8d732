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
    return command == instance::feedsCommand || command == instance::watchCommand ||
           command == instance::feedsImportCommand;
}

namespace {

// Files are read and written by the terminal that names them, never here: an import arrives as
// the feeds the file lists, an export leaves as the document.
bool namesFile(const QStringList& arguments)
{
    const QString action = arguments.value(0);
    return action == u"import" || (action == u"export" && arguments.size() > 1);
}

} // namespace

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
    const QJsonObject message = request->message();
    if (request->command() == instance::feedsImportCommand) {
        const std::optional<LibraryCommands::ImportRequest> import =
            LibraryCommands::importFromMessage(message);
        if (!import) {
            request->finish(instance::errorAnswer(QStringLiteral(
                "\"entries\" is a list of feeds with an address and a name, and \"from\" a text")));
            return;
        }
        answer(request, m_commands.importFeeds(*import));
        return;
    }
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
    if (request->command() == instance::feedsCommand && namesFile(list)) {
        request->finish(instance::errorAnswer(
            QStringLiteral("the terminal reads and writes the files of feeds import and export")));
        return;
    }
    answer(request, m_commands.run(request->command(), list, directory.toString()));
}

} // namespace vardelle
