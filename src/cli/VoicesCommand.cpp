#include "cli/Cli.h"

#include "linux/speech/SpeechDispatcherEngine.h"
#include "speech/Speaker.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace vardelle::cli {

namespace {

const char* qualityName(SpeechVoiceQuality quality)
{
    switch (quality) {
    case SpeechVoiceQuality::Premium:
        return "premium";
    case SpeechVoiceQuality::Enhanced:
        return "enhanced";
    case SpeechVoiceQuality::Default:
        break;
    }
    return "default";
}

} // namespace

int voicesCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists the English voices of the speech service, best first: identifier, "
                       "name and quality, separated by tabs."));
    parser.addHelpOption();
    parser.process(arguments);

    Speaker speaker(std::make_unique<SpeechDispatcherEngine>());

    const auto print = [&speaker] {
        QByteArray out;
        for (const SpeechVoice& voice : speaker.englishVoices()) {
            out += voice.identifier.toUtf8() + '\t' + voice.name.toUtf8() + '\t' +
                   qualityName(voice.quality) + '\n';
        }
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
        QCoreApplication::exit(std::fflush(stdout) == 0 ? Success : Failure);
    };
    if (speaker.voicesLoaded()) {
        print();
        return Success;
    }
    QObject::connect(&speaker, &Speaker::voicesChanged, print);
    QObject::connect(&speaker.engine(), &SpeechEngine::unavailable,
                     [] { QCoreApplication::exit(Failure); });
    speaker.loadVoices();
    return QCoreApplication::exec();
}

} // namespace vardelle::cli
