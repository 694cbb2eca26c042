// Tunnels end to end on loopback: the provider's tunnel login server and
// relay, the service started through tessaro-sc, and visitors on the public
// ports, checked with an echo server and a load generator that compares every
// byte.

#include "support/servicetool.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <QtTest>

#include <memory>

namespace {

const QString g_service = QStringLiteral("tessarosvc");
constexpr int kDemoWebTunnelPort = 20000; // demo tunnel to 127.0.0.1:18000

QString program(const char *name)
{
    return standinProgram(QLatin1String(name));
}

// The service folder as the stand-ins see it (they run without Qt's test mode).
QString serviceFolder()
{
    QStandardPaths::setTestModeEnabled(false);
    const QString root = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QStandardPaths::setTestModeEnabled(true);
    return root + QStringLiteral("/tessaro/service");
}

QByteArray serviceLog()
{
    QFile log(serviceFolder() + QStringLiteral("/logs/tessarosvc.log"));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

int sc(const QStringList &arguments)
{
    return runServiceTool(arguments).exitCode;
}

// As the client restarts the service: a stop returns at once, and a start is
// refused until the service has ended.
bool restartService()
{
    return sc({"stop", g_service}) == 0 &&
           waitForServiceState(g_service, QStringLiteral("STOPPED"), 15000) &&
           sc({"start", g_service}) == 0;
}

// A helper program that prints a line with its port, then runs until stopped.
class Background
{
public:
    ~Background() { stop(); }

    // Waits for each pattern's first number and returns them in order.
    QList<int> start(const QString &path, const QStringList &arguments, const QStringList &patterns)
    {
        m_output.clear();
        m_process.setProgram(path);
        m_process.setArguments(arguments);
        m_process.start();
        QList<int> ports;
        QElapsedTimer timer;
        timer.start();
        while (ports.size() < patterns.size() && timer.elapsed() < 30000 &&
               m_process.waitForReadyRead(30000)) {
            m_output += m_process.readAllStandardOutput();
            ports.clear();
            for (const QString &pattern : patterns) {
                const auto match = QRegularExpression(pattern).match(QString::fromUtf8(m_output));
                if (!match.hasMatch())
                    break;
                ports.append(match.captured(1).toInt());
            }
        }
        return ports;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // True once the program has printed the text (output arrives with a delay).
    bool printed(const QByteArray &text, int withinMs = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!m_output.contains(text) && timer.elapsed() < withinMs) {
            m_process.waitForReadyRead(100);
            m_output += m_process.readAllStandardOutput();
        }
        return m_output.contains(text);
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

struct LoadResult
{
    int exitCode = -1;
    QByteArray line;
};

// tessaro-tunnelbench: load (every byte checked) or wait (until one echo works).
LoadResult bench(const QStringList &arguments, int timeoutMs = 120000)
{
    QProcess process;
    process.start(program("tessaro-tunnelbench"), arguments);
    LoadResult result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitCode();
    result.line = process.readAllStandardOutput().trimmed();
    return result;
}

QString target(int port)
{
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

bool reachable(int port, int withinMs)
{
    return bench(
               {"wait", "--target", target(port), "--timeout-s", QString::number(withinMs / 1000)},
               withinMs + 10000)
               .exitCode == 0;
}

// True once a connection to the port is refused (it may take the provider a
// moment to hear that the service went).
bool refuses(int port, int withinMs)
{
    QElapsedTimer timer;
    timer.start();
    do {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        socket.waitForConnected(2000);
        if (socket.error() == QAbstractSocket::ConnectionRefusedError)
            return true;
        QTest::qWait(100);
    } while (timer.elapsed() < withinMs);
    return false;
}

// Sends one first line to the tunnel login server and returns its answer.
QByteArray askLoginServer(int port, const QByteArray &line)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    if (!socket.waitForConnected(5000))
        return QByteArray();
    socket.write(line);
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(15000))
        answer += socket.readAll();
    return answer;
}

} // namespace

class TestTunnel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void demoTunnelAnswersThroughItsPublicPort();
    void logKeepsThreeOldFilesPastOneMebibyte();
    void newTunnelServesAfterRestartWithEveryByteIntact();
    void localHostNameIsLookedUpForEachVisitor();
    void badInputEndsOnlyItsOwnConnection();
    void providerRestartRecoversTheTunnels();
    void newestServiceLoginWins();
    void stoppedServiceClosesThePublicPorts();

private:
    QJsonObject api(const QString &method, const QList<QPair<QString, QString>> &values);
    void startProvider(int tunnelPort);
    int createTunnel(const QString &name, int localPort,
                     const QString &localAddress = QStringLiteral("127.0.0.1"));

    Background m_provider;
    Background m_echo;
    int m_httpPort = 0;
    int m_tunnelPort = 0;
    int m_echoPort = 0;
    int m_echoTunnelPort = 0; // public port of the tunnel to the echo server
    QTcpServer m_web;         // stands in for the client's test web server
    QString m_hosts;          // the service's resolver for local host names
};

void TestTunnel::initTestCase()
{
    initTestEnvironment();
    for (const char *name : {"tessaro-provider", "tessarosvc", "tessaro-sc", "tessaro-tunnelbench"})
        QVERIFY2(QFileInfo(program(name)).isExecutable(), name);

    startProvider(0);
    const QList<int> echo = m_echo.start(program("tessaro-tunnelbench"), {"echo"},
                                         {"echo listening on [\\d.]+:(\\d+)"});
    QCOMPARE(echo.size(), 1);
    m_echoPort = echo.at(0);

    // What the client leaves behind at sign-in, and where this provider is.
    QDir().mkpath(serviceFolder());
    QSettings store(serviceFolder() + QStringLiteral("/user.ini"), QSettings::IniFormat);
    store.setValue(QStringLiteral("server/user"), QStringLiteral("demo"));
    store.setValue(QStringLiteral("server/pass"), QStringLiteral("demo1234"));
    store.setValue(QStringLiteral("server/userId"), QStringLiteral("1"));
    store.sync();
    QSettings config(serviceFolder() + QStringLiteral("/tessarosvc.ini"), QSettings::IniFormat);
    config.setValue(QStringLiteral("tunnel/port"), m_tunnelPort);
    config.sync();
    // Names resolve from a file of the test's, not the system's resolver (it
    // would ask the network's name server); no name resolves yet.
    m_hosts = testHomePath() + QStringLiteral("/hosts");
    qputenv("TESSARO_SERVICE_HOSTS_FILE", QFile::encodeName(m_hosts));

    QCOMPARE(registerService(g_service, program("tessarosvc")).exitCode, 0);
    QCOMPARE(sc({"start", g_service}), 0);
}

void TestTunnel::cleanupTestCase()
{
    sc({"stop", g_service});
    waitForServiceState(g_service, QStringLiteral("STOPPED"), 15000);
    sc({"delete", g_service});
    m_provider.stop();
    m_echo.stop();
}

void TestTunnel::startProvider(int tunnelPort)
{
    const QList<int> ports = m_provider.start(
        program("tessaro-provider"),
        {"--port", QString::number(m_httpPort), "--tunnel-port", QString::number(tunnelPort),
         "--db", testHomePath() + QStringLiteral("/provider.db")},
        {"\\nlistening on 127\\.0\\.0\\.1:(\\d+)", "tunnel server listening on [\\d.]+:(\\d+)"});
    QCOMPARE(ports.size(), 2);
    m_httpPort = ports.at(0);
    m_tunnelPort = ports.at(1);
}

QJsonObject TestTunnel::api(const QString &method, const QList<QPair<QString, QString>> &values)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("method"), method);
    query.addQueryItem(QStringLiteral("username"), QStringLiteral("demo"));
    query.addQueryItem(QStringLiteral("password"), QStringLiteral("demo1234"));
    for (const auto &value : values)
        query.addQueryItem(value.first, value.second);
    QUrl url(QStringLiteral("http://127.0.0.1:%1/ClientTunnelAction").arg(m_httpPort));
    url.setQuery(query);
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(url)));
    QSignalSpy done(reply.get(), &QNetworkReply::finished);
    done.wait(10000);
    return QJsonDocument::fromJson(reply->readAll()).object();
}

