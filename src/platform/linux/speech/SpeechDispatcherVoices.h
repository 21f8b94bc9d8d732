#pragma once

#include "speech/SpeechVoice.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QList>
#include <QString>

#include <optional>

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

// A conversation in speech-dispatcher's protocol (SSIP) over a connected socket: each command a
// line, each reply lines of a three-digit code and "-" with one more reply line's text, ended by
// a line of the code and a space. Replies are read in blocks and bounded in size, lines and time
// (one deadline for the whole conversation); the server is another user's program as far as
// this side knows.
class SsipConversation {
public:
    static constexpr qsizetype maxReplyBytes = 16 * 1024 * 1024;
    static constexpr qsizetype maxReplyLines = 100'000;

    SsipConversation(int socket, QDeadlineTimer deadline);

    // Sends `command` and returns the texts of its reply's lines before the last; none when the
    // reply is a refusal (not 2xx), malformed, too long or late, or the connection fails
    // (error() says which).
    std::optional<QList<QByteArray>> ask(QByteArrayView command);
    // Every voice of every output module, in the server's order; a module the server refuses to
    // choose or list is passed over; a failure of the connection ends the list there. The output
    // module stays the last one listed.
    QList<SpeechVoice> listVoices();
    // Why the last command failed; empty when it did not.
    const QString& error() const { return m_error; }

private:
    bool waitFor(short events);
    bool send(QByteArrayView command);
    std::optional<QByteArray> readLine(qsizetype& replyBytes);

    int m_socket;
    QDeadlineTimer m_deadline;
    QByteArray m_buffer;
    qsizetype m_lineStart = 0; // where the next line starts in m_buffer
    qsizetype m_scanned = 0;   // up to where m_buffer holds no line end
    QString m_error;
    bool m_refused = false; // the last command was answered with a refusal
};

// Every voice of every output module, in the server's order. Blocks while the server starts and
// answers (at most voiceListTimeoutMs once connected): never call it on the main thread. On
// failure returns what it has and says why in `error`.
inline constexpr int voiceListTimeoutMs = 30000;
QList<SpeechVoice> listDispatcherVoices(const SpeechDispatcherAddress& address, QString* error);

} // namespace vardelle
