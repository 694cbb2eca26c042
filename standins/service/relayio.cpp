#include "relayio.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Rounds of read/write per wake-up, so one busy connection cannot starve the
// others sharing the event loop.
constexpr int kRoundsPerWakeUp = 8;

void prepare(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    const int on = 1;
    // Relayed traffic is often request/answer: do not hold back small writes.
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

namespace relayio {

void closeWithReset(int fd)
{
    if (fd < 0)
        return;
    const linger hard = {1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

bool writeSmall(int fd, const QByteArray &bytes)
{
    const ssize_t written = ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
    return written == bytes.size();
}

} // namespace relayio

bool RawListener::open(const QHostAddress &address, quint16 port)
{
    if (!listen(address, port))
        return false;
    ::listen(int(socketDescriptor()), SOMAXCONN);
    return true;
}

void RawListener::incomingConnection(qintptr socketDescriptor)
{
    const int fd = int(socketDescriptor);
    prepare(fd);
    if (receivers(SIGNAL(accepted(int))) == 0) {
        ::close(fd);
        return;
    }
    emit accepted(fd);
}

Connector::Connector(QObject *parent) : QObject(parent) {}

Connector::~Connector()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void Connector::start(const QHostAddress &address, quint16 port, int timeoutMs)
{
    sockaddr_storage storage = {};
    socklen_t length = 0;
    bool ok = false;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto *in = reinterpret_cast<sockaddr_in *>(&storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address(&ok));
        length = sizeof(sockaddr_in);
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof bytes.c);
        length = sizeof(sockaddr_in6);
        ok = true;
    }
    if (!ok) {
        QTimer::singleShot(0, this, [this] { finish(QStringLiteral("no usable address")); });
        return;
    }

    m_fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        const QString error = errorText(errno);
        QTimer::singleShot(0, this, [this, error] { finish(error); });
        return;
    }
    prepare(m_fd);
    if (::connect(m_fd, reinterpret_cast<sockaddr *>(&storage), length) == 0) {
        QTimer::singleShot(0, this, [this] { finish(QString()); });
        return;
    }
    if (errno != EINPROGRESS) {
        const QString error = errorText(errno);
        QTimer::singleShot(0, this, [this, error] { finish(error); });
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        int error = 0;
        socklen_t size = sizeof error;
        ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size);
        finish(error == 0 ? QString() : errorText(error));
    });
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this,
            [this] { finish(QStringLiteral("no answer within %1 ms").arg(m_timer->interval())); });
    m_timer->start(timeoutMs);
}

void Connector::finish(const QString &error)
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_timer)
        m_timer->stop();
    const int fd = m_fd;
    m_fd = -1;
    if (error.isEmpty() && fd >= 0) {
        emit connected(fd);
        return;
    }
    if (fd >= 0)
        ::close(fd);
    emit failed(error);
}

FirstLineReader::FirstLineReader(int fd, int maxBytes, int timeoutMs, QObject *parent)
    : QObject(parent), m_fd(fd), m_maxBytes(maxBytes)
{
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &FirstLineReader::readMore);
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this, timeoutMs] {
        fail(QStringLiteral("no complete first line within %1 ms").arg(timeoutMs));
    });
    m_timer->start(timeoutMs);
}

FirstLineReader::~FirstLineReader()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void FirstLineReader::readMore()
{
    if (m_fd < 0)
        return;
    char chunk[1024];
    const int room = std::min<int>(int(sizeof chunk), m_maxBytes - m_data.size());
    const ssize_t got = ::read(m_fd, chunk, size_t(room));
    if (got < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            fail(errorText(errno));
        return;
    }
    if (got == 0) {
        fail(QStringLiteral("closed before the first line was complete"));
        return;
    }
    m_data.append(chunk, int(got));
    const int end = m_data.indexOf('\n');
    if (end < 0) {
        if (m_data.size() >= m_maxBytes)
            fail(QStringLiteral("first line longer than %1 bytes").arg(m_maxBytes));
        return;
    }
    m_notifier->setEnabled(false);
    m_timer->stop();
    const int fd = m_fd;
    m_fd = -1;
    emit lineRead(fd, m_data.left(end), m_data.mid(end + 1));
}

void FirstLineReader::fail(const QString &reason)
{
    m_notifier->setEnabled(false);
    m_timer->stop();
    ::close(m_fd);
    m_fd = -1;
    emit failed(reason);
}

