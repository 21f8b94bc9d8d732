#pragma once

#include "speech/SpeechEngine.h"

namespace vardelle {

// An engine with no voice: every utterance ends at once, unspoken. What the shared speaker uses
// when the program installed no platform engine.
class SilentSpeechEngine final : public SpeechEngine {
    Q_OBJECT

public:
    explicit SilentSpeechEngine(QObject* parent = nullptr);

    UtteranceId speak(const QString& text, const QString& voiceIdentifier, float rate) override;
    void stop() override {}
    void loadVoices() override;

private:
    UtteranceId m_lastUtterance = 0;
};

} // namespace vardelle
