#include "cli/Cli.h"

#include "briefing/SpeechText.h"

#include <QCommandLineParser>
#include <QFile>

#include <cstdio>

namespace vardelle::cli {

int cleanCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Prints each TEXT as it would be spoken, one line each. With no TEXT, "
                       "cleans all of standard input as one text."));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("TEXT"), QStringLiteral("Texts to clean."),
                                 QStringLiteral("[TEXT...]"));
    parser.process(arguments);

    QStringList texts = parser.positionalArguments();
    if (texts.isEmpty()) {
        QFile input;
        if (!input.open(stdin, QIODevice::ReadOnly)) {
            std::fprintf(stderr, "vardelle clean: cannot read standard input\n");
            return Failure;
        }
        texts.append(QString::fromUtf8(input.readAll()));
    }
    for (const QString& text : texts) {
        const QByteArray line = cleanForSpeech(text).toUtf8() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    }
    return std::fflush(stdout) == 0 ? Success : Failure;
}

} // namespace vardelle::cli
