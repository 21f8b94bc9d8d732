#include "cli/LibraryCommand.h"

#include "cli/Cli.h"

#include "files/UserFile.h"
#include "instance/InstanceProtocol.h"
#include "linux/instance/InstanceClient.h"
#include "linux/instance/InstanceHandover.h"
#include "linux/instance/SingleInstance.h"
#include "news/NewsService.h"
#include "settings/AppSettings.h"
#include "store/HeadlineStore.h"
#include "time/Clock.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QHash>

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

CommandOutput usage(const QString& reason)
{
    return {UsageError, {}, reason + u'\n'};
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

// Positional arguments and the values of the options named in `valueOptions` ("--name X" or
// "--name=X"); none, with `error` set, on an unknown option or a missing value.
struct Arguments {
    QStringList positional;
    QHash<QString, QString> options;
};

std::optional<Arguments> splitArguments(const QStringList& arguments,
                                        const QStringList& valueOptions, QString& error)
{
    Arguments split;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || !argument.startsWith(u"--") || argument.size() == 2) {
            if (argument == u"--" && !optionsEnded) {
                optionsEnded = true;
                continue;
            }
            split.positional.append(argument);
            continue;
        }
        const qsizetype equals = argument.indexOf(u'=');
        const QString name = argument.mid(2, equals < 0 ? -1 : equals - 2);
        if (!valueOptions.contains(name)) {
            error = u"unknown option "_qs + argument;
            return std::nullopt;
        }
        if (equals >= 0) {
            split.options.insert(name, argument.mid(equals + 1));
        } else if (i + 1 < arguments.size()) {
            split.options.insert(name, arguments[++i]);
        } else {
            error = u"--"_qs + name + u" needs a value"_qs;
            return std::nullopt;
        }
    }
    return split;
}

// The words of `feeds add` or `feeds import`, one positional argument and the options named;
// the --category option: none when not given.
std::optional<Arguments> optionsAndOne(const QStringList& arguments, const QStringList& options,
                                       std::optional<NewsCategory>& category, QString& error,
                                       const QString& wantsOne)
{
    std::optional<Arguments> split = splitArguments(arguments, options, error);
    if (!split)
        return std::nullopt;
    const auto it = split->options.constFind(u"category"_qs);
    if (it != split->options.cend()) {
        category = newsCategoryFromIdentifier(*it);
        if (!category) {
            error = u"--category is one of cybersecurity, threatIntel, malware, not "_qs + *it;
            return std::nullopt;
        }
    }
    if (split->positional.size() != 1) {
        error = wantsOne;
        return std::nullopt;
    }
    return split;
}

std::variant<LibraryCommandLine, CommandOutput> parseFeeds(const QStringList& arguments,
                                                           const QString& directory)
{
    using Action = LibraryRequest::Action;
    const QString action = arguments.value(0, u"list"_qs);
    const QStringList rest = arguments.mid(1);
    LibraryCommandLine command;
    LibraryRequest& request = command.request;
    if (action == u"list") {
        if (!rest.isEmpty())
            return usage(QStringLiteral("feeds list takes no arguments"));
        request.action = Action::listFeeds;
    } else if (action == u"add") {
        QString error;
        std::optional<NewsCategory> category;
        const std::optional<Arguments> split =
            optionsAndOne(rest, {u"name"_qs, u"category"_qs}, category, error,
                          QStringLiteral("feeds add takes one address"));
        if (!split)
            return usage(error);
        request.action = Action::addFeed;
        request.subjects = split->positional;
        request.name = split->options.value(u"name"_qs);
        request.category = category.value_or(NewsCategory::cybersecurity);
    } else if (action == u"remove") {
        if (rest.size() != 1)
            return usage(QStringLiteral("feeds remove takes one ID or address"));
        request.action = Action::removeFeed;
        request.subjects = rest;
    } else if (action == u"on" || action == u"off") {
        if (rest.isEmpty())
            return usage(u"feeds "_qs + action + u" takes one or more feed ids"_qs);
        request.action = Action::switchFeeds;
        request.subjects = rest;
        request.on = action == u"on";
    } else if (action == u"import") {
        QString error;
        std::optional<NewsCategory> category;
        const std::optional<Arguments> split = optionsAndOne(
            rest, {u"category"_qs}, category, error, QStringLiteral("feeds import takes one file"));
        if (!split)
            return usage(error);
        auto read = Library::readImport(split->positional.first(), directory, category);
        if (const auto* refusal = std::get_if<LibraryRefusal>(&read))
            return Library::output(*refusal);
        request.action = Action::importFeeds;
        request.import = std::move(std::get<ImportRequest>(read));
        // The feeds go to a running desktop in one line of the protocol.
        if (instance::encodeLine(libraryMessage(request)).size() >
            InstanceRequest::Limits{}.maxLineBytes)
            return Library::output(
                LibraryRefusal{LibraryRefusal::Reason::entriesTooLong, request.import->from, {}});
    } else if (action == u"export") {
        if (rest.size() > 1)
            return usage(QStringLiteral("feeds export takes at most one file"));
        request.action = Action::exportFeeds;
        if (!rest.isEmpty())
            command.exportFile = rest.first();
    } else {
        return usage(u"unknown feeds command "_qs + action);
    }
    return command;
}

