#include "diagnostics/httpserverthread.h"

#include "app/globals.h"
#include "diagnostics/testpage.h"

#include <QDateTime>
#include <QDebug>
#include <QTcpSocket>
#include <QTimer>

namespace {
quint16 g_defaultPort = HttpServerThread::DefaultPort;
QHostAddress g_defaultAddress = QHostAddress(QHostAddress::Any);

// When a connection last saw a byte, in ms of the server's clock.
const char kLastActivity[] = "tessaroLastActivity";

// Every server of this process, for the toolbox to ask about.
QList<const HttpServerThread *> &servers()
{
    static QList<const HttpServerThread *> list;
    return list;
}
} // namespace

void HttpServerThread::setDefaultEndpoint(quint16 port, const QHostAddress &address)
{
    g_defaultPort = port;
    g_defaultAddress = address;
}

HttpServerThread::HttpServerThread() : HttpServerThread(g_defaultPort, g_defaultAddress) {}

HttpServerThread::HttpServerThread(quint16 port, const QHostAddress &address)
    : QThread(nullptr), m_server(), m_port(port), m_address(address)
{
    servers().append(this);
    m_activityClock.start();
}

HttpServerThread::~HttpServerThread()
{
    servers().removeAll(this);
}

bool HttpServerThread::anyListening()
{
    for (const HttpServerThread *server : servers())
        if (server->isListening())
            return true;
    return false;
}

void HttpServerThread::startServer()
{
    if (m_server.isListening())
        return;
    if (!m_server.listen(m_address, m_port)) {
        qDebug() << "Failed to start server.";
        return;
    }
    qDebug() << "Server started. Listening on port 18000.";
    connect(&m_server, &QTcpServer::newConnection, this, &HttpServerThread::handleNewConnection);
}

bool HttpServerThread::isListening() const
{
    return m_server.isListening();
}

quint16 HttpServerThread::serverPort() const
{
    return m_server.serverPort();
}

int HttpServerThread::openConnections() const
{
    return m_server.findChildren<QTcpSocket *>(QString(), Qt::FindDirectChildrenOnly).size();
}

void HttpServerThread::handleNewConnection()
{
    qDebug() << "接收到一个客户端访问请求";
    QTcpSocket *socket = m_server.nextPendingConnection();
    if (!socket)
        return;

    // Visitors come through a public tunnel: the longest-idle connection
    // makes room once the limit is reached, so no crowd of silent peers can
    // shut the next visitor out.
    QList<QTcpSocket *> open;
    for (QTcpSocket *peer :
         m_server.findChildren<QTcpSocket *>(QString(), Qt::FindDirectChildrenOnly))
        if (peer != socket && peer->state() == QAbstractSocket::ConnectedState)
            open.append(peer);
    if (open.size() >= MaxConnections) {
        QTcpSocket *idlest = open.first();
        for (QTcpSocket *peer : qAsConst(open))
            if (peer->property(kLastActivity).toLongLong() <
                idlest->property(kLastActivity).toLongLong())
                idlest = peer;
        idlest->abort();
        idlest->deleteLater();
    }

    // The socket goes as soon as its peer is gone, so a server that runs for
    // the whole session does not collect one socket per visit. Not on errors:
    // after a peer's half-close Qt still flushes the page before disconnecting.
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);

    // Closed once idle as long as every reply's "Keep-Alive: timeout=20" says.
    auto *idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->setInterval(IdleTimeoutMs);
    connect(idle, &QTimer::timeout, socket, [socket] { socket->disconnectFromHost(); });
    const auto active = [this, socket, idle] {
        socket->setProperty(kLastActivity, m_activityClock.elapsed());
        idle->start();
    };
    active();
    // Requests are never looked at; dropping what arrives keeps a peer that
    // sends without end from filling memory.
    connect(socket, &QTcpSocket::readyRead, socket, [socket, active] {
        socket->readAll();
        active();
    });
    connect(socket, &QTcpSocket::bytesWritten, socket, active);

    writeResponse(socket);
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
}

void HttpServerThread::writeResponse(QIODevice *socket)
{
    qDebug() << "处理客户端访问请求";
    const QDateTime headerTime = QDateTime::currentDateTime();
    const QDateTime pageTime = QDateTime::currentDateTime();
    socket->write(testPageResponse(g_userId, headerTime, pageTime));
    qDebug() << "响应发送完成";
}
