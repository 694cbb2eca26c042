#include "relayio.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Rounds of read/write per wake-up, so one busy connection cannot starve the
// others sharing the event loop.
constexpr int kRoundsPerWakeUp = 8;

// The splices that have started and not ended, for the sweep.
QList<Splice *> g_running;
QTimer *g_sweep = nullptr;
QElapsedTimer g_sinceFullSweep;
QElapsedTimer g_sinceLook;
// The splices with a direction to look at again (each at most once).
QList<QPointer<Splice>> g_lookAgain;

} // namespace

namespace relayio {

void closeWithReset(Socket socket)
{
    socketcalls::closeWithReset(socket);
}

bool writeSmall(Socket socket, const QByteArray &bytes)
{
    int error = 0;
    return socketcalls::send(socket, bytes.constData(), size_t(bytes.size()), &error) ==
           bytes.size();
}

} // namespace relayio

bool RawListener::open(const QHostAddress &address, quint16 port)
{
    if (!listen(address, port))
        return false;
    socketcalls::widenBacklog(socketDescriptor());
    return true;
}

void RawListener::incomingConnection(qintptr socketDescriptor)
{
    const relayio::Socket socket = socketDescriptor;
    socketcalls::prepare(socket);
    if (receivers(SIGNAL(accepted(relayio::Socket))) == 0) {
        socketcalls::close(socket);
        return;
    }
    emit accepted(socket);
}

Connector::Connector(QObject *parent) : QObject(parent) {}

Connector::~Connector()
{
    socketcalls::close(m_fd);
}

void Connector::start(const QHostAddress &address, quint16 port, int timeoutMs)
{
    bool pending = false;
    int error = 0;
    m_fd = socketcalls::startConnect(address, port, &pending, &error);
    if (m_fd == socketcalls::kNoSocket) {
        const QString reason = socketcalls::errorText(error);
        QTimer::singleShot(0, this, [this, reason] { finish(reason); });
        return;
    }
    if (!pending) {
        QTimer::singleShot(0, this, [this] { finish(QString()); });
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        const int error = socketcalls::connectError(m_fd);
        finish(error == 0 ? QString() : socketcalls::errorText(error));
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
    const relayio::Socket socket = m_fd;
    m_fd = socketcalls::kNoSocket;
    if (error.isEmpty() && socket != socketcalls::kNoSocket) {
        emit connected(socket);
        return;
    }
    socketcalls::close(socket);
    emit failed(error);
}

FirstLineReader::FirstLineReader(relayio::Socket fd, int maxBytes, int timeoutMs, QObject *parent)
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
    socketcalls::close(m_fd);
}

void FirstLineReader::readMore()
{
    if (m_fd == socketcalls::kNoSocket)
        return;
    char chunk[1024];
    const int room = std::min<int>(int(sizeof chunk), m_maxBytes - m_data.size());
    int error = 0;
    const long got = socketcalls::receive(m_fd, chunk, size_t(room), &error);
    if (got < 0) {
        if (error != 0)
            fail(socketcalls::errorText(error));
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
    const relayio::Socket socket = m_fd;
    m_fd = socketcalls::kNoSocket;
    emit lineRead(socket, m_data.left(end), m_data.mid(end + 1));
}

void FirstLineReader::fail(const QString &reason)
{
    m_notifier->setEnabled(false);
    m_timer->stop();
    socketcalls::close(m_fd);
    m_fd = socketcalls::kNoSocket;
    emit failed(reason);
}

Splice::Splice(relayio::Socket fdA, relayio::Socket fdB, QObject *parent)
    : QObject(parent), m_fdA(fdA), m_fdB(fdB)
{
    socketcalls::prepare(fdA);
    socketcalls::prepare(fdB);
    setUp(m_ab, fdA, fdB);
    setUp(m_ba, fdB, fdA);
}

Splice::~Splice()
{
    g_running.removeOne(this);
    if (!m_ended) {
        // Destroyed while running (the owner is shutting down): end the
        // streams in order so both peers see a plain close.
        m_ended = true;
        for (Direction *direction : {&m_ab, &m_ba}) {
            direction->readable->setEnabled(false);
            direction->writable->setEnabled(false);
        }
        socketcalls::close(m_fdA);
        socketcalls::close(m_fdB);
    }
}

void Splice::setUp(Direction &direction, relayio::Socket from, relayio::Socket to)
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
    // Winsock reports readiness as edges, and one that arrives while a
    // notifier is being switched can be missed: a slow sweep over every
    // running splice keeps such a connection moving. Where readiness is a
    // level it only finds nothing to do. One timer serves them all, as a
    // system may allow a process few timers.
    if (!g_sweep) {
        g_sweep = new QTimer(QCoreApplication::instance());
        QObject::connect(g_sweep, &QTimer::timeout, &Splice::sweep);
    }
    g_running.append(this);
    if (!g_sweep->isActive())
        g_sweep->start(kSweepMs);
    pump(m_ab);
    if (!m_ended)
        pump(m_ba);
}

