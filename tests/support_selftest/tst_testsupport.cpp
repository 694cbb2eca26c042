#include "support/fakecommand.h"
#include "support/fakehttpserver.h"
#include "support/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

using Response = FakeHttpServer::Response;
Q_DECLARE_METATYPE(FakeHttpServer::Response)

namespace {

std::unique_ptr<QNetworkReply> finished(QNetworkReply *reply, int timeoutMs = 5000)
{
    std::unique_ptr<QNetworkReply> owned(reply);
    if (!reply->isFinished()) {
        QSignalSpy spy(reply, &QNetworkReply::finished);
        spy.wait(timeoutMs);
    }
    return owned;
}

int statusOf(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// Direct children of a process, from /proc.
QList<qint64> childPids(qint64 pid)
{
    QList<qint64> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool numeric = false;
        entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // "pid (comm) state ppid ..."; comm may contain blanks, so start after ')'.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == pid)
            children.append(entry.toLongLong());
    }
    return children;
}

} // namespace

class TestSupport : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void serverRecordsRequestAndPicksMostSpecificRoute();
    void serverErrorStatusKeepsBody();
    void serverDelayedAnswerDoesNotHoldOtherConnections();
    void serverSeesClientGiveUp_data();
    void serverSeesClientGiveUp();
    void serverResetGivesClientError();
    void serverBinaryPicture();
    void serverAnswersPipelinedRequestsInOrder();

    void commandOutputExitCodeAndArguments();
    void commandHangIsKilled();

private:
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<QNetworkAccessManager> m_manager;
};

void TestSupport::initTestCase()
{
    initTestEnvironment();
}

void TestSupport::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    QVERIFY(m_server->listen());
    m_manager = std::make_unique<QNetworkAccessManager>();
    m_manager->setProxy(QNetworkProxy::NoProxy);
}

void TestSupport::cleanup()
{
    m_manager.reset();
    m_server.reset();
}

