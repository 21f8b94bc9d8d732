#include "linux/speech/SpeechDispatcherVoices.h"

#include "linux/speech/SpeechDispatcherConnection.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <libspeechd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vardelle {

SsipConversation::SsipConversation(int socket, QDeadlineTimer deadline)
    : m_socket(socket)
    , m_deadline(deadline)
{
}

bool SsipConversation::waitFor(short events)
{
    pollfd watched{m_socket, events, 0};
    for (;;) {
        const qint64 left = m_deadline.remainingTime();
        const int ready = ::poll(&watched, 1, left < 0 ? -1 : int(std::min<qint64>(left, 60000)));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR) {
            m_error = QStringLiteral("the connection failed");
            return false;
        }
        if (m_deadline.hasExpired()) {
            m_error = QStringLiteral("speech-dispatcher did not answer in time");
            return false;
        }
    }
}

bool SsipConversation::send(QByteArrayView command)
{
    const QByteArray line = command.toByteArray() + "\r\n";
    qsizetype sent = 0;
    while (sent < line.size()) {
        if (!waitFor(POLLOUT))
            return false;
        const ssize_t n =
            ::send(m_socket, line.constData() + sent, size_t(line.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            m_error = QStringLiteral("the connection failed");
            return false;
        }
        if (n > 0)
            sent += n;
    }
    return true;
}

std::optional<QByteArray> SsipConversation::readLine(qsizetype& replyBytes)
{
    for (;;) {
        const qsizetype end = m_buffer.indexOf('\n', m_scanned);
        if (end >= 0) {
            QByteArray line = m_buffer.mid(m_lineStart, end - m_lineStart);
            m_lineStart = m_scanned = end + 1;
            if (line.endsWith('\r'))
                line.chop(1);
            return line;
        }
        m_scanned = m_buffer.size();
        if (replyBytes > maxReplyBytes) {
            m_error = QStringLiteral("speech-dispatcher's reply is too long");
            return std::nullopt;
        }
        if (!waitFor(POLLIN))
            return std::nullopt;
        char chunk[64 * 1024];
        const ssize_t n = ::read(m_socket, chunk, sizeof chunk);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            m_error = QStringLiteral("speech-dispatcher closed the connection");
            return std::nullopt;
        }
        if (n > 0) {
            // The lines taken go once a block has been read, not one by one.
            m_buffer.remove(0, m_lineStart);
            m_scanned -= m_lineStart;
            m_lineStart = 0;
            m_buffer.append(chunk, n);
            replyBytes += n;
        }
    }
}

std::optional<QList<QByteArray>> SsipConversation::ask(QByteArrayView command)
{
    m_refused = false;
    m_error.clear();
    if (!send(command))
        return std::nullopt;
    QList<QByteArray> lines;
    qsizetype replyBytes = 0;
    for (;;) {
        const std::optional<QByteArray> line = readLine(replyBytes);
        if (!line)
            return std::nullopt;
        const bool coded = line->size() >= 4 &&
                           std::all_of(line->begin(), line->begin() + 3,
                                       [](char c) { return c >= '0' && c <= '9'; }) &&
                           (line->at(3) == '-' || line->at(3) == ' ');
        if (!coded) {
            m_error = QStringLiteral("speech-dispatcher's reply is not understood");
            return std::nullopt;
        }
        if (line->at(3) == ' ') {
            if (line->at(0) != '2') {
                m_refused = true;
                m_error = QStringLiteral("speech-dispatcher refused %1: %2")
                              .arg(QString::fromUtf8(command), QString::fromUtf8(line->mid(4)));
                return std::nullopt;
            }
            return lines;
        }
        if (lines.size() >= maxReplyLines) {
            m_error = QStringLiteral("speech-dispatcher's reply is too long");
            return std::nullopt;
        }
        lines.append(line->mid(4));
    }
}

QList<SpeechVoice> SsipConversation::listVoices()
{
    QList<SpeechVoice> voices;
    const std::optional<QList<QByteArray>> modules = ask("LIST OUTPUT_MODULES");
    if (!modules)
        return voices;
    for (const QByteArray& module : *modules) {
        // A module name travels inside a command: one word of plain characters.
        const bool plain =
            !module.isEmpty() &&
            std::all_of(module.begin(), module.end(), [](char c) { return c > ' ' && c < 127; });
        if (!plain)
            continue;
        std::optional<QList<QByteArray>> list;
        if (ask("SET SELF OUTPUT_MODULE " + module))
            list = ask("LIST SYNTHESIS_VOICES");
        if (!list) {
            if (!m_refused)
                break;       // the connection is of no more use
            m_error.clear(); // a module that cannot be used does not fail the others
            continue;
        }
        const QString moduleName = QString::fromUtf8(module);
        for (const QByteArray& line : *list) {
            const QList<QByteArray> fields = line.split('\t');
            if (fields.first().isEmpty())
                continue;
            voices.append(dispatcherVoice(moduleName, QString::fromUtf8(fields.first()),
                                          QString::fromUtf8(fields.value(1)),
                                          QString::fromUtf8(fields.value(2, "none"))));
        }
    }
    return voices;
}

