#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <utility>

class QTcpServer;
class QTcpSocket;

namespace vardelle::test {

using HttpHeaders = QList<std::pair<QByteArray, QByteArray>>;

// What the server answers on one path. Every answer ends with "Connection: close".
struct TestHttpResponse {
    int status = 200;
    HttpHeaders headers; // besides Content-Length and Connection
    QByteArray body;
    std::chrono::milliseconds delay{0}; // before anything is sent
    bool stallAfterHeaders = false;     // send the head, then nothing until the client gives up
    qint64 dripBytes = 0;               // > 0: the body goes out in pieces of this size...
    std::chrono::milliseconds dripInterval{0}; // ...this far apart
    bool declareLength = true;                 // Content-Length; otherwise the close ends the body
    qint64 closeAfterBodyBytes = -1;           // >= 0: hang up after this much of the body

    static TestHttpResponse ok(QByteArray body, QByteArray contentType = "application/rss+xml");
    static TestHttpResponse redirect(int status, const QUrl& location);
};

struct TestHttpRequest {
    QByteArray method;
    QByteArray path;
    HttpHeaders headers;
    bool scripted = false; // whether a response was set for its path

    // The first header of that name, compared without regard to case; empty when there is none.
    QByteArray header(QByteArrayView name) const;
    bool hasHeader(QByteArrayView name) const;
};

// A small HTTP/1.1 server on 127.0.0.1 that answers each path as scripted; unknown paths get 404.
// It closes itself and every connection after `lifetime`, so a stalled answer never outlives a
// test. May be moved to another thread before listen(); the setters and readers are thread-safe.
class TestHttpServer : public QObject {
public:
    explicit TestHttpServer(std::chrono::milliseconds lifetime = std::chrono::seconds(120),
                            QObject* parent = nullptr);
    ~TestHttpServer() override;

    // Listens on 127.0.0.1 at a free port. Call in the server's thread.
    bool listen();
    // Stops listening and drops every connection. Call in the server's thread.
    void close();

    quint16 port() const;
    // http://127.0.0.1:<port><path>
    QUrl url(const QString& path) const;

    void setResponse(const QString& path, TestHttpResponse response);
    QList<TestHttpRequest> requests() const;
    // Every byte handed to the connections so far, heads and bodies.
    qint64 bytesSent() const;

    // A port on 127.0.0.1 where nothing listens (it was free a moment ago).
    static quint16 closedPort();

private:
    void accept();
    void readRequest(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const TestHttpResponse& response);
    void drip(QTcpSocket* socket, const TestHttpResponse& response, qint64 offset, qint64 end);

    const std::chrono::milliseconds m_lifetime;
    QTcpServer* m_server;
    mutable QMutex m_mutex;
    quint16 m_port = 0;
    QHash<QString, TestHttpResponse> m_responses;
    QList<TestHttpRequest> m_requests;
    qint64 m_bytesSent = 0;
};

} // namespace vardelle::test
