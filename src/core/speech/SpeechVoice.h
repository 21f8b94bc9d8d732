#pragma once

#include <QString>

namespace vardelle {

// How natural a voice sounds; the levels order as Default < Enhanced < Premium.
enum class SpeechVoiceQuality { Default = 0, Enhanced = 1, Premium = 2 };

// One installed voice as the speech engine describes it.
struct SpeechVoice {
    QString identifier; // names this voice among all installed ones, stable across runs
    QString name;       // for people to read
    QString language;   // BCP 47, such as "en-GB"
    SpeechVoiceQuality quality = SpeechVoiceQuality::Default;

    friend bool operator==(const SpeechVoice&, const SpeechVoice&) = default;
};

} // namespace vardelle