Splice::Splice(int fdA, int fdB, QObject *parent) : QObject(parent), m_fdA(fdA), m_fdB(fdB)
{
    prepare(fdA);
    prepare(fdB);
    setUp(m_ab, fdA, fdB);
    setUp(m_ba, fdB, fdA);
}

Splice::~Splice()
{
    if (!m_ended) {
        // Destroyed while running (the owner is shutting down): end the
        // streams in order so both peers see a plain close.
        m_ended = true;
        for (Direction *direction : {&m_ab, &m_ba}) {
            direction->readable->setEnabled(false);
            direction->writable->setEnabled(false);
        }
        ::close(m_fdA);
        ::close(m_fdB);
    }
}

void Splice::setUp(Direction &direction, int from, int to)
{
    direction.from = from;
    direction.to = to;
    direction.buffer.resize(kBufferBytes);
    direction.readable = new QSocketNotifier(from, QSocketNotifier::Read, this);
    direction.writable = new QSocketNotifier(to, QSocketNotifier::Write, this);
    direction.readable->setEnabled(false);
    direction.writable->setEnabled(false);
    connect(direction.readable, &QSocketNotifier::activated, this,
            [this, &direction] { pump(direction); });
    connect(direction.writable, &QSocketNotifier::activated, this,
            [this, &direction] { pump(direction); });
}

void Splice::queue(Direction &direction, const QByteArray &bytes)
{
    const size_t size = std::min(size_t(bytes.size()), kBufferBytes - direction.tail);
    std::memcpy(direction.buffer.data() + direction.tail, bytes.constData(), size);
    direction.tail += size;
}

void Splice::queueForB(const QByteArray &bytes)
{
    queue(m_ab, bytes);
}

void Splice::queueForA(const QByteArray &bytes)
{
    queue(m_ba, bytes);
}

void Splice::start()
{
    pump(m_ab);
    if (!m_ended)
        pump(m_ba);
}

void Splice::abort(const QString &reason)
{
    end(false, reason);
}

void Splice::pump(Direction &direction)
{
    if (m_ended)
        return;
    for (int round = 0; round < kRoundsPerWakeUp; ++round) {
        bool progressed = false;
        if (direction.tail > direction.head) {
            const ssize_t sent = ::send(direction.to, direction.buffer.data() + direction.head,
                                        direction.tail - direction.head, MSG_NOSIGNAL);
            if (sent > 0) {
                direction.head += size_t(sent);
                direction.total += quint64(sent);
                if (direction.head == direction.tail)
                    direction.head = direction.tail = 0;
                progressed = true;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                end(false, QStringLiteral("write failed: ") + errorText(errno));
                return;
            }
        }
        if (!direction.endOfStream && direction.tail == kBufferBytes && direction.head > 0) {
            std::memmove(direction.buffer.data(), direction.buffer.data() + direction.head,
                         direction.tail - direction.head);
            direction.tail -= direction.head;
            direction.head = 0;
        }
        if (!direction.endOfStream && direction.tail < kBufferBytes) {
            const ssize_t got = ::read(direction.from, direction.buffer.data() + direction.tail,
                                       kBufferBytes - direction.tail);
            if (got > 0) {
                direction.tail += size_t(got);
                progressed = true;
            } else if (got == 0) {
                direction.endOfStream = true;
                progressed = true;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                end(false, QStringLiteral("read failed: ") + errorText(errno));
                return;
            }
        }
        if (!progressed)
            break;
    }

    if (direction.endOfStream && direction.head == direction.tail && !direction.shutDown) {
        direction.shutDown = true;
        ::shutdown(direction.to, SHUT_WR);
    }
    direction.readable->setEnabled(!direction.endOfStream && direction.tail < kBufferBytes);
    direction.writable->setEnabled(direction.tail > direction.head);
    if (m_ab.shutDown && m_ba.shutDown)
        end(true, QString());
}

void Splice::end(bool clean, const QString &reason)
{
    if (m_ended)
        return;
    m_ended = true;
    for (Direction *direction : {&m_ab, &m_ba}) {
        direction->readable->setEnabled(false);
        direction->writable->setEnabled(false);
    }
    if (clean) {
        ::close(m_fdA);
        ::close(m_fdB);
    } else {
        relayio::closeWithReset(m_fdA);
        relayio::closeWithReset(m_fdB);
    }
    emit finished(clean, reason);
}
