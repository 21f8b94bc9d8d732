#include "cli/Cli.h"

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
    "       vardelle feeds import FILE [--category C]\n"
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
    "import  adds the feeds of an OPML file that are not there yet; each entry skipped is\n"
    "        named on standard error, and the status is then 1\n"
    "export  writes every feed as OPML 2.0 to FILE, or to standard output\n"
    "\n"
    "At most 200 own feeds. Exit status: 0 done, 1 refused, 2 usage error or a file that\n"
    "cannot be read or is not OPML.\n";

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

// The command in this process, for a user with no desktop instance running.
int runHere(const QString& command, const QStringList& arguments)
{
    const Clock& clock = Clock::system();
    HeadlineStore store(HeadlineStore::defaultFilePath(), clock);
    AppSettings settings(PreferenceFile::defaultPath());
    NewsService news(store, clock);
    LibraryCommands library(settings, news);

    QFutureWatcher<CommandOutput> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(library.run(command, arguments, QDir::currentPath()));
    if (!watcher.isFinished())
        loop.exec();
    return report(command, watcher.result());
}

// The command through the desktop instance. No value when none took it (it has gone, or it is a
// terminal briefing that serves no requests).
std::optional<int> runThere(const QString& folder, const QString& command,
                            const QStringList& arguments)
{
    const InstanceClient::Reply reply = InstanceClient::request(
        folder, {{instance::commandKey, command},
                 {instance::argumentsKey, QJsonArray::fromStringList(arguments)},
                 {instance::directoryKey, QDir::currentPath()}});
    switch (reply.outcome) {
    case InstanceClient::Outcome::notRunning:
    case InstanceClient::Outcome::closed:
        return std::nullopt;
    case InstanceClient::Outcome::notAnswering:
        write(stderr, u"vardelle "_qs + command + u": "_qs + reply.error + u'\n');
        return Failure;
    case InstanceClient::Outcome::answered:
        break;
    }
    for (const QJsonObject& line : reply.lines) {
        if (line.contains(instance::statusKey)) {
            return report(command, {line.value(instance::statusKey).toInt(Failure),
                                    line.value(instance::outKey).toString(),
                                    line.value(instance::errKey).toString()});
        }
        if (line.value(instance::busyKey).toBool())
            return std::nullopt;
        if (line.contains(instance::errorKey)) {
            write(stderr, u"vardelle "_qs + command + u": "_qs +
                              line.value(instance::errorKey).toString() + u'\n');
            return Failure;
        }
    }
    write(stderr, u"vardelle "_qs + command + u": Vardelle ended the request early\n"_qs);
    return Failure;
}

int libraryCommand(const QString& command, const char* help, const QStringList& arguments)
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

    SingleInstance instance;
    // A few passes only when a desktop instance stops just as this command starts.
    for (int pass = 0; pass < 5; ++pass) {
        if (instance.claim() || !instance.errorString().isEmpty()) {
            // A desktop or briefing started meanwhile waits for the lock; another feeds or watch
            // command is refused, so that one process at a time writes the preferences.
            QObject::connect(&instance, &SingleInstance::requested, [](InstanceRequest* request) {
                const QString command = request->command();
                const bool editing =
                    command == instance::feedsCommand || command == instance::watchCommand;
                request->finish({{instance::errorKey, QStringLiteral("Vardelle is changing "
                                                                     "your feeds in a terminal")},
                                 {instance::busyKey, !editing}});
            });
            return runHere(command, rest);
        }
        if (const std::optional<int> status = runThere(instance.folder(), command, rest))
            return *status;
        // A terminal briefing holds the instance; it never writes the preferences, so the
        // command may do so itself.
        if (SingleInstance::isHeld(instance.folder()))
            return runHere(command, rest);
    }
    write(stderr,
          u"vardelle "_qs + command + u": cannot reach the running Vardelle; try again\n"_qs);
    return Failure;
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