std::variant<LibraryCommandLine, CommandOutput> parseWatch(const QStringList& arguments)
{
    using Action = LibraryRequest::Action;
    const QString action = arguments.value(0, u"list"_qs);
    const QStringList terms = arguments.mid(1);
    LibraryCommandLine command;
    command.request.subjects = terms;
    if (action == u"list") {
        if (!terms.isEmpty())
            return usage(QStringLiteral("watch list takes no arguments"));
        command.request.action = Action::listTerms;
    } else if (action == u"add" || action == u"remove") {
        if (terms.isEmpty())
            return usage(u"watch "_qs + action + u" takes one or more terms"_qs);
        command.request.action = action == u"add" ? Action::addTerms : Action::removeTerms;
    } else {
        return usage(u"unknown watch command "_qs + action);
    }
    return command;
}

// An export's document written to its file by this process: nothing printed.
CommandOutput writeExport(const LibraryCommandLine& command, CommandOutput output)
{
    if (!command.exportFile || output.status != Success)
        return output;
    const QString path = QDir::current().absoluteFilePath(*command.exportFile);
    if (const std::optional<QString> error = writeUserFile(path, output.out.toUtf8()))
        return Library::output(
            LibraryRefusal{LibraryRefusal::Reason::unwritableFile, path, *error});
    output.out.clear();
    return output;
}

// The command in this process, against the preference file itself.
CommandOutput runHere(const LibraryCommandLine& command)
{
    const Clock& clock = Clock::system();
    HeadlineStore store(HeadlineStore::defaultFilePath(), clock);
    AppSettings settings(PreferenceFile::defaultPath());
    NewsService news(store, clock);
    Library library(settings, news);
    return runLibraryCommand(library, command, QDir::currentPath());
}

// The command through the desktop instance. No value when none took it: none runs, or what holds
// the instance is another terminal command that serves no requests, or it went away before it
// read the request.
std::optional<CommandOutput> runThere(const QString& folder, const LibraryCommandLine& command)
{
    const InstanceClient::Reply reply =
        InstanceClient::request(folder, libraryMessage(command.request));
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
        if (line.contains(instance::statusKey))
            return writeExport(command, {line.value(instance::statusKey).toInt(Failure),
                                         line.value(instance::outKey).toString(),
                                         line.value(instance::errKey).toString()});
        if (line.value(instance::busyKey).toBool())
            return std::nullopt;
        if (line.contains(instance::errorKey))
            return CommandOutput{Failure, {}, line.value(instance::errorKey).toString()};
    }
    return CommandOutput{Failure, {}, QStringLiteral("Vardelle ended the request early")};
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
    auto parsed = parseLibraryCommand(name, rest, QDir::currentPath());
    if (const auto* refusal = std::get_if<CommandOutput>(&parsed))
        return report(name, *refusal);
    const LibraryCommandLine& command = std::get<LibraryCommandLine>(parsed);

    // Every change to the preference file is made under its own lock, in whichever process
    // runs it, so the command may always run here; it goes to a running desktop so that the
    // desktop's windows show the change at once. While this command holds the instance, a
    // desktop started meanwhile waits for it, and other terminal commands run in their own
    // processes.
    SingleInstance instance;
    InstanceHandover change;
    change.here = [&] { return report(name, runHere(command)); };
    change.there = [&]() -> std::optional<int> {
        if (const std::optional<CommandOutput> output = runThere(instance.folder(), command))
            return report(name, *output);
        return std::nullopt;
    };
    change.whenDeclined = InstanceHandover::WhenDeclined::runHere;
    change.busyMessage = QStringLiteral("Vardelle is changing your feeds in a terminal");
    return takeInstanceOrHandOver(instance, change);
}

} // namespace

std::variant<LibraryCommandLine, CommandOutput>
parseLibraryCommand(const QString& command, const QStringList& arguments, const QString& directory)
{
    if (command == instance::feedsCommand)
        return parseFeeds(arguments, directory);
    return parseWatch(arguments);
}

CommandOutput runLibraryCommand(Library& library, const LibraryCommandLine& command,
                                const QString& directory)
{
    if (command.exportFile) {
        const std::optional<LibraryRefusal> refusal =
            library.exportTo(*command.exportFile, directory);
        return refusal ? Library::output(*refusal) : CommandOutput{};
    }
    return await(library.perform(command.request));
}

int feedsCommand(const QStringList& arguments)
{
    return libraryCommand(instance::feedsCommand, feedsHelp, arguments);
}

int watchCommand(const QStringList& arguments)
{
    return libraryCommand(instance::watchCommand, watchHelp, arguments);
}

} // namespace vardelle::cli
