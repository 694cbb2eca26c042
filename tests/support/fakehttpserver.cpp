#include "support/fakehttpserver.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <climits>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace {

// Ends any client that sends an absurd header block instead of buffering forever.
constexpr int kMaxHeaderBytes = 1024 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "Status";
    }
}

QString decode(const QByteArray &percentEncoded)
{
    return QUrl::fromPercentEncoding(percentEncoded);
}

// Splits "a=1&b=2" into decoded pairs; '+' is kept as is.
QList<QPair<QString, QString>> queryPairs(const QByteArray &rawQuery)
{
    QList<QPair<QString, QString>> pairs;
    if (rawQuery.isEmpty())
        return pairs;
    for (const QByteArray &item : rawQuery.split('&')) {
        const int eq = item.indexOf('=');
        if (eq < 0)
            pairs.append({decode(item), QString()});
        else
            pairs.append({decode(item.left(eq)), decode(item.mid(eq + 1))});
    }
    return pairs;
}

enum class ChunkResult
{
    Incomplete,
    Done,
    Bad
};

// Decodes a chunked body that starts at `from`; on Done, *end is the offset
// just past the body (trailers included).
ChunkResult decodeChunked(const QByteArray &buffer, int from, QByteArray *body, int *end)
{
    body->clear();
    int pos = from;
    for (;;) {
        const int lineEnd = buffer.indexOf("\r\n", pos);
        if (lineEnd < 0)
            return ChunkResult::Incomplete;
        QByteArray sizeText = buffer.mid(pos, lineEnd - pos);
        const int ext = sizeText.indexOf(';');
        if (ext >= 0)
            sizeText.truncate(ext);
        bool ok = false;
        const qlonglong size = sizeText.trimmed().toLongLong(&ok, 16);
        if (!ok || size < 0 || size > INT_MAX / 2)
            return ChunkResult::Bad;
        pos = lineEnd + 2;
        if (size == 0) {
            // Trailer lines up to an empty line.
            for (;;) {
                const int trailerEnd = buffer.indexOf("\r\n", pos);
                if (trailerEnd < 0)
                    return ChunkResult::Incomplete;
                const bool last = trailerEnd == pos;
                pos = trailerEnd + 2;
                if (last) {
                    *end = pos;
                    return ChunkResult::Done;
                }
            }
        }
        if (buffer.size() < pos + size + 2)
            return ChunkResult::Incomplete;
        body->append(buffer.constData() + pos, int(size));
        pos += int(size);
        if (buffer.mid(pos, 2) != "\r\n")
            return ChunkResult::Bad;
        pos += 2;
    }
}

} // namespace

QByteArray FakeHttpServer::Request::header(const QByteArray &lowerName) const
{
    for (const auto &h : headers) {
        if (h.first == lowerName)
            return h.second;
    }
    return QByteArray();
}

QString FakeHttpServer::Request::queryValue(const QString &key) const
{
    for (const auto &pair : queryPairs(rawQuery)) {
        if (pair.first == key)
            return pair.second;
    }
    return QString();
}

QStringList FakeHttpServer::Request::queryKeys() const
{
    QStringList keys;
    for (const auto &pair : queryPairs(rawQuery))
        keys.append(pair.first);
    return keys;
}

FakeHttpServer::FakeHttpServer(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
    m_defaultResponse.status = 404;
    connect(m_server, &QTcpServer::newConnection, this, &FakeHttpServer::onNewConnection);
}

FakeHttpServer::~FakeHttpServer()
{
    m_server->close();
    // Cut the sockets loose first so their last signals do not reach a half
    // destroyed server.
    const QList<QTcpSocket *> sockets = m_connections.keys();
    m_connections.clear();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
}

bool FakeHttpServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 FakeHttpServer::port() const
{
    return m_server->serverPort();
}

QString FakeHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(port());
}

void FakeHttpServer::setResponse(const QString &route, const Response &response)
{
    Route r;
    const int question = route.indexOf(QLatin1Char('?'));
    r.path = question < 0 ? route : route.left(question);
    while (r.path.startsWith(QLatin1Char('/')))
        r.path.remove(0, 1);
    if (question >= 0)
        r.conditions = queryPairs(route.mid(question + 1).toUtf8());
    r.response = response;

    for (Route &existing : m_routes) {
        if (existing.path == r.path && existing.conditions == r.conditions) {
            existing.response = response;
            return;
        }
    }
    m_routes.append(r);
}

void FakeHttpServer::setDefaultResponse(const Response &response)
{
    m_defaultResponse = response;
}

QList<FakeHttpServer::Request> FakeHttpServer::requests() const
{
    return m_requests;
}

int FakeHttpServer::requestCount() const
{
    return m_requests.size();
}

void FakeHttpServer::clearRequests()
{
    m_requests.clear();
}

bool FakeHttpServer::waitForRequests(int count, int timeoutMs)
{
    if (m_requests.size() >= count)
        return true;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &FakeHttpServer::requestReceived, &loop, [&] {
        if (m_requests.size() >= count)
            loop.quit();
    });
    timer.start(timeoutMs);
    loop.exec();
    return m_requests.size() >= count;
}

int FakeHttpServer::openConnections() const
{
    return m_connections.size();
}

void FakeHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        m_connections.insert(socket, Connection());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, socket] { dropConnection(socket); });
        // Data may have arrived together with the connection.
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void FakeHttpServer::onReadyRead(QTcpSocket *socket)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    it->buffer.append(socket->readAll());
    processBuffer(socket);
}

