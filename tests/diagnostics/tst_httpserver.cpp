// The local test web server as a browser sees it: the exact reply bytes over a
// real loopback connection, many connections, and a port that is taken.
#include "app/globals.h"
#include "diagnostics/httpserverthread.h"
#include "diagnostics/testpage.h"
#include "support/testenv.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const QByteArray kHead = "HTTP/1.1 200 OK\r\n"
                         "Content-Type: text/html\r\n"
                         "Connection: keep-alive\r\n"
                         "Date: ";
const QByteArray kFixedHeaders = "Etag: W/\"10114-1648135252000\"\r\n"
                                 "Keep-Alive: timeout=20\r\n"
                                 "Server: tessaro server/1.0.1\r\n"
                                 "Content-Length: ";

struct Reply
{
    QByteArray head; // up to and including the empty line
    QList<QByteArray> headerLines;
    QByteArray body;
    int contentLength = -1;
};

// Reads one response: the header block, then Content-Length bytes of body.
// Anything after that is left in `body` too, so extra bytes show up.
bool readReply(QTcpSocket &socket, Reply &reply, int timeoutMs = 5000)
{
    QByteArray data;
    QElapsedTimer clock;
    clock.start();
    int headEnd = -1;
    while (clock.elapsed() < timeoutMs) {
        data += socket.readAll();
        if (headEnd < 0) {
            headEnd = data.indexOf("\r\n\r\n");
            if (headEnd >= 0) {
                reply.head = data.left(headEnd + 4);
                reply.headerLines = data.left(headEnd).split('\n');
                for (QByteArray &line : reply.headerLines)
                    line.chop(line.endsWith('\r') ? 1 : 0);
                for (const QByteArray &line : qAsConst(reply.headerLines))
                    if (line.startsWith("Content-Length: "))
                        reply.contentLength = line.mid(16).toInt();
            }
        }
        if (headEnd >= 0 && reply.contentLength >= 0 &&
            data.size() - (headEnd + 4) >= reply.contentLength) {
            reply.body = data.mid(headEnd + 4);
            return true;
        }
        // The server answers from this thread's event loop.
        QTest::qWait(5);
    }
    return false;
}

QString expectedBody(const QString &escapedId, const QString &time)
{
    return QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>web "
                          "server</title></head><body><h1>Hi,") +
           escapedId +
           QStringLiteral("</h1><p>This is your local web service page, current time is ") + time +
           QStringLiteral("</p></body></html>");
}

} // namespace

class TestHttpServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void responseBytes_data();
    void responseBytes();
    void answersAConnectionThatSendsNothing();
    void answersEveryConnectionWithItsOwnTime();
    void releasesSocketsOfClosedConnections();
    void takenPortLeavesTheServerNotListening();
    void idleConnectionIsClosedAfterItsLastByte();
    void crowdOfIdlePeersLeavesRoomForTheNextVisitor();

private:
    std::unique_ptr<HttpServerThread> startedServer();
};

void TestHttpServer::initTestCase()
{
    initTestEnvironment();
}

void TestHttpServer::init()
{
    g_userId = QStringLiteral("42");
}

std::unique_ptr<HttpServerThread> TestHttpServer::startedServer()
{
    auto server = std::make_unique<HttpServerThread>(0, QHostAddress::LocalHost);
    QTest::ignoreMessage(QtDebugMsg, "Server started. Listening on port 18000.");
    server->startServer();
    return server;
}

void TestHttpServer::responseBytes_data()
{
    QTest::addColumn<QString>("userId");
    QTest::addColumn<QString>("shownId");
    QTest::newRow("digits") << "42"
                            << "42";
    QTest::newRow("non-ASCII") << "用户七号"
                               << "用户七号";
    QTest::newRow("markup escaped") << "<script>&\"x\""
                                    << "&lt;script&gt;&amp;&quot;x&quot;";
    QTest::newRow("empty") << ""
                           << "";
}

