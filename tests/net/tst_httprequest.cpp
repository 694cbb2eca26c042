// The request layer and the path helper, seen from the wire: what the server
// receives and what the caller gets back.
#include "app/globals.h"
#include "net/apipath.h"
#include "net/apireply.h"
#include "net/httprequest.h"
#include "net/signin.h"
#include "support/fakehttpserver.h"
#include "support/testenv.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QtTest>

namespace {
QStringList g_messages;
void captureMessages(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_messages.append(message);
}

FakeHttpServer::Response json(const QByteArray &body, int status = 200, int delayMs = 0)
{
    FakeHttpServer::Response response;
    response.status = status;
    response.body = body;
    response.delayMs = delayMs;
    return response;
}
} // namespace

class TestHttpRequest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initTestEnvironment(); }

    void init()
    {
        m_server.reset(new FakeHttpServer);
        QVERIFY(m_server->listen());
        g_apiBaseUrl = m_server->baseUrl();
    }

    void returnsTheReplyObjectOfAnEmptyJsonPost()
    {
        m_server->setResponse(QStringLiteral("ClientTunnelAction"),
                              json(R"({"code":0,"data":[{"id":"7"}]})"));
        HttpRequest request;
        const QJsonObject reply =
            request.postRequest(QStringLiteral("ClientTunnelAction?method=list"));
        QCOMPARE(reply.value("data").toArray().first().toObject().value("id").toString(),
                 QStringLiteral("7"));

        QCOMPARE(m_server->requestCount(), 1);
        const auto seen = m_server->requests().first();
        QCOMPARE(seen.method, QByteArray("POST"));
        QCOMPARE(seen.path, QStringLiteral("ClientTunnelAction"));
        QCOMPARE(seen.header("content-type"), QByteArray("application/json"));
        QVERIFY(seen.body.isEmpty());
    }

    void failuresBecomeEmptyObjects_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("500 with a JSON body") << 500 << QByteArray(R"({"code":1,"msg":"x"})");
        QTest::newRow("404") << 404 << QByteArray(R"({"code":1})");
        QTest::newRow("top-level array") << 200 << QByteArray(R"([{"code":1}])");
        QTest::newRow("not JSON") << 200 << QByteArray("<html>busy</html>");
        QTest::newRow("empty body") << 200 << QByteArray();
        QTest::newRow("cut off") << 200 << QByteArray("{\"code\":1,\"msg\":\"he");
    }

    void failuresBecomeEmptyObjects()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        m_server->setDefaultResponse(json(body, status));
        HttpRequest request;
        const QJsonObject reply =
            request.postRequest(QStringLiteral("ClientUserAction?method=login"));
        QVERIFY2(reply.isEmpty(), qPrintable(HttpRequest::jsonToString(reply)));
        QCOMPARE(replyCode(reply), 0);
        QVERIFY(!isActionSuccess(reply));
    }

    void refusedConnectionFailsFast()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 closedPort = probe.serverPort();
        probe.close();
        g_apiBaseUrl = QStringLiteral("http://127.0.0.1:%1/").arg(closedPort);

        QElapsedTimer clock;
        clock.start();
        HttpRequest request;
        const QJsonObject reply =
            request.postRequest(QStringLiteral("ClientUserAction?method=login"));
        QVERIFY(reply.isEmpty());
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    }

    void slowServerTimesOutAndTheTransferIsCancelled()
    {
        m_server->setDefaultResponse(json(R"({"code":1})", 200, 3000));
        QElapsedTimer clock;
        clock.start();
        {
            HttpRequest request;
            const QJsonObject reply =
                request.postRequest(QStringLiteral("ClientUserAction?method=login"));
            const qint64 waited = clock.elapsed();
            QVERIFY2(waited >= 1900 && waited < 2800, qPrintable(QString::number(waited)));
            QCOMPARE(reply.size(), 2);
            QCOMPARE(reply.value("code").toInt(), -1);
            QCOMPARE(reply.value("msg").toString(), QStringLiteral("连接超时"));
        }
        // The client gave up, so the server sees the connection closed long
        // before its answer would have been ready.
        QTRY_COMPARE_WITH_TIMEOUT(m_server->openConnections(), 0, 500);
    }

    // A call made while another waits (the window's timers do so) runs in a
    // loop nested inside the first one's. The first reply arrives in time; the
    // first call may only return after the second, but keeps its reply.
    void replyInTimeCountsWhileANestedCallWaits()
    {
        m_server->setResponse(QStringLiteral("ClientTunnelAction"),
                              json(R"({"code":0,"data":[]})", 200, 100));
        m_server->setResponse(QStringLiteral("ClientUserAction"), json(R"({"code":1})", 200, 2500));
        QJsonObject inner;
        QTimer::singleShot(50, [&inner] {
            HttpRequest nested;
            inner = nested.postRequest(QStringLiteral("ClientUserAction?method=getmsg"));
        });
        HttpRequest outer;
        const QJsonObject reply =
            outer.postRequest(QStringLiteral("ClientTunnelAction?method=list"));
        QVERIFY2(reply.value("data").isArray(), qPrintable(HttpRequest::jsonToString(reply)));
        QCOMPARE(reply.size(), 2);
        QCOMPARE(inner.value("code").toInt(), -1);
        QCOMPARE(inner.value("msg").toString(), QStringLiteral("连接超时"));
    }

    // Quitting ends every event loop, the request's own included: the
    // reply that has not come is no answer, empty or otherwise.
    void quitWhileWaitingIsAFailure()
    {
        m_server->setDefaultResponse(json(R"({"code":0,"data":[]})", 200, 1500));
        QJsonObject reply;
        qint64 waited = -1;
        QTimer::singleShot(0, [&] {
            QTimer::singleShot(100, qApp, &QCoreApplication::quit);
            QElapsedTimer clock;
            clock.start();
            HttpRequest request;
            reply = request.postRequest(QStringLiteral("ClientTunnelAction?method=list"));
            waited = clock.elapsed();
        });
        QCoreApplication::exec(); // the program's loop, which the quit ends
        QVERIFY2(waited >= 0 && waited < 1000, qPrintable(QString::number(waited)));
        QCOMPARE(replyCode(reply), -1);
        QVERIFY(!reply.value(QStringLiteral("msg")).toString().isEmpty());
        QVERIFY(!reply.contains(QStringLiteral("data")));
    }

    void valuesArriveAsTyped_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("ampersand") << QStringLiteral("pa&ss=word");
        QTest::newRow("plus and hash") << QStringLiteral("a+b#c");
        QTest::newRow("blanks") << QStringLiteral(" two words ");
        QTest::newRow("chinese") << QStringLiteral("用户名");
        QTest::newRow("percent") << QStringLiteral("100%25");
        QTest::newRow("plain") << QStringLiteral("Abc-1.2_3~");
    }

    void valuesArriveAsTyped()
    {
        QFETCH(QString, value);
        m_server->setDefaultResponse(json(R"({"code":0})"));
        HttpRequest request;
        request.postRequest(buildApiPath(QStringLiteral("ClientTunnelAction"),
                                         QStringLiteral("update"),
                                         {{QStringLiteral("username"), value},
                                          {QStringLiteral("password"), value},
                                          {QStringLiteral("id"), QStringLiteral("3")}}));
        QCOMPARE(m_server->requestCount(), 1);
        const auto seen = m_server->requests().first();
        QCOMPARE(seen.queryKeys(), (QStringList{"method", "username", "password", "id"}));
        QCOMPARE(seen.queryValue("method"), QStringLiteral("update"));
        QCOMPARE(seen.queryValue("username"), value);
        QCOMPARE(seen.queryValue("password"), value);
        QCOMPARE(seen.queryValue("id"), QStringLiteral("3"));
    }

    void plainValuesGoOnTheWireUnchanged()
    {
        m_server->setDefaultResponse(json(R"({"code":0})"));
        HttpRequest request;
        request.postRequest(loginPath(QStringLiteral("demo_user"), QStringLiteral("Secret-1.0")));
        QCOMPARE(m_server->requests().first().rawQuery,
                 QByteArray("method=login&username=demo_user&password=Secret-1.0&c_version=8.9.8"));
    }

    void debugOutputHidesThePassword()
    {
        m_server->setDefaultResponse(json(R"({"code":0})"));
        g_messages.clear();
        const auto previous = qInstallMessageHandler(captureMessages);
        {
            HttpRequest request;
            request.postRequest(loginPath(QStringLiteral("bob"), QStringLiteral("s3cret&x")));
        }
        qInstallMessageHandler(previous);
        const QString all = g_messages.join('\n');
        QVERIFY2(!all.contains(QStringLiteral("s3cret")), qPrintable(all));
        QVERIFY2(
            all.contains(QStringLiteral(
                "请求url=ClientUserAction?method=login&username=bob&password=***&c_version=8.9.8")),
            qPrintable(all));
        QVERIFY(all.contains(QStringLiteral("http请求已发送")));
        // The request itself still carries the real password.
        QCOMPARE(m_server->requests().first().queryValue("password"), QStringLiteral("s3cret&x"));
    }

    void replyCodeReadsOnlyNumbers()
    {
        QCOMPARE(replyCode(QJsonDocument::fromJson(R"({"code":1})").object()), 1);
        QCOMPARE(replyCode(QJsonDocument::fromJson(R"({"code":"1"})").object()), 0);
        QCOMPARE(replyCode(QJsonDocument::fromJson(R"({"code":null})").object()), 0);
        QCOMPARE(replyCode(QJsonObject()), 0);
        QCOMPARE(replyMessage(QJsonDocument::fromJson(R"({"msg":5})").object()), QString());
    }

private:
    QScopedPointer<FakeHttpServer> m_server;
};

QTEST_MAIN(TestHttpRequest)
#include "tst_httprequest.moc"
