#pragma once

// The raw socket calls of the relay, the same on every system. A socket is
// Qt's native descriptor type: an int on POSIX, a SOCKET on Windows.

#include <QString>
#include <QtGlobal>

#include <cstddef>

class QHostAddress;

namespace socketcalls {

using Socket = qintptr;
constexpr Socket kNoSocket = -1;

// Non-blocking, not inherited by child processes, small writes not held back.
void prepare(Socket socket);
void close(Socket socket);
// Closes with a reset instead of an orderly end of stream.
void closeWithReset(Socket socket);
// The peer reads an end of stream; receiving goes on.
void shutdownWrite(Socket socket);
// Like recv() and send(): the bytes moved, 0 for the peer's end of stream
// (receive only), or -1 with *error set to the system's error, or to 0 when
// the call would block or was interrupted.
long receive(Socket socket, char *data, size_t size, int *error);
long send(Socket socket, const char *data, size_t size, int *error);
// Starts a non-blocking connection. kNoSocket with *error when it failed at
// once; otherwise *pending tells whether it is still under way.
Socket startConnect(const QHostAddress &address, quint16 port, bool *pending, int *error);
// The outcome of a connection that was pending: 0 or the system's error.
int connectError(Socket socket);
// Lets the kernel queue as many connections as it allows.
void widenBacklog(Socket socket);
QString errorText(int error);

} // namespace socketcalls
