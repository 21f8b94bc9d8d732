#include "speech/SpeechEngine.h"

namespace vardelle {

SpeechEngine::SpeechEngine(QObject* parent)
    : QObject(parent)
{
}

SpeechEngine::~SpeechEngine() = default;

std::optional<SpeechVoice> SpeechEngine::voiceForLanguage(const QString& language) const
{
    for (const SpeechVoice& voice : m_voices) {
        if (voice.language.compare(language, Qt::CaseInsensitive) == 0)
            return voice;
    }
    return std::nullopt;
}

void SpeechEngine::setVoices(const QList<SpeechVoice>& voices)
{
    m_voices = voices;
    m_voicesLoaded = true;
    emit voicesChanged();
}

} // namespace vardelle