// Creates a tunnel as the client's form does and returns its public port.
int TestTunnel::createTunnel(const QString &name, int localPort, const QString &localAddress)
{
    const QJsonObject created =
        api(QStringLiteral("create"), {{"name", name},
                                       {"private_address", localAddress},
                                       {"private_port", QString::number(localPort)},
                                       {"channel_type", "2"},
                                       {"channel_model", "3"}});
    if (created.value(QStringLiteral("code")).toInt() != 1)
        return 0;
    const QJsonArray tunnels =
        api(QStringLiteral("list"), {}).value(QStringLiteral("data")).toArray();
    for (const QJsonValue &tunnel : tunnels) {
        if (tunnel.toObject().value(QStringLiteral("name")).toString() == name)
            return tunnel.toObject().value(QStringLiteral("public_port")).toString().toInt();
    }
    return 0;
}

void TestTunnel::demoTunnelAnswersThroughItsPublicPort()
{
    if (!m_web.listen(QHostAddress::LocalHost, 18000))
        QFAIL("127.0.0.1:18000 is taken by another program");
    connect(&m_web, &QTcpServer::newConnection, this, [this] {
        QTcpSocket *socket = m_web.nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            if (socket->readAll().contains("\r\n\r\n")) {
                socket->write("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n"
                              "served on this machine");
                socket->disconnectFromHost();
            }
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    });

    QNetworkAccessManager manager;
    QByteArray body;
    QElapsedTimer timer;
    timer.start();
    // The service logs in at start; the public port opens a moment later.
    while (body.isEmpty() && timer.elapsed() < 15000) {
        std::unique_ptr<QNetworkReply> reply(manager.get(
            QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(kDemoWebTunnelPort)))));
        QSignalSpy done(reply.get(), &QNetworkReply::finished);
        done.wait(5000);
        body = reply->readAll();
        if (body.isEmpty())
            QTest::qWait(200);
    }
    QCOMPARE(body, QByteArray("served on this machine"));
    m_web.close();
}

