#include "cli/Cli.h"

#include "briefing/AppCoordinator.h"
#include "briefing/BriefingServices.h"
#include "instance/InstanceProtocol.h"
#include "linux/instance/InstanceClient.h"
#include "linux/instance/InstanceHandover.h"
#include "linux/instance/SingleInstance.h"
#include "linux/session/UnixSignalWatcher.h"
#include "linux/speech/SpeechDispatcherEngine.h"
#include "speech/SilentSpeechEngine.h"
#include "time/Clock.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFutureWatcher>

#include <csignal>
#include <cstdio>
#include <utility>

namespace vardelle::cli {

namespace {

void printLine(const QString& text)
{
    const QByteArray line = text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

// The exit status for a briefing run that ended this way.
int statusOf(RunOutcome outcome)
{
    return outcome == RunOutcome::unreachable ? Unreachable : Success;
}

// The briefing through this process's own coordinator, with the instance held.
int briefHere(bool today, bool speak)
{
    std::unique_ptr<SpeechEngine> engine;
    if (speak)
        engine = std::make_unique<SpeechDispatcherEngine>();
    else
        engine = std::make_unique<SilentSpeechEngine>();
    BriefingServices services(std::move(engine), Clock::system());
    AppCoordinator& coordinator = services.coordinator;

    // This process runs one briefing: every text is its own, and its end is the end, once the
    // feeds still being asked after the briefing's deadline have answered into the cache and
    // the catalogue of known exploited vulnerabilities has been brought up to date.
    QObject::connect(&coordinator, &AppCoordinator::speaking,
                     [](AppCoordinator::RunId, const QString& text) { printLine(text); });
    NewsService& news = services.news;
    KnownExploitedFeed& knownExploited = services.knownExploited;
    QObject::connect(&coordinator, &AppCoordinator::runEnded,
                     [&news, &knownExploited](AppCoordinator::RunId, RunOutcome outcome) {
                         const int status = statusOf(outcome);
                         const auto exitWhenSettled = [&news, &knownExploited, status] {
                             if (!news.hasLateAnswers() && !knownExploited.isUpdating())
                                 QCoreApplication::exit(status);
                         };
                         QObject::connect(&news, &NewsService::lateAnswersSettled, &news,
                                          exitWhenSettled);
                         if (knownExploited.isUpdating()) {
                             auto* watcher = new QFutureWatcher<void>(&knownExploited);
                             QObject::connect(watcher, &QFutureWatcherBase::finished,
                                              &knownExploited, exitWhenSettled);
                             watcher->setFuture(knownExploited.update());
                         }
                         exitWhenSettled();
                     });
    const AppCoordinator::RunId run = coordinator.announce(
        AnnounceReason::manual, today ? AnnounceWindow::today : AnnounceWindow::sinceLastCheck);

    // Ctrl+C ends the run at once: speech stops, and a run still gathering records nothing.
    UnixSignalWatcher interrupts({SIGINT, SIGTERM});
    QObject::connect(&interrupts, &UnixSignalWatcher::received, [&coordinator, run](int signal) {
        coordinator.stop(run);
        QCoreApplication::exit(128 + signal);
    });
    return QCoreApplication::exec();
}

// The briefing through the desktop instance that runs for this user. No value when it turned
// out to have gone in the meantime.
std::optional<int> briefThere(const QString& folder, bool today, bool speak)
{
    InstanceClient client(folder);
    QEventLoop loop;
    std::optional<int> status;
    bool ended = false;
    const auto exit = [&](std::optional<int> value) {
        if (std::exchange(ended, true))
            return;
        status = value;
        loop.quit();
    };

    QObject::connect(&client, &InstanceClient::line, [&](const QJsonObject& answer) {
        if (answer.contains(instance::speakingKey)) {
            printLine(answer.value(instance::speakingKey).toString());
        } else if (answer.value(instance::doneKey).toBool()) {
            const auto outcome =
                runOutcomeFromIdentifier(answer.value(instance::outcomeKey).toString());
            exit(outcome ? statusOf(*outcome) : Success);
        } else if (answer.contains(instance::errorKey)) {
            std::fprintf(stderr, "vardelle brief: %s\n",
                         qPrintable(answer.value(instance::errorKey).toString()));
            exit(Failure);
        }
    });
    QObject::connect(&client, &InstanceClient::finished,
                     [&](InstanceClient::Outcome outcome, const QString& error) {
                         switch (outcome) {
                         case InstanceClient::Outcome::notRunning:
                             exit(std::nullopt);
                             break;
                         case InstanceClient::Outcome::notAnswering:
                             std::fprintf(stderr, "vardelle brief: %s\n", qPrintable(error));
                             exit(Failure);
                             break;
                         case InstanceClient::Outcome::answered:
                             std::fprintf(stderr,
                                          "vardelle brief: Vardelle ended the briefing early\n");
                             exit(Failure);
                             break;
                         case InstanceClient::Outcome::closed:
                             break;
                         }
                     });

    // Ctrl+C drops the connection, which stops the desktop's speech for this briefing.
    UnixSignalWatcher interrupts({SIGINT, SIGTERM});
    QObject::connect(&interrupts, &UnixSignalWatcher::received,
                     [&](int signal) { exit(128 + signal); });

    QJsonObject request{{instance::commandKey, instance::briefCommand},
                        {instance::todayKey, today}};
    if (!speak)
        request.insert(instance::speakKey, false);
    client.send(request);
    loop.exec();
    client.close();
    return status;
}

} // namespace

int briefCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Gathers the new security headlines, prints the briefing as one line and speaks it, "
        "exactly as a click on the orb does.\n\nWhile the desktop app runs, it gives the "
        "briefing: this command asks it to and prints what it says; Ctrl+C stops it. Without "
        "the desktop app, this command briefs on its own, and a desktop app started "
        "meanwhile waits until it has finished.\n\nExit status: 0 when the briefing (or the "
        "word that nothing is new) has been spoken, 3 when not one feed could be reached, "
        "1 on other failures."));
    parser.addHelpOption();
    const QCommandLineOption today(QStringLiteral("today"),
                                   QStringLiteral("Everything from today, not only since the "
                                                  "last check."));
    const QCommandLineOption noSpeech(
        QStringLiteral("no-speech"),
        QStringLiteral("Print the briefing without speaking it. While the desktop app runs, it "
                       "gathers and records the briefing as for a click, and speaks nothing."));
    parser.addOptions({today, noSpeech});
    parser.process(arguments);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "vardelle brief: takes no arguments\n");
        return UsageError;
    }

    SingleInstance instance;
    InstanceHandover brief;
    brief.here = [&] { return briefHere(parser.isSet(today), !parser.isSet(noSpeech)); };
    brief.there = [&] {
        return briefThere(instance.folder(), parser.isSet(today), !parser.isSet(noSpeech));
    };
    // It keeps a desktop started meanwhile from writing the same state.json.
    brief.busyMessage = QStringLiteral("a briefing is running in a terminal");
    brief.giveUp = QStringLiteral("cannot reach the running Vardelle; try again");
    brief.program = QStringLiteral("vardelle brief");
    return takeInstanceOrHandOver(instance, brief);
}

} // namespace vardelle::cli
