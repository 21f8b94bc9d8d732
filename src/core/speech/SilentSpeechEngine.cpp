#include "speech/SilentSpeechEngine.h"

#include <QMetaObject>

namespace vardelle {

SilentSpeechEngine::SilentSpeechEngine(QObject* parent)
    : SpeechEngine(parent)
{
}

SpeechEngine::UtteranceId SilentSpeechEngine::speak(const QString&, const QString&, float)
{
    const UtteranceId utterance = ++m_lastUtterance;
    QMetaObject::invokeMethod(
        this,
        [this, utterance] {
            emit unavailable(QStringLiteral("no speech engine is installed"));
            emit finished(utterance);
        },
        Qt::QueuedConnection);
    return utterance;
}

void SilentSpeechEngine::loadVoices()
{
    if (!voicesLoaded())
        QMetaObject::invokeMethod(
            this, [this] { setVoices({}); }, Qt::QueuedConnection);
}

} // namespace vardelle
