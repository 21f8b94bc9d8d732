#include "linux/instance/InstanceClient.h"

#include "instance/InstanceProtocol.h"
#include "linux/instance/SingleInstance.h"

#include <QEventLoop>
#include <QLocalSocket>

namespace vardelle {

namespace {

// The longest answer line taken: a briefing of a hundred headlines is a few tens of kilobytes.
constexpr qsizetype maxAnswerLine = 1 << 20;

} // namespace

InstanceClient::InstanceClient(const QString& folder, QObject* parent)
    : QObject(parent)
    , m_folder(folder)
{
    m_retry.setSingleShot(true);
    m_retry.setInterval(std::chrono::milliseconds(100));
    connect(&m_retry, &QTimer::timeout, this, &InstanceClient::tryConnect);
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, [this] {
        end(Outcome::notAnswering,
            m_socket && m_socket->state() == QLocalSocket::ConnectedState
                ? QStringLiteral("Vardelle is running but does not answer")
                : QStringLiteral("Vardelle is running but does not take requests"));
    });
}

InstanceClient::~InstanceClient()
{
    if (m_socket)
        m_socket->abort();
}

void InstanceClient::send(const QJsonObject& request)
{
    close();
    m_active = true;
    m_request = instance::encodeLine(request);
    m_buffer.clear();
    m_connecting.start();
    m_silence.start(m_timeouts.connect);
    tryConnect();
}

void InstanceClient::close()
{
    if (m_active)
        end(Outcome::closed);
}

void InstanceClient::tryConnect()
{
    if (m_socket)
        m_socket->deleteLater();
    m_socket = new QLocalSocket(this);
    QLocalSocket* socket = m_socket;
    connect(socket, &QLocalSocket::connected, this, [this, socket] {
        if (socket != m_socket)
            return;
        // Taken: from now on the instance must not go silent for long.
        m_silence.start(m_timeouts.answer);
        socket->write(m_request);
    });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (socket == m_socket)
            readLines();
    });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
        if (socket != m_socket || !m_active)
            return;
        readLines();
        if (m_active)
            end(Outcome::answered);
    });
    connect(socket, &QLocalSocket::errorOccurred, this,
            [this, socket](QLocalSocket::LocalSocketError error) {
                if (socket != m_socket || !m_active)
                    return;
                if (error == QLocalSocket::PeerClosedError)
                    return; // disconnected() follows
                if (socket->state() != QLocalSocket::ConnectedState &&
                    (error == QLocalSocket::ServerNotFoundError ||
                     error == QLocalSocket::ConnectionRefusedError))
                    connectFailed();
                else
                    end(Outcome::notAnswering, socket->errorString());
            });
    socket->connectToServer(SingleInstance::socketPath(m_folder));
}

// Nobody listens. Nobody holding the lock means no instance; a holder may be starting up
// and not listen yet, so it gets until the connect timeout.
void InstanceClient::connectFailed()
{
    if (!SingleInstance::isHeld(m_folder)) {
        end(Outcome::notRunning);
        return;
    }
    if (m_connecting.elapsed() >= m_timeouts.connect.count()) {
        end(Outcome::notAnswering, QStringLiteral("Vardelle is running but does not take "
                                                  "requests"));
        return;
    }
    m_retry.start();
}

void InstanceClient::readLines()
{
    while (m_active && m_socket->bytesAvailable() > 0) {
        m_buffer += m_socket->read(maxAnswerLine + 1 - m_buffer.size());
        qsizetype newline;
        while (m_active && (newline = m_buffer.indexOf('\n')) >= 0) {
            const QByteArray text = m_buffer.left(newline);
            m_buffer.remove(0, newline + 1);
            const std::optional<QJsonObject> answer = instance::decodeLine(text);
            if (!answer) {
                end(Outcome::notAnswering, QStringLiteral("Vardelle answered something else"));
                return;
            }
            m_silence.start(m_timeouts.answer);
            if (!answer->contains(instance::aliveKey))
                emit line(*answer);
        }
        if (m_buffer.size() > maxAnswerLine) {
            end(Outcome::notAnswering, QStringLiteral("Vardelle answered something else"));
            return;
        }
    }
}

void InstanceClient::end(Outcome outcome, const QString& error)
{
    if (!m_active)
        return;
    m_active = false;
    m_retry.stop();
    m_silence.stop();
    if (m_socket) {
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    emit finished(outcome, error);
}

InstanceClient::Reply InstanceClient::request(const QString& folder, const QJsonObject& request,
                                              const Timeouts& timeouts)
{
    Reply reply;
    InstanceClient client(folder);
    client.setTimeouts(timeouts);
    QEventLoop loop;
    connect(&client, &InstanceClient::line, &loop,
            [&reply](const QJsonObject& answer) { reply.lines.append(answer); });
    connect(&client, &InstanceClient::finished, &loop,
            [&reply, &loop](Outcome outcome, const QString& error) {
                reply.outcome = outcome;
                reply.error = error;
                loop.quit();
            });
    client.send(request);
    if (client.m_active)
        loop.exec();
    return reply;
}

} // namespace vardelle
