#pragma once

// Event-driven socket plumbing shared by the tunnel server and the service.
// Relayed connections are plain non-blocking descriptors watched by socket
// notifiers: QTcpSocket cannot half-close, and a tunnel must pass a half-close
// on.

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

#include <vector>

class QSocketNotifier;
class QTimer;

namespace relayio {

// Closes a descriptor with a reset instead of an orderly end of stream, so the
// peer learns that the connection did not finish cleanly.
void closeWithReset(int fd);
// Writes a short line to a fresh socket; a full buffer there means "drop it".
bool writeSmall(int fd, const QByteArray &bytes);

} // namespace relayio

// A listening socket that hands out accepted connections as non-blocking
// descriptors owned by the receiver.
class RawListener : public QTcpServer
{
    Q_OBJECT
public:
    using QTcpServer::QTcpServer;

    // listen() with a backlog fit for bursts of visitors (QTcpServer's is 50,
    // and a full queue makes the kernel drop and reset connections).
    bool open(const QHostAddress &address, quint16 port);

signals:
    void accepted(int fd);

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
    void connected(int fd); // the receiver owns the descriptor
    void failed(const QString &reason);

private:
    void finish(const QString &error);

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_timer = nullptr;
};

// Reads the first line of a new connection within a time limit. The line
// buffer is at most one line long, so a peer cannot make it grow.
class FirstLineReader : public QObject
{
    Q_OBJECT
public:
    FirstLineReader(int fd, int maxBytes, int timeoutMs, QObject *parent = nullptr);
    ~FirstLineReader() override;

signals:
    // The descriptor passes to the receiver with whatever followed the line.
    void lineRead(int fd, const QByteArray &line, const QByteArray &rest);
    // The descriptor has been closed.
    void failed(const QString &reason);

private:
    void readMore();
    void fail(const QString &reason);

    int m_fd;
    int m_maxBytes;
    QByteArray m_data;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_timer = nullptr;
};

// Joins two connected descriptors and copies bytes both ways until both have
// ended. Each direction holds at most kBufferBytes: a side that does not
// read stops the other side from being read, so memory stays bounded.
class Splice : public QObject
{
    Q_OBJECT
public:
    static constexpr size_t kBufferBytes = 64 * 1024;

    // Takes ownership of both descriptors.
    Splice(int fdA, int fdB, QObject *parent = nullptr);
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
        int from = -1;
        int to = -1;
        std::vector<char> buffer;
        size_t head = 0;
        size_t tail = 0;
        bool endOfStream = false;
        bool shutDown = false;
        quint64 total = 0;
        QSocketNotifier *readable = nullptr;
        QSocketNotifier *writable = nullptr;
    };

    void setUp(Direction &direction, int from, int to);
    void queue(Direction &direction, const QByteArray &bytes);
    void pump(Direction &direction);
    void end(bool clean, const QString &reason);

    int m_fdA;
    int m_fdB;
    Direction m_ab;
    Direction m_ba;
    bool m_ended = false;
};
