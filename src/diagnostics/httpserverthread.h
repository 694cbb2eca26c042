#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QThread>

class QIODevice;

// The local test web server on port 18000 that a user can point a tunnel at.
// It answers every connection with one fixed page greeting the signed-in user.
// It serves from the GUI thread; the thread base only hosts the server object
// and is never started.
class HttpServerThread : public QThread
{
    Q_OBJECT

public:
    static constexpr quint16 DefaultPort = 18000;
    // A connection is closed this long after its last byte either way.
    static constexpr int IdleTimeoutMs = 20000;
    // Beyond this many open connections a new one closes the longest-idle.
    static constexpr int MaxConnections = 256;

    // The client serves on all addresses at port 18000 (the default endpoint).
    HttpServerThread();
    // Tests pass loopback and a free port (0 lets the system choose).
    HttpServerThread(quint16 port, const QHostAddress &address);
    ~HttpServerThread() override;

    // Whether a server of this client listens: another program holding the
    // port does not count.
    static bool anyListening();

    // Where servers built without arguments listen. Tests move it to loopback
    // and a free port, so windows they build never claim port 18000.
    static void setDefaultEndpoint(quint16 port, const QHostAddress &address);

    // Begins listening. A taken port leaves the server not listening, with a
    // debug line and nothing else.
    void startServer();

    bool isListening() const;
    quint16 serverPort() const;
    // Connections accepted and not yet closed by their peer.
    int openConnections() const;

    // Writes the whole response to one connection without reading or closing it.
    void writeResponse(QIODevice *socket);

private slots:
    void handleNewConnection();

private:
    QTcpServer m_server;
    quint16 m_port;
    QHostAddress m_address;
    QElapsedTimer m_activityClock;
};