void TestHttpServer::responseBytes()
{
    QFETCH(QString, userId);
    QFETCH(QString, shownId);
    const QDateTime header(QDate(2024, 3, 5), QTime(9, 7, 3), Qt::OffsetFromUTC, 8 * 3600);
    const QDateTime page(QDate(2024, 3, 5), QTime(9, 7, 4), Qt::OffsetFromUTC, 8 * 3600);
    const QByteArray body = expectedBody(shownId, "05 Mar 2024 09:07:04 +0800").toUtf8();
    const QByteArray expected = kHead + "05 Mar 2024 09:07:03 +0800\r\n" + kFixedHeaders +
                                QByteArray::number(body.size()) + "\r\n\r\n" + body;
    QCOMPARE(testPageResponse(userId, header, page), expected);
}

void TestHttpServer::answersAConnectionThatSendsNothing()
{
    g_userId = QStringLiteral("张三<b>");
    auto server = startedServer();
    QVERIFY(server->isListening());
    QVERIFY(server->serverPort() != 0);

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server->serverPort());
    QVERIFY(client.waitForConnected(3000));
    Reply reply;
    QVERIFY(readReply(client, reply));

    QVERIFY(reply.head.startsWith(kHead));
    QCOMPARE(reply.headerLines.size(), 8);
    QCOMPARE(reply.headerLines.mid(4, 3),
             (QList<QByteArray>{"Etag: W/\"10114-1648135252000\"", "Keep-Alive: timeout=20",
                                "Server: tessaro server/1.0.1"}));
    QCOMPARE(reply.headerLines[7], "Content-Length: " + QByteArray::number(reply.contentLength));

    // The date is now, in RFC 2822 form.
    const QString date = QString::fromLatin1(reply.headerLines[3].mid(6));
    const QDateTime sent = QDateTime::fromString(date, Qt::RFC2822Date);
    QVERIFY2(sent.isValid(), qPrintable(date));
    QVERIFY(qAbs(sent.secsTo(QDateTime::currentDateTime())) <= 5);

    // Length counts UTF-8 bytes; the ID is escaped; the page time is readable.
    QCOMPARE(reply.body.size(), reply.contentLength);
    const QString text = QString::fromUtf8(reply.body);
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("current time is (.*)</p>")).match(text);
    QVERIFY(match.hasMatch());
    QVERIFY(QDateTime::fromString(match.captured(1), Qt::RFC2822Date).isValid());
    QCOMPARE(text, expectedBody(QStringLiteral("张三&lt;b&gt;"), match.captured(1)));

    // Nothing more follows, and the connection stays open.
    QTest::qWait(300);
    QCOMPARE(client.bytesAvailable(), 0);
    QCOMPARE(client.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(server->openConnections(), 1);
}

void TestHttpServer::answersEveryConnectionWithItsOwnTime()
{
    auto server = startedServer();
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, server->serverPort());
        QVERIFY(clients.back()->waitForConnected(3000));
    }
    // Whatever is asked, the answer is the same page.
    clients[1]->write("GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    clients[2]->write("POST /x HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc");
    QList<QByteArray> dates;
    for (auto &client : clients) {
        Reply reply;
        QVERIFY(readReply(*client, reply));
        QVERIFY(reply.head.startsWith(kHead));
        QCOMPARE(reply.body.size(), reply.contentLength);
        QVERIFY(reply.body.contains("<h1>Hi,42</h1>"));
        dates.append(reply.headerLines[3]);
    }
    QCOMPARE(server->openConnections(), 3);

    // A later visit gets a later time.
    QTest::qWait(1100);
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, server->serverPort());
    QVERIFY(late.waitForConnected(3000));
    Reply reply;
    QVERIFY(readReply(late, reply));
    const auto timeOf = [](const QByteArray &line) {
        return QDateTime::fromString(QString::fromLatin1(line.mid(6)), Qt::RFC2822Date);
    };
    QVERIFY(timeOf(reply.headerLines[3]) > timeOf(dates.first()));
}

