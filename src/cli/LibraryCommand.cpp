#include "cli/Cli.h"

#include "files/UserFile.h"
#include "instance/InstanceProtocol.h"
#include "library/LibraryCommands.h"
#include "linux/instance/InstanceClient.h"
#include "linux/instance/SingleInstance.h"
#include "news/NewsService.h"
#include "settings/AppSettings.h"
#include "store/HeadlineStore.h"
#include "time/Clock.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QJsonArray>

#include <cstdio>

namespace vardelle::cli {

namespace {

const char feedsHelp[] =
    "Usage: vardelle feeds [list]\n"
    "       vardelle feeds add URL [--name NAME] [--category cybersecurity|threatIntel|malware]\n"
    "       vardelle feeds remove ID|URL\n"
    "       vardelle feeds on|off ID...\n"
    "       vardelle feeds import FILE|- [--category C]\n"
    "       vardelle feeds export [FILE]\n"
    "\n"
    "Lists, adds and removes your own feeds, and switches any feed on or off.\n"
    "\n"
    "list    one feed a line, tab-separated: id, name, category, on or off, address;\n"
    "        the twenty catalogue feeds first, then your own\n"
    "add     fetches the RSS or Atom address once and adds it, named by --name or by the\n"
    "        feed's own title, in --category (cybersecurity when not given); an address\n"
    "        that cannot be reached, answers with an HTTP error, is not a feed, has no\n"
    "        stories or is already there is refused with the reason\n"
    "remove  removes one of your own feeds; catalogue feeds can only be switched off\n"
    "on|off  switches feeds, catalogue or own, by id\n"
    "import  adds the feeds of an OPML file (a regular file of at most 16 MiB, or - for\n"
    "        standard input) that are not there yet; each entry skipped is named on\n"
    "        standard error, and the status is then 1; feeds already there are counted\n"
    "        in one line and are no failure\n"
    "export  writes every feed as OPML 2.0 to FILE, or to standard output; a file is\n"
    "        replaced in one step, a link written through, a pipe or device written into\n"
    "\n"
    "At most 200 own feeds. Exit status: 0 done, 1 refused, 2 usage error or a file that\n"
    "cannot be read, is not OPML, or cannot be written (its folder is not made).\n";

const char watchHelp[] =
    "Usage: vardelle watch [list]\n"
    "       vardelle watch add TERM...\n"
    "       vardelle watch remove TERM...\n"
    "\n"
    "Your watch list: vendors, products, CVE ids. A story whose title or summary holds a\n"
    "term as whole words, ignoring case, comes first in the briefing, in a section of its\n"
    "own. A term is 1 to 100 characters; at most 200 terms. A command that would add a\n"
    "term already there or break a limit, or remove one that is not there, changes\n"
    "nothing. Exit status: 0 done, 1 refused, 2 usage error.\n";

void write(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

int report(const QString& command, const CommandOutput& output)
{
    write(stdout, output.out);
    for (const QString& line : output.err.split(u'\n', Qt::SkipEmptyParts))
        write(stderr, u"vardelle "_qs + command + u": "_qs + line + u'\n');
    return output.status;
}

// Waits for `future` while running the event loop.
CommandOutput await(const QFuture<CommandOutput>& future)
{
    QFutureWatcher<CommandOutput> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!watcher.isFinished())
        loop.exec();
    return watcher.result();
}

// A command as this process runs it: the words after the command, or an import's feeds read
// from its file here.
struct Command {
    QString name; // "feeds" or "watch"
    QStringList arguments;
    std::optional<LibraryCommands::ImportRequest> import;
    // For `feeds export FILE`: the file, written here with the document the command prints.
    std::optional<QString> exportFile;

