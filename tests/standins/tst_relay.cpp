// The socket relay that carries every tunnel, in-process on loopback, on each
// system the service runs on: many spliced connections at once, each stream
// checked byte for byte and each end of stream passed on.

#include "relayio.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QtTest>

#include <atomic>
#include <chrono>
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
    bool ended = false; // the stream back ended in order
    std::atomic<bool> done{false};
};

} // namespace

class TestRelay : public QObject
{
    Q_OBJECT

private slots:
    void splicesCarryStreamsBothWaysAndPassTheirEnds_data();
    void splicesCarryStreamsBothWaysAndPassTheirEnds();
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
    // The local application: returns what it reads and, once its reader has
    // ended, ends its own stream.
    Peer echo([limit](relayio::Socket socket, int) {
        std::vector<char> buffer(64 * 1024);
        while (Clock::now() < limit) {
            int error = 0;
            const long got = socketcalls::receive(socket, buffer.data(), buffer.size(), &error);
            if (got == 0 || (got < 0 && error != 0))
                break;
            if (got < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            else if (!sendAll(socket, buffer.data(), size_t(got), limit))
                break;
        }
        socketcalls::shutdownWrite(socket);
    });
    QVERIFY(echo.listen());

    // The visitors: each writes its stream and ends its sending side after
    // it, as a request does, or closes once all of it has come back.
    std::vector<std::unique_ptr<Visit>> visits;
    QRandomGenerator random(7);
    for (int i = 0; i < connections; ++i) {
        visits.push_back(std::make_unique<Visit>());
        visits.back()->sent.resize(1 + int(random.bounded(quint32(maxBytes))));
        for (char &byte : visits.back()->sent)
            byte = char(random.bounded(256));
    }
    Peer visitorSide([&visits, limit, visitorHalfCloses](relayio::Socket socket, int index) {
        Visit &visit = *visits.at(size_t(index));
        if (sendAll(socket, visit.sent.constData(), size_t(visit.sent.size()), limit)) {
            if (visitorHalfCloses)
                socketcalls::shutdownWrite(socket);
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
                if (!visitorHalfCloses && visit.received.size() >= visit.sent.size())
                    break;
            }
        }
        visit.done = true;
    });
    QVERIFY(visitorSide.listen());

    int finished = 0;
    int clean = 0;
    QStringList reasons;
    // Owns the relay's objects and their connections, so that none outlives
    // the counters above when a check fails early.
    QObject scope;
    for (int i = 0; i < connections; ++i) {
        auto *toEcho = new Connector(&scope);
        connect(toEcho, &Connector::failed, &scope,
                [&reasons](const QString &why) { reasons << QStringLiteral("echo: ") + why; });
        connect(toEcho, &Connector::connected, &scope, [&, toEcho](relayio::Socket a) {
            toEcho->deleteLater();
            auto *toVisitor = new Connector(&scope);
            connect(toVisitor, &Connector::failed, &scope, [&reasons](const QString &why) {
                reasons << QStringLiteral("visitor: ") + why;
            });
            connect(toVisitor, &Connector::connected, &scope, [&, a, toVisitor](relayio::Socket b) {
                toVisitor->deleteLater();
                auto *splice = new Splice(a, b, &scope);
                connect(splice, &Splice::finished, &scope,
                        [&, splice](bool wasClean, const QString &why) {
                            ++finished;
                            clean += wasClean ? 1 : 0;
                            if (!wasClean)
                                reasons << why;
                            splice->deleteLater();
                        });
                splice->start();
            });
            toVisitor->start(QHostAddress(QHostAddress::LocalHost), visitorSide.port(), 10000);
        });
        toEcho->start(QHostAddress(QHostAddress::LocalHost), echo.port(), 10000);
    }

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

QTEST_GUILESS_MAIN(TestRelay)
#include "tst_relay.moc"