void TestTunnel::logKeepsThreeOldFilesPastOneMebibyte()
{
    QCOMPARE(sc({"stop", g_service}), 0);
    QVERIFY(waitForServiceState(g_service, QStringLiteral("STOPPED"), 15000));
    const QString log = serviceFolder() + QStringLiteral("/logs/tessarosvc.log");
    const auto write = [](const QString &path, const QByteArray &content) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(content) == content.size();
    };
    const auto read = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    };
    // Any line more takes the log past 1 MiB.
    const QByteArray full = QByteArray(1024 * 1024 - 8, 'x') + "\n";
    QVERIFY(write(log, full));
    for (const char *old : {"1", "2", "3"})
        QVERIFY(write(log + '.' + old, QByteArray("old ") + old));

    QCOMPARE(sc({"start", g_service}), 0);
    // Running means it has written its first lines.
    QVERIFY(waitForServiceState(g_service, QStringLiteral("RUNNING"), 15000));
    QVERIFY(read(log + ".1") == full);
    QCOMPARE(read(log + ".2"), QByteArray("old 1"));
    QCOMPARE(read(log + ".3"), QByteArray("old 2"));
    QVERIFY(!QFile::exists(log + ".4"));
    // It goes on in the new file (and the next case needs it logged in).
    QTRY_VERIFY_WITH_TIMEOUT(serviceLog().contains("logged in;"), 15000);
}

void TestTunnel::newTunnelServesAfterRestartWithEveryByteIntact()
{
    m_echoTunnelPort = createTunnel(QStringLiteral("echo"), m_echoPort);
    QVERIFY(m_echoTunnelPort >= 20000 && m_echoTunnelPort <= 20999);
    // The running service still serves the set it logged in with.
    QVERIFY(refuses(m_echoTunnelPort, 1000));

    // "是否立即生效?" confirmed: the client restarts the service.
    QVERIFY(restartService());
    QVERIFY(reachable(m_echoTunnelPort, 15000));

    // 50 connections at once, 64 MiB in all, each stream echoed and compared.
    const LoadResult load = bench({"load", "--target", target(m_echoTunnelPort), "--connections",
                                   "50", "--concurrency", "50", "--min-bytes", "1", "--max-bytes",
                                   QString::number(2 * 64 * 1024 * 1024 / 50), "--seed", "7"});
    QVERIFY2(load.exitCode == 0, load.line.constData());
    QVERIFY2(load.line.contains("ok=50 failed=0"), load.line.constData());
    QVERIFY(!serviceLog().contains("demo1234"));
}

void TestTunnel::localHostNameIsLookedUpForEachVisitor()
{
    const QString name = QStringLiteral("echo.tessaro.test");
    const int byName = createTunnel(QStringLiteral("echo-by-name"), m_echoPort, name);
    QVERIFY(byName > 0);
    // As at boot: the service logs in before the local name resolves.
    QVERIFY(restartService());
    QVERIFY(reachable(m_echoTunnelPort, 15000));
    QTcpSocket early;
    early.connectToHost(QHostAddress::LocalHost, quint16(byName));
    QVERIFY(early.waitForConnected(5000));
    QVERIFY(early.waitForDisconnected(15000));

    QFile hosts(m_hosts);
    QVERIFY(hosts.open(QIODevice::WriteOnly));
    hosts.write("127.0.0.1 " + name.toLatin1() + '\n');
    hosts.close();
    QVERIFY(reachable(byName, 10000));
}

