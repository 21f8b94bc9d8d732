#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

class QLocalSocket;

namespace vardelle {

// One client of the running instance and the one request it sent (see InstanceProtocol.h).
// SingleInstance makes it when a connection arrives, reads the request line within bounds and
// hands it on through SingleInstance::requested(); whoever serves it answers with send() and
// ends it with finish(), at once or much later.
//
// It deletes itself once the conversation is over (after finish(), or after cancelled()), so
// keep it in a QPointer. Main thread only.
class InstanceRequest : public QObject {
    Q_OBJECT

public:
    // The bounds a connection lives within.
    struct Limits {
        // A request line longer than this is refused and the connection dropped.
        // Room for a watch list's worth of terms, or an import's thousand feeds, in one command.
        qsizetype maxLineBytes = 4 * 1024 * 1024;
        // A client that has not sent its request within this time is dropped.
        std::chrono::milliseconds requestTimeout{5000};
        // While a request is open the client hears at least this often that the instance is
        // alive, so that it can tell a long briefing from a hung instance.
        std::chrono::milliseconds keepAliveInterval{2000};
        // Answers a client does not read pile up to this much; then it is dropped.
        qint64 maxUnsentBytes = 1 << 20;
    };

    // The command, as sent; the whole request object is in message().
    QString command() const { return m_message.value(QStringLiteral("command")).toString(); }
    // "today" of a brief request: true only when sent as the JSON value true.
    bool today() const { return m_message.value(QStringLiteral("today")).toBool(false); }
    QJsonObject message() const { return m_message; }

    // True from the moment the request is handed on until finish() or the client goes away.
    bool isOpen() const { return m_phase == Phase::open; }
    // Connected, and the request not yet read.
    bool isWaiting() const { return m_phase == Phase::reading; }

    // Writes one answer line; does nothing once the request is closed.
    void send(const QJsonObject& answer);
    // Writes `last` (when not empty), then closes the connection once it has been written.
    void finish(const QJsonObject& last = {});

signals:
    // The client went away (or was dropped) before finish(): stop what it asked for.
    void cancelled();

private:
    friend class SingleInstance;
    enum class Phase { reading, open, closing, closed };

    // Takes `socket` over. `received` runs once, when a valid request has been read.
    InstanceRequest(QLocalSocket* socket, const Limits& limits,
                    std::function<void(InstanceRequest*)> received, QObject* parent);

    void readRequest();
    void handleLine();
    void write(const QByteArray& bytes);
    void refuse(const QString& message);
    void lost();

    QLocalSocket* m_socket;
    Limits m_limits;
    std::function<void(InstanceRequest*)> m_received;
    Phase m_phase = Phase::reading;
    QByteArray m_buffer;
    QJsonObject m_message;
    QTimer m_deadline; // the request's arrival, then the last lines' delivery
    QTimer m_keepAlive;
};

} // namespace vardelle
