#include "cli/Cli.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace vardelle::cli {

namespace {

struct Command {
    const char* name;
    const char* summary;
    int (*run)(const QStringList& arguments);
};

constexpr Command commands[] = {
    {"parse", "Print the stories of a saved feed document as JSON.", parseCommand},
    {"clean", "Print text as it would be spoken.", cleanCommand},
    {"brief", "Gather, print and speak a briefing of the new headlines.", briefCommand},
    {"voices", "List the English voices of the speech service.", voicesCommand},
    {"feeds", "List, add, remove, switch, import and export feeds.", feedsCommand},
    {"watch", "List, add and remove the terms of your watch list.", watchCommand},
};

QString commandList()
{
    QString text = QStringLiteral("Commands:\n");
    for (const Command& command : commands)
        text += QStringLiteral("  %1  %2\n")
                    .arg(QLatin1String(command.name), -6)
                    .arg(QLatin1String(command.summary));
    return text;
}

} // namespace

int run(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Vardelle reads the day's security headlines aloud. With no command it "
                       "starts in the tray with its bubble; a second start opens the settings "
                       "window of the one already running.\n\n") +
        commandList() +
        QStringLiteral("\nRun 'vardelle COMMAND --help' for a command's own options."));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("The command to run."),
                                 QStringLiteral("[command]"));
    parser.addPositionalArgument(QStringLiteral("arguments"),
                                 QStringLiteral("The command's arguments."),
                                 QStringLiteral("[arguments...]"));
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "vardelle: %s\n", qPrintable(parser.errorText()));
        return UsageError;
    }
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(Success);

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        parser.showHelp(Success);

    const QString name = positional.first();
    for (const Command& command : commands) {
        if (name == QLatin1String(command.name)) {
            // The command sees its own name as the program, then its arguments.
            QStringList rest = positional.mid(1);
            rest.prepend(arguments.first() + u' ' + name);
            return command.run(rest);
        }
    }
    std::fprintf(stderr, "vardelle: unknown command '%s'\n%s", qPrintable(name),
                 qPrintable(commandList()));
    return UsageError;
}

} // namespace vardelle::cli
