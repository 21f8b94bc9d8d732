#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

class QLocalSocket;

namespace vardelle {

// Sends one request to the instance that runs for this user (SingleInstance) and reports its
// answer lines as they arrive (InstanceProtocol.h). Needs a running event loop, or use the
// blocking request().
//
// The instance must take the connection within the connect timeout, and must not go silent for
// longer than the answer timeout: an open request hears a keep-alive every few seconds, so a
// briefing may speak for minutes while a hung instance is noticed in seconds.
class InstanceClient : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        answered,     // the instance answered and closed the connection
        notRunning,   // nobody holds the instance lock: start one yourself
        notAnswering, // an instance runs but did not take the request or went silent
        closed,       // close() was called
    };
    Q_ENUM(Outcome)

    struct Timeouts {
        std::chrono::milliseconds connect{5000};
        std::chrono::milliseconds answer{10000};
    };

    explicit InstanceClient(const QString& folder, QObject* parent = nullptr);
    ~InstanceClient() override;

    void setTimeouts(const Timeouts& timeouts) { m_timeouts = timeouts; }

    // Connects and sends `request`; line() and then finished() follow.
    void send(const QJsonObject& request);
    // Drops the connection (the instance cancels what it was doing for this request).
    void close();

    // Sends `request` and waits for the whole answer, running a local event loop meanwhile.
    struct Reply {
        Outcome outcome = Outcome::notRunning;
        QList<QJsonObject> lines; // without the keep-alives
        QString error;            // for notAnswering
    };
    static Reply request(const QString& folder, const QJsonObject& request,
                         const Timeouts& timeouts);
    static Reply request(const QString& folder, const QJsonObject& request)
    {
        return InstanceClient::request(folder, request, Timeouts{});
    }

signals:
    // An answer line, keep-alives left out.
    void line(const QJsonObject& answer);
    // Once per send(); `error` explains notAnswering.
    void finished(vardelle::InstanceClient::Outcome outcome, const QString& error);

private:
    void tryConnect();
    void connectFailed();
    void readLines();
    void end(Outcome outcome, const QString& error = {});

    QString m_folder;
    Timeouts m_timeouts;
    QLocalSocket* m_socket = nullptr;
    QByteArray m_request;
    QByteArray m_buffer;
    QElapsedTimer m_connecting;
    QTimer m_retry;
    QTimer m_silence;
    bool m_active = false;
};

} // namespace vardelle