// Wine does not report data that is already waiting when the relay asks to
// hear of a socket whose sending side it has shut down: the notifier is
// armed only at the next turn of the event loop, and an answer that comes
// quickly is there by then. Such a direction is pumped once more a moment
// later, when the notifier is surely armed.
void Splice::lookAgainSoon(Direction &direction)
{
    if (direction.lookAgain)
        return;
    if (!m_ab.lookAgain && !m_ba.lookAgain)
        g_lookAgain.append(this);
    direction.lookAgain = true;
    g_sinceLook.start();
    if (g_sweep->interval() != kLookAgainMs)
        g_sweep->start(kLookAgainMs);
}

// Every kSweepMs all running splices; in between, while there are any, the
// directions to look at again. The timer keeps its quick pace for a while
// after the last of those, so that a run of short connections does not
// restart it for each one.
void Splice::sweep()
{
    const bool full = g_sweep->interval() == kSweepMs || !g_sinceFullSweep.isValid() ||
                      g_sinceFullSweep.elapsed() >= kSweepMs;
    if (full)
        g_sinceFullSweep.start();
    // A pump may end a splice, and whoever owns it may then delete it.
    const QList<QPointer<Splice>> looks = std::exchange(g_lookAgain, {});
    for (const QPointer<Splice> &splice : looks) {
        if (!splice)
            continue;
        const bool ab = std::exchange(splice->m_ab.lookAgain, false);
        const bool ba = std::exchange(splice->m_ba.lookAgain, false);
        if (full)
            continue;
        if (ab && !splice->m_ended)
            splice->pump(splice->m_ab);
        if (ba && splice && !splice->m_ended)
            splice->pump(splice->m_ba);
    }
    if (full) {
        const std::vector<QPointer<Splice>> running(g_running.cbegin(), g_running.cend());
        for (const QPointer<Splice> &splice : running) {
            if (splice && !splice->m_ended)
                splice->pump(splice->m_ab);
            if (splice && !splice->m_ended)
                splice->pump(splice->m_ba);
        }
    }
    if (g_running.isEmpty() && g_lookAgain.isEmpty()) {
        g_sweep->stop();
        return;
    }
    const bool quick =
        !g_lookAgain.isEmpty() || (g_sinceLook.isValid() && g_sinceLook.elapsed() < kSweepMs);
    const int interval = quick ? kLookAgainMs : kSweepMs;
    if (g_sweep->interval() != interval)
        g_sweep->start(interval);
}

void Splice::abort(const QString &reason)
{
    end(false, reason);
}

void Splice::pump(Direction &direction)
{
    if (m_ended)
        return;
    direction.continuing = false;
    bool progressed = false;
    for (int round = 0; round < kRoundsPerWakeUp; ++round) {
        progressed = false;
        if (direction.tail > direction.head) {
            int error = 0;
            const long sent =
                socketcalls::send(direction.to, direction.buffer.data() + direction.head,
                                  direction.tail - direction.head, &error);
            if (sent > 0) {
                direction.head += size_t(sent);
                direction.total += quint64(sent);
                if (direction.head == direction.tail)
                    direction.head = direction.tail = 0;
                progressed = true;
            } else if (sent < 0 && error != 0) {
                end(false, QStringLiteral("write failed: ") + socketcalls::errorText(error));
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
            int error = 0;
            const long got =
                socketcalls::receive(direction.from, direction.buffer.data() + direction.tail,
                                     kBufferBytes - direction.tail, &error);
            if (got > 0) {
                direction.tail += size_t(got);
                progressed = true;
            } else if (got == 0) {
                direction.endOfStream = true;
                progressed = true;
            } else if (error != 0) {
                end(false, QStringLiteral("read failed: ") + socketcalls::errorText(error));
                return;
            }
        }
        if (!progressed)
            break;
    }

    if (direction.endOfStream && direction.head == direction.tail && !direction.shutDown) {
        direction.shutDown = true;
        socketcalls::shutdownWrite(direction.to);
        // The other direction reads from that socket.
        Direction &other = &direction == &m_ab ? m_ba : m_ab;
        if (other.readable->isEnabled())
            lookAgainSoon(other);
    }
    const bool wasReadable = direction.readable->isEnabled();
    direction.readable->setEnabled(!direction.endOfStream && direction.tail < kBufferBytes);
    direction.writable->setEnabled(direction.tail > direction.head);
    // Armed again after the other direction has shut down this one's source.
    if (!wasReadable && direction.readable->isEnabled() &&
        (&direction == &m_ab ? m_ba : m_ab).shutDown)
        lookAgainSoon(direction);
    if (m_ab.shutDown && m_ba.shutDown) {
        end(true, QString());
        return;
    }
    // Out of rounds with work left. Windows signals a socket writable only
    // after a send has been refused, so waiting for the notifiers could wait
    // for ever: go on at the next turn of the event loop instead.
    if (progressed && !direction.continuing) {
        direction.continuing = true;
        QMetaObject::invokeMethod(
            this, [this, &direction] { pump(direction); }, Qt::QueuedConnection);
    }
}

void Splice::end(bool clean, const QString &reason)
{
    if (m_ended)
        return;
    m_ended = true;
    g_running.removeOne(this);
    for (Direction *direction : {&m_ab, &m_ba}) {
        direction->readable->setEnabled(false);
        direction->writable->setEnabled(false);
    }
    if (clean) {
        socketcalls::close(m_fdA);
        socketcalls::close(m_fdB);
    } else {
        relayio::closeWithReset(m_fdA);
        relayio::closeWithReset(m_fdB);
    }
    emit finished(clean, reason);
}
