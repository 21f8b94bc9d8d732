#pragma once

#include "linux/speech/SpeechDispatcherVoices.h"
#include "speech/SpeechEngine.h"
#include "threads/TaskQueue.h"

#include <QFutureWatcher>
#include <QHash>
#include <QList>
#include <QString>

#include <cstddef>
#include <memory>

class QThread;

namespace vardelle {

class SpeechDispatcherSession;

// Speech through speech-dispatcher (libspeechd in threaded mode).
//
// Nothing here waits on the server on the main thread: connecting (which may start the server),
// speaking and cancelling run in order on a worker thread of this engine, and the voice list is
// gathered on the global thread pool over a connection of its own and kept. The server's end and
// cancel reports come on libspeechd's thread and are carried to the main thread with the id of
// the message they name.
//
// When the server cannot be reached or refuses a text, the utterance ends at once (finished())
// and the first such failure of the process is written to stderr, once.
class SpeechDispatcherEngine final : public SpeechEngine {
    Q_OBJECT

public:
    explicit SpeechDispatcherEngine(SpeechDispatcherAddress address = {},
                                    QObject* parent = nullptr);
    ~SpeechDispatcherEngine() override;

    UtteranceId speak(const QString& text, const QString& voiceIdentifier, float rate) override;
    void stop() override;
    void loadVoices() override;

    // Cuts off speech and closes the connection, waiting a few seconds at most for the server;
    // later utterances end at once, unspoken. Runs when the application is about to quit.
    void shutDown();

    // speech-dispatcher's rate (-100 slowest, 0 normal, 100 fastest) for a rate on the 0-to-1
    // scale with 0.5 as normal speed.
    static int dispatcherRate(float rate);

private:
    template <class Task> void onWorker(Task&& task);
    void connectionOpened();
    void messageQueued(UtteranceId utterance, std::size_t message);
    void messageRefused(UtteranceId utterance, const QString& reason);
    void messageReported(std::size_t message, bool cancelled);
    void report(UtteranceId utterance, bool cancelled);
    void voicesListed();
    void sayUnavailable(const QString& reason);

    SpeechDispatcherAddress m_address;
    QThread* m_thread;
    TaskQueue* m_worker; // lives on m_thread: runs the tasks there
    TaskQueue* m_toMain; // carries results and reports back to the main thread
    // Used on m_thread only, also for its destruction.
    std::unique_ptr<SpeechDispatcherSession> m_session;
    UtteranceId m_lastUtterance = 0;
    QHash<std::size_t, UtteranceId> m_utterances; // by message id, until reported
    QHash<std::size_t, bool> m_earlyReports;      // reports that came before their message id
    bool m_shutDown = false;
    bool m_loadingVoices = false;
    bool m_voicesListed = false;
    QFutureWatcher<std::pair<QList<SpeechVoice>, QString>> m_voiceWatcher;
};

} // namespace vardelle
