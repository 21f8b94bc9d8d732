#include "linux/speech/SpeechDispatcherSession.h"

#include "linux/speech/SpeechDispatcherConnection.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <libspeechd.h>

#include <cstdlib>

namespace vardelle {

namespace {

// libspeechd's callbacks carry no user data, only the client id of their connection: the open
// sessions by client id. A session leaves before its connection closes, under the lock, so no
// report runs for a session that is going away.
QMutex& registryLock()
{
    static QMutex lock;
    return lock;
}

QHash<std::size_t, SpeechDispatcherSession::Report>& registry()
{
    static QHash<std::size_t, SpeechDispatcherSession::Report> sessions;
    return sessions;
}

SPDConnection* connectionOf(void* connection)
{
    return static_cast<SPDConnection*>(connection);
}

void onNotification(size_t message, size_t client, SPDNotificationType type)
{
    QMutexLocker lock(&registryLock());
    const auto session = registry().constFind(client);
    if (session != registry().constEnd() && *session)
        (*session)(message, type == SPD_EVENT_CANCEL);
}

} // namespace

SpeechDispatcherSession::SpeechDispatcherSession(SpeechDispatcherAddress address, Report report)
    : m_address(std::move(address))
    , m_report(std::move(report))
{
}

SpeechDispatcherSession::~SpeechDispatcherSession()
{
    close();
}

bool SpeechDispatcherSession::open(QString* error, bool* opened)
{
    if (opened)
        *opened = false;
    if (m_connection)
        return true;

    SPDConnection* connection = openDispatcher(m_address, "speech", true, error);
    if (!connection)
        return false;

    connection->callback_end = onNotification;
    connection->callback_cancel = onNotification;
    const int client = spd_get_client_id(connection);
    if (client < 0 || spd_set_notification_on(connection, SPD_END) != 0 ||
        spd_set_notification_on(connection, SPD_CANCEL) != 0) {
        spd_close(connection);
        if (error)
            *error = QStringLiteral("speech-dispatcher would not report the end of speech");
        return false;
    }
    {
        QMutexLocker lock(&registryLock());
        registry().insert(static_cast<std::size_t>(client), m_report);
    }
    m_connection = connection;
    m_client = static_cast<std::size_t>(client);
    m_module.clear();
    m_voice.clear();
    m_languageSet = false;
    m_rateSet = false;
    if (opened)
        *opened = true;
    return true;
}

int SpeechDispatcherSession::say(const QString& text, const QString& voiceIdentifier, int rate,
                                 QString* error)
{
    if (!open(error))
        return -1;
    SPDConnection* connection = connectionOf(m_connection);
    selectVoice(voiceIdentifier);
    if (!m_rateSet || m_rate != rate) {
        m_rateSet = spd_set_voice_rate(connection, rate) == 0;
        m_rate = rate;
    }
    const int message = spd_say(connection, SPD_MESSAGE, text.toUtf8().constData());
    if (message < 0) {
        close();
        if (error)
            *error = QStringLiteral("speech-dispatcher did not accept the text");
        return -1;
    }
    return message;
}

// "module/name" picks the output module, then its voice; a module the server does not have, or
// no identifier at all, leaves the server to choose an English voice.
void SpeechDispatcherSession::selectVoice(const QString& voiceIdentifier)
{
    SPDConnection* connection = connectionOf(m_connection);
    const qsizetype slash = voiceIdentifier.indexOf(QLatin1Char('/'));
    const QString module = slash < 0 ? QString() : voiceIdentifier.left(slash);
    const QString voice = slash < 0 ? QString() : voiceIdentifier.mid(slash + 1);
    if (!module.isEmpty() && module != m_module) {
        if (spd_set_output_module(connection, module.toUtf8().constData()) == 0) {
            m_module = module;
            m_voice.clear();
        }
    }
    if (!module.isEmpty() && module == m_module) {
        if (!voice.isEmpty() && voice != m_voice &&
            spd_set_synthesis_voice(connection, voice.toUtf8().constData()) == 0)
            m_voice = voice;
        return;
    }
    if (!m_languageSet)
        m_languageSet = spd_set_language(connection, "en") == 0;
}

void SpeechDispatcherSession::cancel()
{
    if (m_connection)
        spd_cancel(connectionOf(m_connection));
}

void SpeechDispatcherSession::close()
{
    if (!m_connection)
        return;
    {
        QMutexLocker lock(&registryLock());
        registry().remove(m_client);
    }
    spd_close(connectionOf(m_connection));
    m_connection = nullptr;
}

} // namespace vardelle
