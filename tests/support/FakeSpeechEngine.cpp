#include "support/FakeSpeechEngine.h"

namespace vardelle::test {

FakeSpeechEngine::FakeSpeechEngine(QObject* parent)
    : SpeechEngine(parent)
{
}

SpeechEngine::UtteranceId FakeSpeechEngine::speak(const QString& text,
                                                  const QString& voiceIdentifier, float rate)
{
    const UtteranceId id = lastId() + 1;
    m_spoken.append({id, text, voiceIdentifier, rate});
    return id;
}

std::optional<SpeechVoice> FakeSpeechEngine::voiceForLanguage(const QString& language) const
{
    if (m_languageVoice)
        return *m_languageVoice;
    return SpeechEngine::voiceForLanguage(language);
}

} // namespace vardelle::test
