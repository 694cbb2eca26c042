#pragma once

#include <QTcpSocket>

#include <memory>
#include <vector>

// A loopback port on which nothing listens: connections are refused. It stays
// reserved while the object lives, so that no client socket of the test can
// get it as its own port and connect to itself.
class RefusingPort
{
public:
    RefusingPort();
    quint16 port() const { return m_socket.localPort(); }

private:
    QTcpSocket m_socket;
};

// A loopback listener whose accept queue is full: the system drops further
// connection requests, so a connect neither succeeds nor is refused until the
// caller gives up.
class SilentPort
{
public:
    SilentPort();
    SilentPort(const SilentPort &) = delete;
    SilentPort &operator=(const SilentPort &) = delete;
    ~SilentPort();
    // 0 when the queue could not be filled here.
    quint16 port() const { return m_full ? m_port : 0; }

private:
    qintptr m_listener = -1;
    quint16 m_port = 0;
    bool m_full = false;
    std::vector<std::unique_ptr<QTcpSocket>> m_fillers;
};
