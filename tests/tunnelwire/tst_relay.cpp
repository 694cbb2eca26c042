// The socket relay that carries every tunnel, in-process on loopback, on each
// system the service runs on: many spliced connections at once, each stream
// checked byte for byte and each end of stream passed on.

#include "relayio.h"

#include <QHostAddress>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Sends all of the bytes on a non-blocking socket; false when it failed.
bool sendAll(relayio::Socket socket, const char *data, size_t size, const Clock::time_point &limit)
{
    for (size_t done = 0; done < size;) {
        int error = 0;
        const long sent = socketcalls::send(socket, data + done, size - done, &error);
        if (sent > 0)
            done += size_t(sent);
        else if (error != 0 || Clock::now() > limit)
            return false;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// One peer of the relay: a listener whose every connection a thread of its
// own serves with plain socket calls, so that nothing but the relay's own
// ends of stream and closes reaches it.
class Peer
{
public:
    using Serve = std::function<void(relayio::Socket socket, int index)>;

    explicit Peer(Serve serve) : m_serve(std::move(serve))
    {
        QObject::connect(&m_listener, &RawListener::accepted, [this](relayio::Socket socket) {
            const int index = m_accepted++;
            m_threads.emplace_back([this, socket, index] {
                m_serve(socket, index);
                socketcalls::close(socket);
            });
        });
    }
    ~Peer()
    {
        for (std::thread &thread : m_threads)
            thread.join();
    }
    bool listen() { return m_listener.open(QHostAddress(QHostAddress::LocalHost), 0); }
    quint16 port() const { return m_listener.serverPort(); }

private:
    Serve m_serve;
    RawListener m_listener;
    int m_accepted = 0;
    std::vector<std::thread> m_threads;
};

// What one visitor sent and got back, filled in by its thread.
struct Visit
{
    QByteArray sent;
    QByteArray received;
    bool ended = false;                 // the stream back ended in order
    std::atomic<bool> requested{false}; // all of it sent (and the sending side ended)
    std::atomic<bool> done{false};
};

// The local application: returns what it reads and, once its reader has
// ended, ends its own stream.
Peer::Serve echoServe(Clock::time_point limit, bool eager = false)
{
    return [limit, eager](relayio::Socket socket, int) {
        std::vector<char> buffer(64 * 1024);
        while (Clock::now() < limit) {
            int error = 0;
            const long got = socketcalls::receive(socket, buffer.data(), buffer.size(), &error);
            if (got == 0 || (got < 0 && error != 0))
                break;
            if (got < 0 && eager)
                std::this_thread::yield();
            else if (got < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            else if (!sendAll(socket, buffer.data(), size_t(got), limit))
                break;
        }
        socketcalls::shutdownWrite(socket);
    };
}

// The visitors: the connection with index i writes visit i's stream and ends
// its sending side after it, as a request does, or closes once all of it has
// come back.
Peer::Serve visitorServe(const std::vector<std::unique_ptr<Visit>> &visits, Clock::time_point limit,
                         bool halfCloses)
{
    return [&visits, limit, halfCloses](relayio::Socket socket, int index) {
        Visit &visit = *visits.at(size_t(index));
        if (sendAll(socket, visit.sent.constData(), size_t(visit.sent.size()), limit)) {
            if (halfCloses)
                socketcalls::shutdownWrite(socket);
            visit.requested = true;
            std::vector<char> buffer(64 * 1024);
            while (Clock::now() < limit) {
                int error = 0;
                const long got = socketcalls::receive(socket, buffer.data(), buffer.size(), &error);
                if (got == 0) {
                    visit.ended = true;
                    break;
                }
                if (got < 0 && error != 0)
                    break;
                if (got < 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                visit.received.append(buffer.data(), int(got));
                if (!halfCloses && visit.received.size() >= visit.sent.size())
                    break;
            }
        }
        visit.done = true;
    };
}

// Runs the event loop until done() holds, for at most 10 s. Unlike QTRY_*,
// which looks every 50 ms, it sees the moment the condition comes true.
bool waitFor(const std::function<bool()> &done)
{
    const Clock::time_point limit = Clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (Clock::now() > limit)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<std::unique_ptr<Visit>> makeVisits(int count, int maxBytes)
{
    std::vector<std::unique_ptr<Visit>> visits;
    QRandomGenerator random(7);
    for (int i = 0; i < count; ++i) {
        visits.push_back(std::make_unique<Visit>());
        visits.back()->sent.resize(1 + int(random.bounded(quint32(maxBytes))));
        for (char &byte : visits.back()->sent)
            byte = char(random.bounded(256));
    }
    return visits;
}

// Connects to the application (A) and to the visitor's side (B) and splices
// them, as the service does; the objects belong to scope. ended gets the
// splice's outcome, failed a connection that could not be made.
void relay(QObject &scope, quint16 echoPort, quint16 visitorPort,
           std::function<void(bool clean, const QString &why)> ended,
           std::function<void(const QString &why)> failed, std::function<bool()> startWhen = {},
           int busyMsAfterStart = 0)
{
    auto *toEcho = new Connector(&scope);
    QObject::connect(toEcho, &Connector::failed, &scope,
                     [failed](const QString &why) { failed(QStringLiteral("echo: ") + why); });
    QObject::connect(toEcho, &Connector::connected, &scope, [=, &scope](relayio::Socket a) {
        toEcho->deleteLater();
        auto *toVisitor = new Connector(&scope);
        QObject::connect(toVisitor, &Connector::failed, &scope, [failed](const QString &why) {
            failed(QStringLiteral("visitor: ") + why);
        });
        QObject::connect(toVisitor, &Connector::connected, &scope, [=, &scope](relayio::Socket b) {
            toVisitor->deleteLater();
            if (startWhen)
                waitFor(startWhen);
            auto *splice = new Splice(a, b, &scope);
            QObject::connect(splice, &Splice::finished, &scope,
                             [=](bool clean, const QString &why) {
                                 ended(clean, why);
                                 splice->deleteLater();
                             });
            splice->start();
            std::this_thread::sleep_for(std::chrono::milliseconds(busyMsAfterStart));
        });
        toVisitor->start(QHostAddress(QHostAddress::LocalHost), visitorPort, 10000);
    });
    toEcho->start(QHostAddress(QHostAddress::LocalHost), echoPort, 10000);
}

} // namespace

class TestRelay : public QObject
{
    Q_OBJECT

private slots:
    void splicesCarryStreamsBothWaysAndPassTheirEnds_data();
    void splicesCarryStreamsBothWaysAndPassTheirEnds();
    void halfClosedExchangesAreAnsweredAtOnce();
};

void TestRelay::splicesCarryStreamsBothWaysAndPassTheirEnds_data()
{
    QTest::addColumn<int>("connections");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<bool>("visitorHalfCloses");
    // Short request/answer streams, where an end arrives with the data.
    QTest::newRow("100 small") << 100 << 200 << false;
    QTest::newRow("100 small, half-closed") << 100 << 200 << true;
    // Streams larger than a splice's buffer, so that both sides fill up.
    QTest::newRow("20 large") << 20 << 1024 * 1024 << false;
    QTest::newRow("20 large, half-closed") << 20 << 1024 * 1024 << true;
}

// A visitor writes a stream and either ends its sending side after it, as a
// request does, or closes once everything has come back. Between it and the
// echo runs a Splice, as in the service: A to the application, B to the
// visitor's side.
void TestRelay::splicesCarryStreamsBothWaysAndPassTheirEnds()
{
    QFETCH(int, connections);
    QFETCH(int, maxBytes);
    QFETCH(bool, visitorHalfCloses);

    const Clock::time_point limit = Clock::now() + std::chrono::seconds(60);
    Peer echo(echoServe(limit));
    QVERIFY(echo.listen());
    const std::vector<std::unique_ptr<Visit>> visits = makeVisits(connections, maxBytes);
    Peer visitorSide(visitorServe(visits, limit, visitorHalfCloses));
    QVERIFY(visitorSide.listen());

    int finished = 0;
    int clean = 0;
    QStringList reasons;
    // Owns the relay's objects and their connections, so that none outlives
    // the counters above when a check fails early.
    QObject scope;
    for (int i = 0; i < connections; ++i)
        relay(
            scope, echo.port(), visitorSide.port(),
            [&](bool wasClean, const QString &why) {
                ++finished;
                clean += wasClean ? 1 : 0;
                if (!wasClean)
                    reasons << why;
            },
            [&reasons](const QString &why) { reasons << why; });

    QTRY_VERIFY_WITH_TIMEOUT(finished == connections || !reasons.isEmpty(), 60000);
    QVERIFY2(reasons.isEmpty(), qPrintable(reasons.join(QStringLiteral("; "))));
    QCOMPARE(clean, connections);
    for (const auto &visit : visits) {
        QTRY_VERIFY_WITH_TIMEOUT(visit->done, 10000);
        QCOMPARE(visit->received.size(), visit->sent.size());
        QVERIFY(visit->received == visit->sent);
        // After a half-close the application's end is what ends the stream.
        if (visitorHalfCloses)
            QVERIFY(visit->ended);
    }
}

// One visitor after the other, each ending its request with a half-close
// that is already there when the splice starts, as it is when the provider
// hands the service a waiting visitor: the answer must pass as soon as it comes, not when the relay
// next looks round for a readiness the system did not report. Wine's sockets report nothing more
// for one whose sending side has been shut down.
void TestRelay::halfClosedExchangesAreAnsweredAtOnce()
{
    constexpr int kExchanges = 30;
    // The service's loop is busy with other work for a while after it has
    // started a splice, as under load: the answer is there before the relay
    // next waits for news.
    constexpr int kBusyMs = 10;
    const Clock::time_point limit = Clock::now() + std::chrono::seconds(60);
    // The application is a process of its own, as it is for the service, so
    // that its answer can be there before the relay has asked to hear of it.
    QProcess echo;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TESSARO_RELAY_ECHO"), QStringLiteral("1"));
    echo.setProcessEnvironment(environment);
    echo.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(echo.waitForReadyRead(30000));
    const quint16 echoPort = quint16(echo.readLine().trimmed().toUInt());
    QVERIFY(echoPort != 0);
    const std::vector<std::unique_ptr<Visit>> visits = makeVisits(kExchanges, 100);
    Peer visitorSide(visitorServe(visits, limit, true));
    QVERIFY(visitorSide.listen());

    QObject scope;
    QStringList reasons;
    int ended = 0;
    QElapsedTimer took;
    took.start();
    for (int i = 0; i < kExchanges; ++i) {
        const Visit &visit = *visits.at(size_t(i));
        relay(
            scope, echoPort, visitorSide.port(),
            [&](bool clean, const QString &why) {
                ++ended;
                if (!clean)
                    reasons << why;
            },
            [&](const QString &why) {
                ++ended;
                reasons << why;
            },
            [&visit] { return visit.requested.load(); }, kBusyMs);
        QVERIFY(waitFor([&] { return ended > i && visit.done; }));
        QVERIFY2(reasons.isEmpty(), qPrintable(reasons.join(QStringLiteral("; "))));
        QVERIFY(visit.received == visit.sent);
        QVERIFY(visit.ended);
    }
    // A few milliseconds each on loopback besides the busy time; waiting for
    // the relay's slow look round would take about a tenth of a second each.
    QVERIFY2(
        took.elapsed() < kExchanges * (kBusyMs + 30),
        qPrintable(QStringLiteral("%1 ms for %2 exchanges").arg(took.elapsed()).arg(kExchanges)));
}

// Started with TESSARO_RELAY_ECHO set, the suite's program is the echo
// application for another run of it: it prints its port and serves until it
// is ended.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("TESSARO_RELAY_ECHO")) {
        Peer echo(echoServe(Clock::now() + std::chrono::hours(1), true));
        if (!echo.listen())
            return 1;
        std::printf("%u\n", unsigned(echo.port()));
        std::fflush(stdout);
        return app.exec();
    }
    TestRelay test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_relay.moc"
