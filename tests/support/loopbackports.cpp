#include "support/loopbackports.h"

#include <QHostAddress>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

// Qt's listen asks for a long queue; this needs the shortest, so the listener
// is made with the socket calls themselves.
qintptr listenWithoutQueue(quint16 *port)
{
#ifdef Q_OS_WIN
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    using Length = int;
    const SOCKET fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd == INVALID_SOCKET)
        return -1;
#else
    using Length = socklen_t;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Length length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(fd, 0) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        *port = 0;
    } else {
        *port = ntohs(address.sin_port);
    }
    return static_cast<qintptr>(fd);
}

void closeListener(qintptr fd)
{
#ifdef Q_OS_WIN
    ::closesocket(static_cast<SOCKET>(fd));
#else
    ::close(static_cast<int>(fd));
#endif
}

} // namespace

RefusingPort::RefusingPort()
{
    m_socket.bind(QHostAddress(QHostAddress::LocalHost), 0, QAbstractSocket::DontShareAddress);
}

SilentPort::SilentPort()
{
    m_listener = listenWithoutQueue(&m_port);
    if (m_listener == -1 || m_port == 0)
        return;
    // Connect until one attempt hangs: from then on the queue is full.
    for (int i = 0; i < 8; ++i) {
        auto filler = std::make_unique<QTcpSocket>();
        filler->connectToHost(QHostAddress::LocalHost, m_port);
        const bool connected = filler->waitForConnected(300);
        m_fillers.push_back(std::move(filler));
        if (!connected) {
            m_full = true;
            return;
        }
    }
}

SilentPort::~SilentPort()
{
    m_fillers.clear();
    if (m_listener != -1)
        closeListener(m_listener);
}
