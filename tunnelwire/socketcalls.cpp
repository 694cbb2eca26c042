// Winsock's headers must come before anything that includes windows.h, Qt's
// headers among them.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "socketcalls.h"

#include <QHostAddress>

#include <cstring>

namespace socketcalls {

namespace {

#ifdef Q_OS_WIN
using Native = SOCKET;
using Length = int;
using IoSize = int;
constexpr int kSendFlags = 0;
constexpr int kShutWrite = SD_SEND;

int lastError()
{
    return WSAGetLastError();
}

bool isTransient(int error)
{
    return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

bool isPendingConnect(int error)
{
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}

// Winsock is usable only after WSAStartup; Qt starts it with its first
// socket, but a relay may open a raw socket before that.
struct WinsockStart
{
    WinsockStart()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockStart() { WSACleanup(); }
};
const WinsockStart g_winsockStart;
#else
using Native = int;
using Length = socklen_t;
using IoSize = size_t;
constexpr int kSendFlags = MSG_NOSIGNAL;
constexpr int kShutWrite = SHUT_WR;

int lastError()
{
    return errno;
}

bool isTransient(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

bool isPendingConnect(int error)
{
    return error == EINPROGRESS;
}
#endif

Native native(Socket socket)
{
    return Native(socket);
}

long result(long moved, int *error)
{
    if (moved >= 0)
        return moved;
    const int code = lastError();
    *error = isTransient(code) ? 0 : code;
    return -1;
}

} // namespace

void prepare(Socket socket)
{
#ifdef Q_OS_WIN
    u_long nonBlocking = 1;
    ioctlsocket(native(socket), FIONBIO, &nonBlocking);
    SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
#else
    const int flags = ::fcntl(native(socket), F_GETFL);
    if (flags >= 0)
        ::fcntl(native(socket), F_SETFL, flags | O_NONBLOCK);
    ::fcntl(native(socket), F_SETFD, FD_CLOEXEC);
#endif
    // Relayed traffic is often request/answer: do not hold back small writes.
    const int on = 1;
    ::setsockopt(native(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on),
                 sizeof on);
}

void close(Socket socket)
{
    if (socket == kNoSocket)
        return;
#ifdef Q_OS_WIN
    ::closesocket(native(socket));
#else
    ::close(native(socket));
#endif
}

void closeWithReset(Socket socket)
{
    if (socket == kNoSocket)
        return;
    const linger hard = {1, 0};
    ::setsockopt(native(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&hard),
                 sizeof hard);
    close(socket);
}

void shutdownWrite(Socket socket)
{
    ::shutdown(native(socket), kShutWrite);
}

long receive(Socket socket, char *data, size_t size, int *error)
{
    return result(long(::recv(native(socket), data, IoSize(size), 0)), error);
}

long send(Socket socket, const char *data, size_t size, int *error)
{
    return result(long(::send(native(socket), data, IoSize(size), kSendFlags)), error);
}

Socket startConnect(const QHostAddress &address, quint16 port, bool *pending, int *error)
{
    *pending = false;
    sockaddr_storage storage = {};
    Length length = 0;
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
        *error = -1;
        return kNoSocket;
    }

    const Native made = ::socket(storage.ss_family, SOCK_STREAM, 0);
#ifdef Q_OS_WIN
    if (made == INVALID_SOCKET) {
#else
    if (made < 0) {
#endif
        *error = lastError();
        return kNoSocket;
    }
    const Socket socket = Socket(made);
    prepare(socket);
    if (::connect(made, reinterpret_cast<sockaddr *>(&storage), length) == 0)
        return socket;
    const int code = lastError();
    if (isPendingConnect(code)) {
        *pending = true;
        return socket;
    }
    close(socket);
    *error = code;
    return kNoSocket;
}

int connectError(Socket socket)
{
    int code = 0;
    Length size = sizeof code;
    ::getsockopt(native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&code), &size);
    return code;
}

void widenBacklog(Socket socket)
{
    ::listen(native(socket), SOMAXCONN);
}

QString errorText(int error)
{
    if (error == -1)
        return QStringLiteral("no usable address");
#ifdef Q_OS_WIN
    wchar_t *text = nullptr;
    const DWORD size = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(error), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString message = size > 0 ? QString::fromWCharArray(text, int(size)).trimmed()
                               : QStringLiteral("error %1").arg(error);
    LocalFree(text);
    return message;
#else
    return QString::fromLocal8Bit(std::strerror(error));
#endif
}

} // namespace socketcalls