SpeechVoice dispatcherVoice(const QString& module, const QString& name, const QString& language,
                            const QString& variant)
{
    QString displayName = name;
    const QString suffix = QLatin1Char('+') + variant;
    if (!variant.isEmpty() && variant != QLatin1String("none") && name.size() > suffix.size() &&
        name.endsWith(suffix))
        displayName = name.chopped(suffix.size()) + QLatin1String(", ") + variant;
    if (displayName.isEmpty())
        displayName = module;
    return {module + QLatin1Char('/') + name, displayName, dispatcherLanguageTag(language),
            dispatcherModuleQuality(module)};
}

SpeechVoiceQuality dispatcherModuleQuality(const QString& module)
{
    static const char* const premium[] = {"piper", "mimic3", "coqui"};
    static const char* const enhanced[] = {"rhvoice", "festival", "mbrola", "voxin",
                                           "ibmtts",  "kali",     "pico",   "baratinoo"};
    const QString lower = module.toLower();
    for (const char* word : premium) {
        if (lower.contains(QLatin1String(word)))
            return SpeechVoiceQuality::Premium;
    }
    for (const char* word : enhanced) {
        if (lower.contains(QLatin1String(word)))
            return SpeechVoiceQuality::Enhanced;
    }
    return SpeechVoiceQuality::Default;
}

QString dispatcherLanguageTag(const QString& code)
{
    const QStringList subtags = code.split(QRegularExpression(QStringLiteral("[-_]")));
    QStringList result;
    bool privateUse = false;
    for (qsizetype i = 0; i < subtags.size(); ++i) {
        const QString& subtag = subtags[i];
        const bool letters = std::all_of(subtag.begin(), subtag.end(), [](QChar c) {
            return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        });
        if (i == 0 || privateUse || !letters)
            result.append(subtag.toLower());
        else if (subtag.size() == 2)
            result.append(subtag.toUpper());
        else if (subtag.size() == 4)
            result.append(subtag.left(1).toUpper() + subtag.mid(1).toLower());
        else
            result.append(subtag.toLower());
        if (i > 0 && subtag.size() == 1)
            privateUse = privateUse || subtag.compare(QLatin1String("x"), Qt::CaseInsensitive) == 0;
    }
    return result.join(QLatin1Char('-'));
}

SPDConnection* openDispatcher(const SpeechDispatcherAddress& address, const char* component,
                              bool threaded, QString* error)
{
    QByteArray socket = QFile::encodeName(address.socketPath);
    SPDConnectionAddress where{};
    where.method = SPD_METHOD_UNIX_SOCKET;
    where.unix_socket_name = socket.data();
    char* openError = nullptr;
    SPDConnection* connection = spd_open2(
        "vardelle", component, nullptr, threaded ? SPD_MODE_THREADED : SPD_MODE_SINGLE,
        address.socketPath.isEmpty() ? nullptr : &where, address.autospawn ? 1 : 0, &openError);
    if (!connection && error) {
        *error = QStringLiteral("speech-dispatcher could not be reached or started (%1)")
                     .arg(QString::fromLocal8Bit(openError ? openError : "no reason given"));
    }
    std::free(openError);
    return connection;
}

QList<SpeechVoice> listDispatcherVoices(const SpeechDispatcherAddress& address, QString* error)
{
    QList<SpeechVoice> voices;
    SPDConnection* connection = openDispatcher(address, "voices", false, error);
    if (!connection)
        return voices;

    // libspeechd's own listing reads the reply a character at a time and searches it from its
    // start for every line: seconds of processor time for espeak-ng's thirteen thousand voices.
    SsipConversation conversation(connection->socket, QDeadlineTimer(voiceListTimeoutMs));
    voices = conversation.listVoices();
    if (!conversation.error().isEmpty() && error)
        *error = conversation.error();
    spd_close(connection);
    return voices;
}

} // namespace vardelle