void TestSupport::serverRecordsRequestAndPicksMostSpecificRoute()
{
    Response login;
    login.body = R"({"result":"ok"})";
    Response generic;
    generic.body = "generic";
    m_server->setResponse(QStringLiteral("ClientUserAction?method=login"), login);
    m_server->setResponse(QStringLiteral("ClientUserAction"), generic);

    const QByteArray query = "method=login&username=a%26b&note=x+y&name=%E4%B8%AD";
    QNetworkRequest request(
        QUrl::fromEncoded(m_server->baseUrl().toUtf8() + "ClientUserAction?" + query));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    request.setRawHeader("X-Token", "abc 123");
    auto reply = finished(m_manager->post(request, QByteArray("pw=%3D%3D")));
    QCOMPARE(reply->error(), QNetworkReply::NoError);
    QCOMPARE(reply->readAll(), login.body);
    QCOMPARE(reply->header(QNetworkRequest::ContentTypeHeader).toString(),
             QStringLiteral("application/json; charset=utf-8"));

    QCOMPARE(m_server->requestCount(), 1);
    const FakeHttpServer::Request got = m_server->requests().first();
    QCOMPARE(got.method, QByteArray("POST"));
    QCOMPARE(got.path, QStringLiteral("ClientUserAction"));
    QCOMPARE(got.rawQuery, query);
    QCOMPARE(got.queryKeys(), QStringList({"method", "username", "note", "name"}));
    QCOMPARE(got.queryValue(QStringLiteral("username")), QStringLiteral("a&b"));
    QCOMPARE(got.queryValue(QStringLiteral("note")), QStringLiteral("x+y"));
    QCOMPARE(got.queryValue(QStringLiteral("name")), QString::fromUtf8("\xE4\xB8\xAD"));
    QCOMPARE(got.header("x-token"), QByteArray("abc 123"));
    QCOMPARE(got.header("content-type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(got.header("content-length"), QByteArray("9"));
    QCOMPARE(got.body, QByteArray("pw=%3D%3D"));

    // Another method on the same action falls back to the plain route, an
    // unknown action to the default 404; paths arrive decoded.
    reply = finished(m_manager->get(
        QNetworkRequest(QUrl(m_server->baseUrl() + "ClientUserAction?method=logout"))));
    QCOMPARE(reply->readAll(), QByteArray("generic"));
    reply = finished(m_manager->get(QNetworkRequest(QUrl(m_server->baseUrl() + "No%20Such"))));
    QCOMPARE(statusOf(reply.get()), 404);
    QCOMPARE(m_server->requestCount(), 3);
    QCOMPARE(m_server->requests().at(1).method, QByteArray("GET"));
    QVERIFY(m_server->requests().at(1).body.isEmpty());
    QCOMPARE(m_server->requests().at(2).path, QStringLiteral("No Such"));

    m_server->clearRequests();
    QCOMPARE(m_server->requestCount(), 0);
}

void TestSupport::serverErrorStatusKeepsBody()
{
    Response failure;
    failure.status = 500;
    failure.body = R"({"error":"database down"})";
    failure.extraHeaders = {{"Retry-After", "30"}};
    m_server->setResponse(QStringLiteral("ClientUserAction"), failure);

    QNetworkRequest request(QUrl(m_server->baseUrl() + "ClientUserAction"));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    auto reply = finished(m_manager->post(request, QByteArray("x=1")));
    QCOMPARE(reply->error(), QNetworkReply::InternalServerError);
    QCOMPARE(statusOf(reply.get()), 500);
    QCOMPARE(reply->rawHeader("Retry-After"), QByteArray("30"));
    QCOMPARE(reply->readAll(), failure.body);
}

void TestSupport::serverDelayedAnswerDoesNotHoldOtherConnections()
{
    Response slow;
    slow.body = "slow";
    slow.delayMs = 400;
    m_server->setResponse(QStringLiteral("slow"), slow);
    Response fast;
    fast.body = "fast";
    m_server->setResponse(QStringLiteral("fast"), fast);

    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QNetworkReply> slowReply(
        m_manager->get(QNetworkRequest(QUrl(m_server->baseUrl() + "slow"))));
    QVERIFY(m_server->waitForRequests(1, 3000));
    auto fastReply = finished(m_manager->get(QNetworkRequest(QUrl(m_server->baseUrl() + "fast"))));
    QCOMPARE(fastReply->readAll(), QByteArray("fast"));
    QVERIFY(!slowReply->isFinished());

    finished(slowReply.release());
    QVERIFY(clock.elapsed() >= 380); // coarse timers may fire up to 5% early
    QCOMPARE(m_server->openConnections(), 2);
}

void TestSupport::serverSeesClientGiveUp_data()
{
    QTest::addColumn<Response>("response");
    Response never;
    never.neverAnswer = true;
    QTest::newRow("never answers") << never;
    Response late;
    late.delayMs = 300;
    late.body = "too late";
    QTest::newRow("delay outlives the connection") << late;
}

void TestSupport::serverSeesClientGiveUp()
{
    QFETCH(Response, response);
    m_server->setResponse(QStringLiteral("wait"), response);
    Response ok;
    ok.body = "still here";
    m_server->setResponse(QStringLiteral("ping"), ok);

    QNetworkReply *reply = m_manager->get(QNetworkRequest(QUrl(m_server->baseUrl() + "wait")));
    QVERIFY(m_server->waitForRequests(1, 3000));
    QCOMPARE(m_server->openConnections(), 1);
    reply->abort();
    delete reply;
    QTRY_COMPARE_WITH_TIMEOUT(m_server->openConnections(), 0, 3000);

    // Past any pending delay the server is unharmed and still serving.
    QTest::qWait(400);
    auto next = finished(m_manager->get(QNetworkRequest(QUrl(m_server->baseUrl() + "ping"))));
    QCOMPARE(next->readAll(), QByteArray("still here"));
}

void TestSupport::serverResetGivesClientError()
{
    Response reset;
    reset.resetConnection = true;
    reset.body = "must not arrive";
    m_server->setDefaultResponse(reset);

    auto reply = finished(m_manager->get(QNetworkRequest(QUrl(m_server->baseUrl() + "x"))));
    QVERIFY(reply->isFinished());
    QVERIFY(reply->error() != QNetworkReply::NoError);
    QVERIFY(!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid());
    QVERIFY(reply->readAll().isEmpty());
    QVERIFY(m_server->requestCount() >= 1); // the client may retry on a fresh connection
    QTRY_COMPARE(m_server->openConnections(), 0);
}

void TestSupport::serverBinaryPicture()
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    for (int i = 0; i < 100000; ++i)
        png.append(char(i % 256));
    Response picture;
    picture.body = png;
    picture.contentType = "image/png";
    m_server->setResponse(QStringLiteral("images/x.png"), picture);

    auto reply =
        finished(m_manager->get(QNetworkRequest(QUrl(m_server->baseUrl() + "images/x.png"))));
    QCOMPARE(reply->error(), QNetworkReply::NoError);
    QCOMPARE(reply->header(QNetworkRequest::ContentTypeHeader).toString(),
             QStringLiteral("image/png"));
    QCOMPARE(reply->readAll(), png);
}

void TestSupport::serverAnswersPipelinedRequestsInOrder()
{
    // Two requests in one packet: the first answer is delayed, the second must
    // still come after it; the second has a chunked body and asks to close.
    Response first;
    first.body = "first";
    first.delayMs = 100;
    m_server->setResponse(QStringLiteral("a"), first);
    Response second;
    second.body = "second";
    m_server->setResponse(QStringLiteral("b"), second);

    QTcpSocket socket;
    QByteArray received;
    connect(&socket, &QTcpSocket::readyRead, this, [&] { received += socket.readAll(); });
    QSignalSpy closed(&socket, &QTcpSocket::disconnected);
    socket.connectToHost(QHostAddress::LocalHost, m_server->port());
    QVERIFY(socket.waitForConnected(3000));
    socket.write("GET /a?x=1 HTTP/1.1\r\nHost: h\r\n\r\n"
                 "POST /b HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n"
                 "Connection: close\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n");
    QVERIFY(closed.wait(3000));

    const int firstAt = received.indexOf("\r\n\r\nfirst");
    const int secondAt = received.indexOf("\r\n\r\nsecond");
    QVERIFY2(firstAt > 0 && secondAt > firstAt, received.constData());
    QVERIFY(received.startsWith("HTTP/1.1 200 "));
    QVERIFY(received.mid(firstAt).contains("Connection: close\r\n"));
    QCOMPARE(m_server->requestCount(), 2);
    QCOMPARE(m_server->requests().at(0).rawQuery, QByteArray("x=1"));
    QCOMPARE(m_server->requests().at(1).body, QByteArray("hello world"));
    QTRY_COMPARE(m_server->openConnections(), 0);
}

void TestSupport::commandOutputExitCodeAndArguments()
{
    FakeCommand sc(QStringLiteral("sc"));
    QCOMPARE(QFileInfo(sc.program()).completeBaseName(), QStringLiteral("sc"));
    QVERIFY(QFileInfo(sc.program()).isAbsolute());
    QCOMPARE(sc.runCount(), 0);

    QByteArray output("SERVICE_NAME: x\r\n\xB7\xFE\xCE\xF1\0tail\r\n", 25);
    output.append(QByteArray(200000, 'z')); // more than a pipe holds
    output.append("\r\n");
    sc.setOutput(output);
    sc.setExitCode(3);
    sc.setDelayMs(150);

    const QStringList args = {"query", "Tessaro Service", "type= own", "", "it's \"quoted\""};
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(sc.program(), args);
    QVERIFY(process.waitForFinished(5000));
    QVERIFY(clock.elapsed() >= 150);
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 3);
    QCOMPARE(process.readAllStandardOutput(), output);

    sc.setExitCode(0);
    sc.setDelayMs(0);
    process.start(sc.program(), QStringList());
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 0);

    QCOMPARE(sc.runCount(), 2);
    QCOMPARE(sc.invocations(), QList<QStringList>({args, QStringList()}));
}

void TestSupport::commandHangIsKilled()
{
    FakeCommand ps(QStringLiteral("ps"));
    ps.setOutput("ready\n");
    ps.setHang(true);

    QProcess process;
    process.start(ps.program(), {"-ef"});
    QVERIFY(process.waitForStarted(3000));
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += process.readAllStandardOutput()).contains("ready"), 3000);

    // Nothing may be left running beside the process we kill: the hang must
    // be the process itself, not a child it waits on.
    const qint64 pid = process.processId();
    QTRY_VERIFY(childPids(pid).isEmpty());
    QTest::qWait(200);
    QVERIFY(childPids(pid).isEmpty());
    QCOMPARE(process.state(), QProcess::Running);

    process.kill();
    QVERIFY(process.waitForFinished(3000));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QCOMPARE(ps.invocations(), QList<QStringList>({QStringList{"-ef"}}));
}

QTEST_GUILESS_MAIN(TestSupport)
#include "tst_testsupport.moc"
