#include "linux/instance/InstanceRequest.h"

#include "instance/InstanceProtocol.h"

#include <QLocalSocket>

namespace vardelle {

InstanceRequest::InstanceRequest(QLocalSocket* socket, const Limits& limits,
                                 std::function<void(InstanceRequest*)> received, QObject* parent)
    : QObject(parent)
    , m_socket(socket)
    , m_limits(limits)
    , m_received(std::move(received))
{
    m_socket->setParent(this);
    // Never more in memory than one request line, whatever the client sends.
    m_socket->setReadBufferSize(m_limits.maxLineBytes + 1);

    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::reading) {
            refuse(QStringLiteral("no request received"));
            return;
        }
        // The client does not take its last lines: let it go.
        m_socket->abort();
    });
    m_deadline.start(m_limits.requestTimeout);

    m_keepAlive.setInterval(m_limits.keepAliveInterval);
    connect(&m_keepAlive, &QTimer::timeout, this, [this] {
        send(QJsonObject{{instance::aliveKey, true}});
    });

    connect(m_socket, &QLocalSocket::readyRead, this, &InstanceRequest::readRequest);
    connect(m_socket, &QLocalSocket::disconnected, this, &InstanceRequest::lost);
    connect(m_socket, &QLocalSocket::errorOccurred, this, [this](QLocalSocket::LocalSocketError) {
        if (m_socket->state() == QLocalSocket::UnconnectedState)
            lost();
    });
    connect(m_socket, &QLocalSocket::bytesWritten, this, [this] {
        if (m_phase == Phase::closing && m_socket->bytesToWrite() == 0)
            m_socket->disconnectFromServer();
    });
    // Bytes may have arrived with the connection itself.
    QMetaObject::invokeMethod(this, &InstanceRequest::readRequest, Qt::QueuedConnection);
}

void InstanceRequest::readRequest()
{
    if (m_phase != Phase::reading) {
        // One request per connection: whatever follows it is drained, not kept.
        m_socket->skip(m_socket->bytesAvailable());
        return;
    }
    while (m_socket->bytesAvailable() > 0) {
        const QByteArray chunk = m_socket->read(m_limits.maxLineBytes + 1 - m_buffer.size());
        if (chunk.isEmpty())
            return;
        const qsizetype newline = chunk.indexOf('\n');
        m_buffer += newline >= 0 ? chunk.left(newline) : chunk;
        if (m_buffer.size() > m_limits.maxLineBytes) {
            refuse(QStringLiteral("request too long"));
            return;
        }
        if (newline >= 0) {
            handleLine();
            return;
        }
    }
}

void InstanceRequest::handleLine()
{
    const std::optional<QJsonObject> message = instance::decodeLine(m_buffer);
    m_buffer.clear();
    if (!message) {
        refuse(QStringLiteral("a request is one JSON object on one line"));
        return;
    }
    if (!message->value(instance::commandKey).isString()) {
        refuse(QStringLiteral("the request names no command"));
        return;
    }
    m_message = *message;
    m_phase = Phase::open;
    m_deadline.stop();
    m_keepAlive.start();
    m_received(this);
}

void InstanceRequest::write(const QByteArray& bytes)
{
    if (m_socket->bytesToWrite() + bytes.size() > m_limits.maxUnsentBytes) {
        m_socket->abort();
        return;
    }
    m_socket->write(bytes);
}

void InstanceRequest::send(const QJsonObject& answer)
{
    if (m_phase != Phase::open)
        return;
    write(instance::encodeLine(answer));
}

void InstanceRequest::finish(const QJsonObject& last)
{
    if (m_phase != Phase::open && m_phase != Phase::reading)
        return;
    m_keepAlive.stop();
    m_phase = Phase::closing;
    if (!last.isEmpty())
        write(instance::encodeLine(last));
    if (m_phase != Phase::closing)
        return; // the write dropped the client
    m_deadline.start(m_limits.requestTimeout);
    if (m_socket->bytesToWrite() == 0)
        m_socket->disconnectFromServer();
}

void InstanceRequest::refuse(const QString& message)
{
    finish(instance::errorAnswer(message));
}

void InstanceRequest::lost()
{
    const Phase was = std::exchange(m_phase, Phase::closed);
    if (was == Phase::closed)
        return;
    m_keepAlive.stop();
    m_deadline.stop();
    if (was == Phase::open)
        emit cancelled();
    deleteLater();
}

} // namespace vardelle