void FakeHttpServer::processBuffer(QTcpSocket *socket)
{
    QPointer<QTcpSocket> guard(socket);
    for (;;) {
        auto it = m_connections.find(socket);
        if (it == m_connections.end() || it->busy)
            return;
        QByteArray &buffer = it->buffer;

        const int headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (buffer.size() > kMaxHeaderBytes)
                resetSocket(socket);
            return;
        }
        const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        if (requestLine.size() != 3) {
            resetSocket(socket);
            return;
        }

        Request request;
        request.method = requestLine.at(0);
        QByteArray target = requestLine.at(1);
        const QByteArray version = requestLine.at(2);
        // Absolute form, as sent to a proxy: keep only the path and query.
        if (target.startsWith("http://") || target.startsWith("https://")) {
            const int slash = target.indexOf('/', target.indexOf("//") + 2);
            target = slash < 0 ? QByteArray("/") : target.mid(slash);
        }
        const int question = target.indexOf('?');
        QByteArray rawPath = question < 0 ? target : target.left(question);
        request.rawQuery = question < 0 ? QByteArray() : target.mid(question + 1);
        while (rawPath.startsWith('/'))
            rawPath.remove(0, 1);
        request.path = decode(rawPath);

        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const int colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            request.headers.append(
                {line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
        }

        const int bodyStart = headEnd + 4;
        int requestEnd = bodyStart;
        if (request.header("transfer-encoding").toLower().contains("chunked")) {
            const ChunkResult result = decodeChunked(buffer, bodyStart, &request.body, &requestEnd);
            if (result == ChunkResult::Incomplete)
                return;
            if (result == ChunkResult::Bad) {
                resetSocket(socket);
                return;
            }
        } else {
            const QByteArray lengthText = request.header("content-length");
            if (!lengthText.isEmpty()) {
                bool ok = false;
                const qlonglong length = lengthText.toLongLong(&ok);
                if (!ok || length < 0 || length > INT_MAX / 2) {
                    resetSocket(socket);
                    return;
                }
                if (buffer.size() < bodyStart + length)
                    return;
                request.body = buffer.mid(bodyStart, int(length));
                requestEnd = bodyStart + int(length);
            }
        }
        buffer.remove(0, requestEnd);

        const QByteArray connectionHeader = request.header("connection").toLower();
        const bool keepAlive = version == "HTTP/1.0" ? connectionHeader.contains("keep-alive")
                                                     : !connectionHeader.contains("close");

        m_requests.append(request);
        emit requestReceived();
        // A slot may have spun the event loop and the peer may be gone by now.
        if (!guard || !m_connections.contains(socket))
            return;
        // Chosen after the signal so a slot can still change this answer.
        answer(socket, request, responseFor(request), keepAlive);
    }
}

FakeHttpServer::Response FakeHttpServer::responseFor(const Request &request) const
{
    const Route *best = nullptr;
    for (const Route &route : m_routes) {
        if (route.path != request.path)
            continue;
        bool matches = true;
        for (const auto &condition : route.conditions) {
            if (!request.queryKeys().contains(condition.first) ||
                request.queryValue(condition.first) != condition.second) {
                matches = false;
                break;
            }
        }
        if (matches && (!best || route.conditions.size() > best->conditions.size()))
            best = &route;
    }
    return best ? best->response : m_defaultResponse;
}

void FakeHttpServer::answer(QTcpSocket *socket, const Request &request, const Response &response,
                            bool keepAlive)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;

    if (response.neverAnswer) {
        it->busy = true; // stays busy until the peer goes away
        return;
    }

    if (response.delayMs > 0) {
        it->busy = true;
        Response now = response;
        now.delayMs = 0;
        QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(response.delayMs, this, [this, guard, request, now, keepAlive] {
            if (!guard || !m_connections.contains(guard.data()))
                return; // the peer closed the connection while we waited
            m_connections[guard.data()].busy = false;
            answer(guard.data(), request, now, keepAlive);
            if (guard && m_connections.contains(guard.data()))
                processBuffer(guard.data());
        });
        return;
    }

    if (response.resetConnection) {
        resetSocket(socket);
        return;
    }

    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                     reasonPhrase(response.status) + "\r\n";
    if (!response.contentType.isEmpty())
        out += "Content-Type: " + response.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    for (const auto &h : response.extraHeaders)
        out += h.first + ": " + h.second + "\r\n";
    out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    out += "\r\n";
    const bool cutOff = response.cutOffAfter >= 0;
    if (request.method != "HEAD")
        out += cutOff ? response.body.left(response.cutOffAfter) : response.body;
    socket->write(out);

    if (cutOff) {
        // The peer sees the connection end in the middle of the body.
        it->busy = true;
        socket->disconnectFromHost();
        return;
    }

    if (!keepAlive) {
        // Stop reading further requests; disconnectFromHost flushes first.
        it->busy = true;
        socket->disconnectFromHost();
    }
}

void FakeHttpServer::resetSocket(QTcpSocket *socket)
{
#ifdef Q_OS_UNIX
    // Linger 0 makes the close send a TCP reset instead of an orderly FIN.
    const qintptr fd = socket->socketDescriptor();
    if (fd >= 0) {
        struct linger lg;
        lg.l_onoff = 1;
        lg.l_linger = 0;
        ::setsockopt(int(fd), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    }
#endif
    socket->abort();
    dropConnection(socket);
}

void FakeHttpServer::dropConnection(QTcpSocket *socket)
{
    if (m_connections.remove(socket) == 0)
        return;
    socket->disconnect(this);
    socket->deleteLater();
}