void TestTunnel::badInputEndsOnlyItsOwnConnection()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const int refusingPort = closed.serverPort();
    closed.close();
    const int refusingTunnel = createTunnel(QStringLiteral("refusing"), refusingPort);
    QVERIFY(refusingTunnel > 0);
    QVERIFY(restartService());
    QVERIFY(reachable(m_echoTunnelPort, 15000));

    // A visitor that connects and never sends holds only its own connection.
    QTcpSocket silent;
    silent.connectToHost(QHostAddress::LocalHost, quint16(m_echoTunnelPort));
    QVERIFY(silent.waitForConnected(5000));
    // Neither does one that reaches a local application that is not there.
    QTcpSocket refused;
    refused.connectToHost(QHostAddress::LocalHost, quint16(refusingTunnel));
    QVERIFY(refused.waitForConnected(5000));
    QVERIFY(refused.waitForDisconnected(15000));

    // Login server: garbage, an overlong line, a truncated frame, a wrong password.
    QVERIFY(askLoginServer(m_tunnelPort, "\x01\x02garbage\n").contains("\"type\":\"error\""));
    QVERIFY(askLoginServer(m_tunnelPort, QByteArray(8000, 'x')).isEmpty());
    {
        QTcpSocket truncated;
        truncated.connectToHost(QHostAddress::LocalHost, quint16(m_tunnelPort));
        QVERIFY(truncated.waitForConnected(5000));
        truncated.write("{\"type\":\"login\",\"us");
        QVERIFY(truncated.waitForBytesWritten(5000));
    }
    const QByteArray wrong = askLoginServer(
        m_tunnelPort, "{\"type\":\"login\",\"version\":1,\"user\":\"demo\",\"password\":\"x\"}\n");
    QVERIFY2(wrong.contains("wrong user name or password"), wrong.constData());

    const LoadResult load = bench({"load", "--target", target(m_echoTunnelPort), "--connections",
                                   "20", "--concurrency", "20", "--max-bytes", "200000"});
    QVERIFY2(load.exitCode == 0, load.line.constData());
    QCOMPARE(silent.state(), QAbstractSocket::ConnectedState);
    QVERIFY(serviceLog().contains(
        QStringLiteral("127.0.0.1:%1: Connection refused").arg(refusingPort).toUtf8()));
    QVERIFY(m_provider.printed("local end refused"));
    QVERIFY(m_provider.printed("login of \"demo\" refused: wrong user name or password"));
    QVERIFY(m_provider.printed("connection dropped: first line longer than"));
    QVERIFY(m_provider.printed("connection dropped: closed before the first line was complete"));
}

void TestTunnel::providerRestartRecoversTheTunnels()
{
    QVERIFY(reachable(m_echoTunnelPort, 15000));
    QProcess inFlight;
    inFlight.start(program("tessaro-tunnelbench"),
                   {"load", "--target", target(m_echoTunnelPort), "--connections", "40",
                    "--concurrency", "2", "--min-bytes", "4000000", "--max-bytes", "4000000"});
    QTest::qWait(300);
    m_provider.stop();
    QVERIFY(refuses(m_echoTunnelPort, 5000));
    startProvider(m_tunnelPort);

    QElapsedTimer recovery;
    recovery.start();
    QVERIFY(reachable(m_echoTunnelPort, 10000));
    QVERIFY2(recovery.elapsed() < 8000, QByteArray::number(recovery.elapsed()).constData());
    // Streams cut by the restart end; whether any were is timing, not checked.
    if (inFlight.state() != QProcess::NotRunning)
        QVERIFY(inFlight.waitForFinished(60000));
    const LoadResult load = bench({"load", "--target", target(m_echoTunnelPort), "--connections",
                                   "10", "--concurrency", "10", "--max-bytes", "1000000"});
    QVERIFY2(load.exitCode == 0, load.line.constData());
}

void TestTunnel::newestServiceLoginWins()
{
    QVERIFY(reachable(m_echoTunnelPort, 15000));
    // A second copy of the service for the same account, as after a crash.
    QProcess second;
    second.start(program("tessarosvc"), QStringList());
    QVERIFY(second.waitForStarted(5000));
    QElapsedTimer timer;
    timer.start();
    while (!serviceLog().contains("replaced by a newer login of the same account") &&
           timer.elapsed() < 15000)
        QTest::qWait(100);
    QVERIFY(serviceLog().contains("replaced by a newer login of the same account"));
    QVERIFY(reachable(m_echoTunnelPort, 15000));
    const LoadResult load = bench({"load", "--target", target(m_echoTunnelPort), "--connections",
                                   "5", "--max-bytes", "100000"});
    QVERIFY2(load.exitCode == 0, load.line.constData());
    second.terminate();
    QVERIFY(second.waitForFinished(10000));
    // Its tunnels went with it; the replaced service does not take them back.
    QVERIFY(refuses(m_echoTunnelPort, 5000));
}

void TestTunnel::stoppedServiceClosesThePublicPorts()
{
    // The replaced copy still runs, idle, until the client restarts it.
    QVERIFY(restartService());
    QVERIFY(reachable(m_echoTunnelPort, 15000));
    QCOMPARE(sc({"stop", g_service}), 0);
    QVERIFY(refuses(m_echoTunnelPort, 5000));
    QVERIFY(refuses(kDemoWebTunnelPort, 5000));
}

QTEST_GUILESS_MAIN(TestTunnel)
#include "tst_tunnel.moc"