void TestHttpServer::releasesSocketsOfClosedConnections()
{
    auto server = startedServer();
    const int batch = 50;
    int peak = 0;
    for (int round = 0; round < 1000 / batch; ++round) {
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < batch; ++i) {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(QHostAddress::LocalHost, server->serverPort());
        }
        for (auto &client : clients)
            QVERIFY(client->waitForConnected(3000));
        QTRY_COMPARE(server->openConnections(), batch);
        peak = qMax(peak, server->openConnections());
        // Half the peers read the page and close politely, half drop the
        // connection with the page unread.
        for (int i = 0; i < batch; ++i) {
            if (i % 2 == 0) {
                Reply reply;
                QVERIFY(readReply(*clients[i], reply));
                clients[i]->disconnectFromHost();
            } else {
                clients[i]->abort();
            }
        }
        clients.clear();
        QTRY_COMPARE(server->openConnections(), 0);
    }
    QCOMPARE(peak, batch);

    // Still serving afterwards.
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server->serverPort());
    QVERIFY(client.waitForConnected(3000));
    Reply reply;
    QVERIFY(readReply(client, reply));
    QCOMPARE(reply.body.size(), reply.contentLength);
}

void TestHttpServer::takenPortLeavesTheServerNotListening()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost));

    HttpServerThread server(holder.serverPort(), QHostAddress::LocalHost);
    QVERIFY(!server.isListening());
    QTest::ignoreMessage(QtDebugMsg, "Failed to start server.");
    server.startServer();
    QVERIFY(!server.isListening());

    // The port's owner gets the visitor; the failed server stays quiet.
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, holder.serverPort());
    QVERIFY(client.waitForConnected(3000));
    QVERIFY(holder.waitForNewConnection(3000));
    QTest::qWait(300);
    QCOMPARE(client.bytesAvailable(), 0);
    QCOMPARE(server.openConnections(), 0);

    // Once the port is free, starting again works.
    holder.close();
    QTest::ignoreMessage(QtDebugMsg, "Server started. Listening on port 18000.");
    server.startServer();
    QVERIFY(server.isListening());
}

void TestHttpServer::idleConnectionIsClosedAfterItsLastByte()
{
    auto server = startedServer();
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, server->serverPort());
    Reply reply;
    QVERIFY(readReply(peer, reply));
    QElapsedTimer clock;
    clock.start();
    // A byte from the peer later on restarts the wait.
    QTest::qWait(8000);
    peer.write("x");
    QTest::qWait(14000);
    QCOMPARE(peer.state(), QAbstractSocket::ConnectedState);
    QTRY_COMPARE_WITH_TIMEOUT(peer.state(), QAbstractSocket::UnconnectedState, 8000);
    QVERIFY2(clock.elapsed() >= 8000 + HttpServerThread::IdleTimeoutMs - 500,
             qPrintable(QString::number(clock.elapsed())));
}

void TestHttpServer::crowdOfIdlePeersLeavesRoomForTheNextVisitor()
{
    auto server = startedServer();
    std::vector<std::unique_ptr<QTcpSocket>> crowd;
    for (int i = 0; i < 300; ++i) {
        crowd.push_back(std::make_unique<QTcpSocket>());
        crowd.back()->connectToHost(QHostAddress::LocalHost, server->serverPort());
        QVERIFY(crowd.back()->waitForConnected(3000));
        // One at a time, so the first ones are the longest idle.
        QTRY_VERIFY(server->openConnections() >= qMin(i + 1, HttpServerThread::MaxConnections));
    }
    QTRY_COMPARE(server->openConnections(), HttpServerThread::MaxConnections);

    QElapsedTimer clock;
    clock.start();
    QTcpSocket visitor;
    visitor.connectToHost(QHostAddress::LocalHost, server->serverPort());
    Reply reply;
    QVERIFY(readReply(visitor, reply, 1000));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE(server->openConnections(), HttpServerThread::MaxConnections);
    // Those that made room were the longest idle.
    QTRY_COMPARE(crowd.front()->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(crowd.back()->state(), QAbstractSocket::ConnectedState);
}

QTEST_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
