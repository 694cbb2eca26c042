#include "diagnostics/tcpprobe.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace tcpprobe {

namespace {

// Shared between the waiting caller and the resolver's thread, which may
// outlive the caller's wait.
struct Lookup
{
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    QHostInfo info;
};

bool resolveWithin(const QString &host, const platform::HostLookup &lookup,
                   const QDeadlineTimer &deadline, QList<QHostAddress> *addresses, QString *why)
{
    QHostAddress literal;
    if (literal.setAddress(host)) {
        addresses->append(literal);
        return true;
    }
    auto state = std::make_shared<Lookup>();
    std::thread([state, lookup, host] {
        const QHostInfo info = lookup(host);
        const std::lock_guard<std::mutex> lock(state->mutex);
        state->info = info;
        state->finished = true;
        state->done.notify_all();
    }).detach();

    std::unique_lock<std::mutex> lock(state->mutex);
    const auto left = std::chrono::milliseconds(qMax<qint64>(0, deadline.remainingTime()));
    if (!state->done.wait_for(lock, left, [&state] { return state->finished; })) {
        *why = QStringLiteral("Host lookup timed out");
        return false;
    }
    if (state->info.error() != QHostInfo::NoError || state->info.addresses().isEmpty()) {
        *why = state->info.errorString();
        return false;
    }
    *addresses = state->info.addresses();
    return true;
}

} // namespace

bool connectWithin(QTcpSocket &socket, const QString &host, quint16 port, int waitMs,
                   const platform::HostLookup &lookup, QString *why)
{
    const QDeadlineTimer deadline(waitMs);
    QString reason;
    QList<QHostAddress> addresses;
    if (!resolveWithin(host, lookup, deadline, &addresses, &reason)) {
        if (why)
            *why = reason;
        return false;
    }
    // Each address in the resolver's order, all within the one bound.
    for (const QHostAddress &address : addresses) {
        socket.abort();
        socket.connectToHost(address, port, QIODevice::ReadWrite);
        if (socket.waitForConnected(int(qMax<qint64>(0, deadline.remainingTime()))))
            return true;
        reason = socket.errorString();
        if (deadline.hasExpired())
            break;
    }
    if (why)
        *why = reason;
    return false;
}

} // namespace tcpprobe