    QJsonObject message() const
    {
        if (import)
            return LibraryCommands::importMessage(*import);
        return {{instance::commandKey, name},
                {instance::argumentsKey,
                 QJsonArray::fromStringList(exportFile ? QStringList{u"export"_qs} : arguments)},
                {instance::directoryKey, QDir::currentPath()}};
    }
};

// The command in this process, against the preference file itself.
CommandOutput runHere(const Command& command)
{
    const Clock& clock = Clock::system();
    HeadlineStore store(HeadlineStore::defaultFilePath(), clock);
    AppSettings settings(PreferenceFile::defaultPath());
    NewsService news(store, clock);
    LibraryCommands library(settings, news);
    if (command.import)
        return await(library.importFeeds(*command.import));
    if (command.exportFile)
        return library.exportTo(*command.exportFile, QDir::currentPath());
    return await(library.run(command.name, command.arguments, QDir::currentPath()));
}

// The command through the desktop instance. No value when none took it: none runs, or what holds
// the instance is another terminal command that serves no requests, or it went away before it
// read the request.
std::optional<CommandOutput> runThere(const QString& folder, const Command& command)
{
    const InstanceClient::Reply reply = InstanceClient::request(folder, command.message());
    switch (reply.outcome) {
    case InstanceClient::Outcome::notRunning:
    case InstanceClient::Outcome::closed:
        return std::nullopt;
    case InstanceClient::Outcome::notAnswering:
        return CommandOutput{Failure, {}, reply.error};
    case InstanceClient::Outcome::answered:
        break;
    }
    if (reply.lines.isEmpty())
        return std::nullopt;
    for (const QJsonObject& line : reply.lines) {
        if (line.contains(instance::statusKey)) {
            CommandOutput output{line.value(instance::statusKey).toInt(Failure),
                                 line.value(instance::outKey).toString(),
                                 line.value(instance::errKey).toString()};
            if (command.exportFile && output.status == Success) {
                const QString path = QDir::current().absoluteFilePath(*command.exportFile);
                if (const std::optional<QString> error = writeUserFile(path, output.out.toUtf8()))
                    return CommandOutput{UsageError, {}, path + u": "_qs + *error};
                output.out.clear();
            }
            return output;
        }
        if (line.value(instance::busyKey).toBool())
            return std::nullopt;
        if (line.contains(instance::errorKey))
            return CommandOutput{Failure, {}, line.value(instance::errorKey).toString()};
    }
    return CommandOutput{Failure, {}, QStringLiteral("Vardelle ended the request early")};
}

// The command as the user gave it, with an import's file read; none, with `refusal` set, when it
// cannot be.
std::optional<Command> prepare(const QString& name, const QStringList& arguments,
                               CommandOutput& refusal)
{
    Command command{name, arguments, std::nullopt, std::nullopt};
    if (name != instance::feedsCommand)
        return command;
    const QString action = arguments.value(0);
    if (action == u"import") {
        command.import =
            LibraryCommands::importRequest(arguments.mid(1), QDir::currentPath(), refusal);
        if (!command.import)
            return std::nullopt;
        if (instance::encodeLine(command.message()).size() >
            InstanceRequest::Limits{}.maxLineBytes) {
            refusal = {Failure,
                       {},
                       command.import->from + u": nothing imported: its entries "_qs
                                              u"are too long"_qs};
            return std::nullopt;
        }
    } else if (action == u"export" && arguments.size() == 2) {
        command.exportFile = arguments[1];
    }
    return command;
}

int libraryCommand(const QString& name, const char* help, const QStringList& arguments)
{
    const QStringList rest = arguments.mid(1);
    for (const QString& argument : rest) {
        if (argument == u"--")
            break;
        if (argument == u"-h" || argument == u"--help") {
            std::fputs(help, stdout);
            return Success;
        }
    }
    CommandOutput refusal;
    const std::optional<Command> command = prepare(name, rest, refusal);
    if (!command)
        return report(name, refusal);

    // Every change to the preference file is made under its own lock, in whichever process
    // runs it, so the command may always run here; it goes to a running desktop so that the
    // desktop's windows show the change at once. While this command holds the instance, a
    // desktop started meanwhile waits for it, and other terminal commands run in their own
    // processes.
    SingleInstance instance;
    for (int pass = 0; pass < 5; ++pass) {
        if (instance.claim() || !instance.errorString().isEmpty()) {
            QObject::connect(&instance, &SingleInstance::requested, [](InstanceRequest* request) {
                request->finish({{instance::errorKey,
                                  QStringLiteral("Vardelle is changing your feeds in a terminal")},
                                 {instance::busyKey, true}});
            });
            return report(name, runHere(*command));
        }
        if (const std::optional<CommandOutput> output = runThere(instance.folder(), *command))
            return report(name, *output);
        if (SingleInstance::isHeld(instance.folder()))
            return report(name, runHere(*command));
    }
    return report(name, runHere(*command));
}

} // namespace

int feedsCommand(const QStringList& arguments)
{
    return libraryCommand(instance::feedsCommand, feedsHelp, arguments);
}

int watchCommand(const QStringList& arguments)
{
    return libraryCommand(instance::watchCommand, watchHelp, arguments);
}

} // namespace vardelle::cli
