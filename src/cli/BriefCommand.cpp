#include "cli/Cli.h"

#include "briefing/AppCoordinator.h"
#include "linux/SpeechDispatcherEngine.h"
#include "linux/UnixSignalWatcher.h"
#include "speech/SilentSpeechEngine.h"
#include "speech/Speaker.h"
#include "time/Clock.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFutureWatcher>

#include <csignal>
#include <cstdio>

namespace vardelle::cli {

int briefCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Gathers the new security headlines, prints the briefing as one line and "
                       "speaks it, exactly as a click on the orb does."));
    parser.addHelpOption();
    const QCommandLineOption today(QStringLiteral("today"),
                                   QStringLiteral("Everything from today, not only since the "
                                                  "last check."));
    const QCommandLineOption noSpeech(QStringLiteral("no-speech"),
                                      QStringLiteral("Print the briefing without speaking it."));
    parser.addOptions({today, noSpeech});
    parser.process(arguments);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "vardelle brief: takes no arguments\n");
        return UsageError;
    }

    if (parser.isSet(noSpeech))
        Speaker::setSharedEngine(std::make_unique<SilentSpeechEngine>());
    else
        Speaker::setSharedEngine(std::make_unique<SpeechDispatcherEngine>());
    Speaker& speaker = Speaker::shared();
    AppCoordinator& coordinator = AppCoordinator::shared();

    QObject::connect(&coordinator, &AppCoordinator::speaking, [](const QString& text) {
        const QByteArray line = text.toUtf8() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fflush(stdout);
    });

    // Ctrl+C stops speech at once.
    UnixSignalWatcher interrupts({SIGINT, SIGTERM});
    QObject::connect(&interrupts, &UnixSignalWatcher::received, [&speaker](int signal) {
        speaker.stop();
        QCoreApplication::exit(128 + signal);
    });

    const auto finishWhenSilent = [&speaker] {
        if (!speaker.isSpeaking())
            QCoreApplication::exit(Success);
    };
    QObject::connect(&speaker, &Speaker::isSpeakingChanged, finishWhenSilent);

    QFutureWatcher<void> handed;
    QObject::connect(&handed, &QFutureWatcher<void>::finished, finishWhenSilent);
    handed.setFuture(coordinator.announce(
        AnnounceReason::manual, parser.isSet(today)
                                    ? std::optional(startOfLocalDay(Clock::system().now()))
                                    : std::nullopt));
    return QCoreApplication::exec();
}

} // namespace vardelle::cli
