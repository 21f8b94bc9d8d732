#pragma once

#include "linux/speech/SpeechDispatcherVoices.h"

#include <QString>

#include <libspeechd.h>

namespace vardelle {

// Opens a libspeechd connection for `component` ("speech", "voices") in threaded or single
// mode, starting the server when the address allows; null, with the reason in `error`, when it
// cannot be reached or started. For the engine's own files only: it brings in libspeechd.
SPDConnection* openDispatcher(const SpeechDispatcherAddress& address, const char* component,
                              bool threaded, QString* error);

} // namespace vardelle
