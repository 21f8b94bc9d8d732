#include "TestHttpServer.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace vardelle::test {

namespace {

constexpr qsizetype maxRequestHead = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 404:
        return "Not Found";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray responseHead(const TestHttpResponse& response)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                      reasonPhrase(response.status) + "\r\n";
    for (const auto& [name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    if (response.declareLength)
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    return head;
}

} // namespace

TestHttpResponse TestHttpResponse::ok(QByteArray body, QByteArray contentType)
{
    TestHttpResponse response;
    response.headers.append({"Content-Type", std::move(contentType)});
    response.body = std::move(body);
    return response;
}

TestHttpResponse TestHttpResponse::redirect(int status, const QUrl& location)
{
    TestHttpResponse response;
    response.status = status;
    response.headers.append({"Location", location.toEncoded()});
    response.headers.append({QByteArray("Content-Type"), QByteArray("text/html")});
    response.body =
        "<html><body>Moved to <a href=\"" + location.toEncoded() + "\">here</a>.</body></html>";
    return response;
}

QByteArray TestHttpRequest::header(QByteArrayView name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool TestHttpRequest::hasHeader(QByteArrayView name) const
{
    for (const auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

TestHttpServer::TestHttpServer(std::chrono::milliseconds lifetime, QObject* parent)
    : QObject(parent)
    , m_lifetime(lifetime)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &TestHttpServer::accept);
}

TestHttpServer::~TestHttpServer() = default;

bool TestHttpServer::listen()
{
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        return false;
    {
        QMutexLocker lock(&m_mutex);
        m_port = m_server->serverPort();
    }
    QTimer::singleShot(m_lifetime, this, &TestHttpServer::close);
    return true;
}

void TestHttpServer::close()
{
    m_server->close();
    const auto sockets = m_server->findChildren<QTcpSocket*>();
    for (QTcpSocket* socket : sockets)
        socket->abort();
}

quint16 TestHttpServer::port() const
{
    QMutexLocker lock(&m_mutex);
    return m_port;
}

QUrl TestHttpServer::url(const QString& path) const
{
    QUrl url;
    url.setScheme(u"http"_qs);
    url.setHost(u"127.0.0.1"_qs);
    url.setPort(port());
    url.setPath(path);
    return url;
}

void TestHttpServer::setResponse(const QString& path, TestHttpResponse response)
{
    QMutexLocker lock(&m_mutex);
    m_responses.insert(path, std::move(response));
}

QList<TestHttpRequest> TestHttpServer::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

qint64 TestHttpServer::bytesSent() const
{
    QMutexLocker lock(&m_mutex);
    return m_bytesSent;
}

quint16 TestHttpServer::closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 1;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void TestHttpServer::accept()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this](qint64 bytes) {
            QMutexLocker lock(&m_mutex);
            m_bytesSent += bytes;
        });
    }
}

void TestHttpServer::readRequest(QTcpSocket* socket)
{
    if (socket->property("answered").toBool()) {
        socket->readAll(); // one request per connection; anything more is ignored
        return;
    }
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        if (buffer.size() > maxRequestHead)
            socket->abort();
        else
            socket->setProperty("buffer", buffer);
        return;
    }
    socket->setProperty("answered", true);

    const QList<QByteArray> lines = buffer.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    TestHttpRequest request;
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }

    TestHttpResponse response;
    {
        QMutexLocker lock(&m_mutex);
        const QString path = QUrl::fromPercentEncoding(request.path.split('?').first());
        const auto found = m_responses.constFind(path);
        request.scripted = found != m_responses.cend();
        if (request.scripted) {
            response = *found;
        } else {
            response.status = 404;
            response.body = "not found";
        }
        m_requests.append(request);
    }

    if (response.delay.count() > 0)
        QTimer::singleShot(response.delay, socket,
                           [this, socket, response] { respond(socket, response); });
    else
        respond(socket, response);
}

void TestHttpServer::respond(QTcpSocket* socket, const TestHttpResponse& response)
{
    socket->write(responseHead(response));
    if (response.stallAfterHeaders)
        return; // until the client gives up or the server's lifetime ends

    qint64 end = response.body.size();
    if (response.closeAfterBodyBytes >= 0)
        end = qMin(end, response.closeAfterBodyBytes);
    if (response.dripBytes > 0) {
        drip(socket, response, 0, end);
        return;
    }
    socket->write(response.body.constData(), end);
    socket->disconnectFromHost(); // after what is written has gone out
}

void TestHttpServer::drip(QTcpSocket* socket, const TestHttpResponse& response, qint64 offset,
                          qint64 end)
{
    const qint64 size = qMin(response.dripBytes, end - offset);
    socket->write(response.body.constData() + offset, size);
    offset += size;
    if (offset >= end) {
        socket->disconnectFromHost();
        return;
    }
    QTimer::singleShot(response.dripInterval, socket, [this, socket, response, offset, end] {
        drip(socket, response, offset, end);
    });
}

} // namespace vardelle::test
