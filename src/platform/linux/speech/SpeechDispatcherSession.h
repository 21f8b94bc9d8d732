#pragma once

#include "linux/speech/SpeechDispatcherVoices.h"

#include <QString>

#include <cstddef>
#include <functional>

namespace vardelle {

// One threaded libspeechd connection to speech-dispatcher. Every call blocks on the server and
// belongs on one worker thread; only the report callback runs elsewhere, on libspeechd's own
// thread.
class SpeechDispatcherSession {
public:
    // How a message ended: its id, and whether it was cancelled rather than spoken to the end.
    // Runs on libspeechd's thread; never after close() has returned.
    using Report = std::function<void(std::size_t message, bool cancelled)>;

    SpeechDispatcherSession(SpeechDispatcherAddress address, Report report);
    ~SpeechDispatcherSession();
    SpeechDispatcherSession(const SpeechDispatcherSession&) = delete;
    SpeechDispatcherSession& operator=(const SpeechDispatcherSession&) = delete;

    // Connects unless connected (starting the server when the address allows). False with the
    // reason in `error` when the server cannot be reached. `opened` tells whether this call made
    // a new connection.
    bool open(QString* error, bool* opened = nullptr);
    bool isOpen() const { return m_connection != nullptr; }

    // Queues `text` with the voice ("module/name", empty for the server's English default) and
    // the server's rate (-100..100); the message id, or -1 with the reason in `error`. A refusal
    // closes the connection, so that the next message connects afresh.
    int say(const QString& text, const QString& voiceIdentifier, int rate, QString* error);
    // Stops the message being spoken and drops the queued ones of this connection.
    void cancel();
    void close();

private:
    void selectVoice(const QString& voiceIdentifier);

    SpeechDispatcherAddress m_address;
    Report m_report;
    void* m_connection = nullptr; // SPDConnection*
    std::size_t m_client = 0;
    QString m_module;
    QString m_voice;
    bool m_languageSet = false;
    int m_rate = 0;
    bool m_rateSet = false;
};

} // namespace vardelle
