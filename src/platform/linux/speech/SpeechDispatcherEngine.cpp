#include "linux/speech/SpeechDispatcherEngine.h"

#include "linux/speech/SpeechDispatcherSession.h"
#include "threads/PoolRun.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMetaObject>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>

namespace vardelle {

namespace {

Q_LOGGING_CATEGORY(speechLog, "vardelle.speech", QtWarningMsg)

constexpr int shutDownWaitMs = 5000;

} // namespace

SpeechDispatcherEngine::SpeechDispatcherEngine(SpeechDispatcherAddress address, QObject* parent)
    : SpeechEngine(parent)
    , m_address(std::move(address))
    , m_thread(new QThread)
    , m_worker(new TaskQueue)
    , m_toMain(new TaskQueue(this))
{
    m_session = std::make_unique<SpeechDispatcherSession>(
        m_address, [this](std::size_t message, bool cancelled) {
            // On libspeechd's thread; the session stops reporting before this engine goes.
            m_toMain->post([this, message, cancelled] { messageReported(message, cancelled); });
        });
    m_thread->setObjectName(QStringLiteral("speech-dispatcher"));
    m_worker->moveToThread(m_thread);
    m_thread->start();
    connect(&m_voiceWatcher, &QFutureWatcherBase::finished, this,
            &SpeechDispatcherEngine::voicesListed);
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &SpeechDispatcherEngine::shutDown);
}

SpeechDispatcherEngine::~SpeechDispatcherEngine()
{
    shutDown();
    if (m_thread->isRunning()) {
        // The server did not answer in time; wait for it rather than pull the connection from
        // under the worker.
        onWorker([this] { m_session.reset(); });
        onWorker([thread = m_thread] { thread->quit(); });
        m_thread->wait();
    }
    delete m_worker;
    delete m_thread;
    // A voice listing still under way holds nothing of this engine: it runs out on its own.
}

template <class Task> void SpeechDispatcherEngine::onWorker(Task&& task)
{
    m_worker->post(std::forward<Task>(task));
}

int SpeechDispatcherEngine::dispatcherRate(float rate)
{
    if (!std::isfinite(rate))
        return 0;
    const double scaled = std::round((static_cast<double>(rate) - 0.5) * 200.0);
    return static_cast<int>(std::clamp(scaled, -100.0, 100.0));
}

SpeechEngine::UtteranceId SpeechDispatcherEngine::speak(const QString& text,
                                                        const QString& voiceIdentifier, float rate)
{
    const UtteranceId utterance = ++m_lastUtterance;
    if (m_shutDown) {
        QMetaObject::invokeMethod(
            this, [this, utterance] { report(utterance, false); }, Qt::QueuedConnection);
        return utterance;
    }
    onWorker([this, utterance, text, voiceIdentifier, rate = dispatcherRate(rate)] {
        QString error;
        bool opened = false;
        if (m_session->open(&error, &opened) && opened)
            m_toMain->post([this] { connectionOpened(); });
        const int message =
            m_session->isOpen() ? m_session->say(text, voiceIdentifier, rate, &error) : -1;
        m_toMain->post([this, utterance, message, error] {
            if (message < 0)
                messageRefused(utterance, error);
            else
                messageQueued(utterance, static_cast<std::size_t>(message));
        });
    });
    return utterance;
}

void SpeechDispatcherEngine::stop()
{
    if (!m_shutDown)
        onWorker([this] { m_session->cancel(); });
}

void SpeechDispatcherEngine::shutDown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    auto closed = std::make_shared<QSemaphore>();
    onWorker([this, closed] {
        m_session->cancel();
        m_session->close();
        closed->release();
    });
    if (closed->tryAcquire(1, shutDownWaitMs)) {
        m_thread->quit();
        m_thread->wait();
    }
}

// Message ids start again with a new server: whatever the old connection still owed a report is
// over, and an early report kept from it would name a different message now.
void SpeechDispatcherEngine::connectionOpened()
{
    const QList<UtteranceId> lost = m_utterances.values();
    m_utterances.clear();
    m_earlyReports.clear();
    for (UtteranceId utterance : lost)
        report(utterance, true);
}

void SpeechDispatcherEngine::messageQueued(UtteranceId utterance, std::size_t message)
{
    const auto early = m_earlyReports.constFind(message);
    if (early != m_earlyReports.constEnd()) {
        const bool cancelled = *early;
        m_earlyReports.erase(early);
        report(utterance, cancelled);
        return;
    }
    m_utterances.insert(message, utterance);
}

void SpeechDispatcherEngine::messageRefused(UtteranceId utterance, const QString& reason)
{
    sayUnavailable(reason);
    report(utterance, false);
}

void SpeechDispatcherEngine::messageReported(std::size_t message, bool cancelled)
{
    const auto utterance = m_utterances.constFind(message);
    if (utterance == m_utterances.constEnd()) {
        m_earlyReports.insert(message, cancelled);
        return;
    }
    const UtteranceId id = *utterance;
    m_utterances.erase(utterance);
    report(id, cancelled);
}

void SpeechDispatcherEngine::report(UtteranceId utterance, bool cancelled)
{
    if (cancelled)
        emit this->cancelled(utterance);
    else
        emit finished(utterance);
    // After the listeners' reactions, which a log of the program's steps shows before this.
    qCDebug(speechLog, "the speech service %s utterance %llu", cancelled ? "cancelled" : "finished",
            static_cast<unsigned long long>(utterance));
}

// The list comes over a connection of its own, so that listing, which switches output modules,
// never changes the voice of the speech connection, and a stop need not wait for it. It starts
// once the speech connection is up, so that only one of them starts the server.
void SpeechDispatcherEngine::loadVoices()
{
    if (m_voicesListed || m_loadingVoices || m_shutDown)
        return;
    m_loadingVoices = true;
    onWorker([this] {
        QString error;
        bool opened = false;
        const bool open = m_session->open(&error, &opened);
        m_toMain->post([this, open, opened, error] {
            if (opened)
                connectionOpened();
            if (!open) {
                m_loadingVoices = false;
                sayUnavailable(error);
                setVoices({});
                return;
            }
            SpeechDispatcherAddress address = m_address;
            address.autospawn = false;
            m_voiceWatcher.setFuture(runOnPool(QThreadPool::globalInstance(), [address] {
                QString listError;
                QList<SpeechVoice> voices = listDispatcherVoices(address, &listError);
                return std::pair(voices, listError);
            }));
        });
    });
}

void SpeechDispatcherEngine::voicesListed()
{
    m_loadingVoices = false;
    const auto [voices, error] = m_voiceWatcher.result();
    m_voicesListed = error.isEmpty();
    if (!error.isEmpty())
        sayUnavailable(error);
    setVoices(voices);
}

void SpeechDispatcherEngine::sayUnavailable(const QString& reason)
{
    emit unavailable(reason);
    static std::atomic<bool> said{false};
    if (!said.exchange(true)) {
        std::fprintf(stderr, "vardelle: nothing will be spoken: %s\n",
                     reason.toLocal8Bit().constData());
    }
}

} // namespace vardelle
