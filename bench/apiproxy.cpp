// Stands between the client and the provider: holds every API request back
// for a fixed delay before passing it on, and can answer the tunnel list
// itself with a given number of tunnels. Also a host that accepts every
// connection and never answers (the pictures of a provider whose picture
// server hangs).
#include "benchutil.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>

namespace bench {

namespace {

QByteArray tunnelListResponse(int count)
{
    QJsonArray data;
    for (int i = 0; i < count; ++i) {
        const QString id = QString::number(1000 + i);
        data.append(QJsonObject{
            {QStringLiteral("name"), QStringLiteral("bench-%1").arg(i)},
            {QStringLiteral("id"), id},
            {QStringLiteral("domain"), QStringLiteral("t%1.bench.local").arg(i)},
            {QStringLiteral("dst_address"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("dst_port"), QString::number(8000 + i % 1000)},
            {QStringLiteral("public_address"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("public_port"), QString::number(40000 + i)},
            {QStringLiteral("public_port2"), QString()},
            {QStringLiteral("domain_type"), QStringLiteral("1")},
            {QStringLiteral("channel_type"), QStringLiteral("2")},
            {QStringLiteral("channel_state"), QStringLiteral("1")},
            {QStringLiteral("channel_model"), QStringLiteral("3")},
            {QStringLiteral("model"), QStringLiteral("8")},
            {QStringLiteral("domain_auth"), QStringLiteral("0")},
            {QStringLiteral("daikuan"), QStringLiteral("10")},
        });
    }
    QJsonObject reply{{QStringLiteral("code"), 0}, {QStringLiteral("msg"), QString()}};
    reply.insert(QStringLiteral("data"), data);
    const QByteArray body = QJsonDocument(reply).toJson(QJsonDocument::Compact);
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// Length of the first complete request in the buffer, or 0.
int completeRequestLength(const QByteArray &buffer)
{
    const int headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return 0;
    int bodyLength = 0;
    for (const QByteArray &line : buffer.left(headerEnd).split('\n')) {
        if (line.toLower().startsWith("content-length:"))
            bodyLength = line.mid(15).trimmed().toInt();
    }
    const int total = headerEnd + 4 + bodyLength;
    return buffer.size() >= total ? total : 0;
}

} // namespace

int runProxy(const QStringList &args)
{
    int argc = 1;
    char name[] = "tessaro-bench";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const quint16 target = option(args, QStringLiteral("target")).toUShort();
    const int delayMs = option(args, QStringLiteral("delay-ms"), QStringLiteral("0")).toInt();
    const int tunnels = option(args, QStringLiteral("tunnels"), QStringLiteral("-1")).toInt();
    const QByteArray listResponse = tunnels >= 0 ? tunnelListResponse(tunnels) : QByteArray();

    QTcpServer server;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *client = server.nextPendingConnection()) {
            auto *upstream = new QTcpSocket(client);
            auto *pending = new QByteArray;
            QObject::connect(client, &QObject::destroyed, [pending] { delete pending; });
            upstream->connectToHost(QStringLiteral("127.0.0.1"), target);
            QObject::connect(upstream, &QTcpSocket::readyRead,
                             [client, upstream] { client->write(upstream->readAll()); });
            QObject::connect(upstream, &QTcpSocket::disconnected, client,
                             &QTcpSocket::disconnectFromHost);
            QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            QObject::connect(client, &QTcpSocket::readyRead, [=, &listResponse] {
                pending->append(client->readAll());
                while (const int length = completeRequestLength(*pending)) {
                    const QByteArray request = pending->left(length);
                    pending->remove(0, length);
                    const QByteArray line = request.left(request.indexOf('\r'));
                    const bool list = !listResponse.isEmpty() &&
                                      line.contains("ClientTunnelAction") &&
                                      line.contains("method=list");
                    QPointer<QTcpSocket> to(client);
                    QPointer<QTcpSocket> up(upstream);
                    QTimer::singleShot(delayMs, [to, up, list, request, &listResponse] {
                        if (list && to)
                            to->write(listResponse);
                        else if (up)
                            up->write(request);
                    });
                }
            });
        }
    });
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "proxy cannot listen\n");
        return 1;
    }
    report(QStringLiteral("proxy listening on 127.0.0.1:%1").arg(server.serverPort()));
    return app.exec();
}

int runSilentHost(const QStringList &args)
{
    Q_UNUSED(args)
    int argc = 1;
    char name[] = "tessaro-bench";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QTcpServer server;
    QObject::connect(&server, &QTcpServer::newConnection, [&server] {
        while (QTcpSocket *client = server.nextPendingConnection()) {
            // Read and dropped; the connection stays open until the client
            // gives up on it.
            QObject::connect(client, &QTcpSocket::readyRead, client,
                             [client] { client->readAll(); });
            QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        }
    });
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "silent host cannot listen\n");
        return 1;
    }
    report(QStringLiteral("silent listening on 127.0.0.1:%1").arg(server.serverPort()));
    return app.exec();
}

} // namespace bench
