#pragma once

#include "speech/SpeechVoice.h"

#include <QList>
#include <QString>

namespace vardelle {

// Where to find speech-dispatcher.
struct SpeechDispatcherAddress {
    // The server's Unix socket; empty: libspeechd's default (SPEECHD_ADDRESS, else the user's
    // runtime folder).
    QString socketPath;
    // Start the server when it is not running.
    bool autospawn = true;
};

// The voice speech-dispatcher lists as `name` (with `language` and `variant`, "none" for none)
// for the output module `module`: identified as "module/name"; named for people, so
// "English (America)+Adam" reads "English (America), Adam"; with a BCP 47 language tag and the
// module's quality.
SpeechVoice dispatcherVoice(const QString& module, const QString& name, const QString& language,
                            const QString& variant);

// Neural output modules are premium, other natural-sounding ones enhanced, formant synthesizers
// such as espeak-ng the default level.
SpeechVoiceQuality dispatcherModuleQuality(const QString& module);

// speech-dispatcher's lower-case language codes ("en-us", "en-gb-x-rp") in BCP 47's usual case
// ("en-US", "en-GB-x-rp").
QString dispatcherLanguageTag(const QString& code);

// Every voice of every output module, in the server's order. Blocks for seconds with espeak-ng's
// thousands of voices: never call it on the main thread. On failure returns what it has and says
// why in `error`.
QList<SpeechVoice> listDispatcherVoices(const SpeechDispatcherAddress& address, QString* error);

} // namespace vardelle
