#pragma once

// Event-driven socket plumbing shared by the tunnel server and the service.
// Relayed connections are plain non-blocking sockets watched by socket
// notifiers: QTcpSocket cannot half-close, and a tunnel must pass a half-close
// on.

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

#include "socketcalls.h"

#include <vector>

class QSocketNotifier;
class QTimer;

namespace relayio {

using socketcalls::Socket;

// Closes a socket with a reset instead of an orderly end of stream, so the
// peer learns that the connection did not finish cleanly.
void closeWithReset(Socket socket);
// Writes a short line to a fresh socket; a full buffer there means "drop it".
bool writeSmall(Socket socket, const QByteArray &bytes);

} // namespace relayio

// A listening socket that hands out accepted connections as non-blocking
// sockets owned by the receiver.
class RawListener : public QTcpServer
{
    Q_OBJECT
public:
    using QTcpServer::QTcpServer;

    // listen() with a backlog fit for bursts of visitors (QTcpServer's is 50,
    // and a full queue makes the kernel drop and reset connections).
    bool open(const QHostAddress &address, quint16 port);

signals:
    void accepted(relayio::Socket socket);

protected:
    void incomingConnection(qintptr socketDescriptor) override;
};

// One non-blocking outgoing connection with a time limit.
class Connector : public QObject
{
    Q_OBJECT
public:
    explicit Connector(QObject *parent = nullptr);
    ~Connector() override;

    // Reports through the signals, never before start() returns.
    void start(const QHostAddress &address, quint16 port, int timeoutMs);

signals:
    void connected(relayio::Socket socket); // the receiver owns the socket
    void failed(const QString &reason);

private:
    void finish(const QString &error);

    relayio::Socket m_fd = socketcalls::kNoSocket;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_timer = nullptr;
};

// Reads the first line of a new connection within a time limit. The line
// buffer is at most one line long, so a peer cannot make it grow.
class FirstLineReader : public QObject
{
    Q_OBJECT
public:
    FirstLineReader(relayio::Socket fd, int maxBytes, int timeoutMs, QObject *parent = nullptr);
    ~FirstLineReader() override;

signals:
    // The socket passes to the receiver with whatever followed the line.
    void lineRead(relayio::Socket fd, const QByteArray &line, const QByteArray &rest);
    // The socket has been closed.
    void failed(const QString &reason);

private:
    void readMore();
    void fail(const QString &reason);

    relayio::Socket m_fd;
    int m_maxBytes;
    QByteArray m_data;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_timer = nullptr;
};

// Joins two connected sockets and copies bytes both ways until both have
// ended. Each direction holds at most kBufferBytes: a side that does not
// read stops the other side from being read, so memory stays bounded.
class Splice : public QObject
{
    Q_OBJECT
public:
    static constexpr size_t kBufferBytes = 64 * 1024;
    static constexpr int kSweepMs = 100;
    // How soon a direction is looked at once more when its readiness may go
    // unreported (see lookAgainSoon).
    static constexpr int kLookAgainMs = 5;

    // Takes ownership of both descriptors.
    Splice(relayio::Socket fdA, relayio::Socket fdB, QObject *parent = nullptr);
    ~Splice() override;

    // Bytes to deliver to B before anything read from A (at most kBufferBytes).
    void queueForB(const QByteArray &bytes);
    void queueForA(const QByteArray &bytes);
    void start();
    // Ends both sides at once with a reset.
    void abort(const QString &reason);

    quint64 bytesAToB() const { return m_ab.total; }
    quint64 bytesBToA() const { return m_ba.total; }

signals:
    // clean: both sides ended their streams and everything was delivered.
    void finished(bool clean, const QString &reason);

private:
    struct Direction
    {
        relayio::Socket from = socketcalls::kNoSocket;
        relayio::Socket to = socketcalls::kNoSocket;
        std::vector<char> buffer;
        size_t head = 0;
        size_t tail = 0;
        bool endOfStream = false;
        bool shutDown = false;
        bool continuing = false; // a pump is queued
        bool lookAgain = false;  // the sweep pumps it at its next turn
        quint64 total = 0;
        QSocketNotifier *readable = nullptr;
        QSocketNotifier *writable = nullptr;
    };

    static void sweep();
    void lookAgainSoon(Direction &direction);
    void setUp(Direction &direction, relayio::Socket from, relayio::Socket to);
    void queue(Direction &direction, const QByteArray &bytes);
    void pump(Direction &direction);
    void end(bool clean, const QString &reason);

    relayio::Socket m_fdA;
    relayio::Socket m_fdB;
    Direction m_ab;
    Direction m_ba;
    bool m_ended = false;
};
