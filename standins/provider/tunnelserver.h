#pragma once

#include "database.h"
#include "relayio.h"
#include "tunnelwire.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QThreadPool>

class QTcpSocket;
class QTimer;
class RawListener;
class Splice;
class TunnelServer;

// One signed-in service: its control connection, a listener on the public
// port of each of its account's tunnels, and the visitor connections.
class TunnelSession : public QObject
{
    Q_OBJECT
public:
    TunnelSession(TunnelServer &server, const Account &account, const QByteArray &token,
                  relayio::Socket fd, const QByteArray &rest);
    ~TunnelSession() override;

    qint64 accountId() const { return m_account.id; }
    const QByteArray &token() const { return m_token; }
    // Sends the welcome with the tunnels and opens their public ports.
    void open(const QVector<Tunnel> &tunnels);
    // Joins a visitor with the service's data connection for it.
    bool attach(quint64 conn, relayio::Socket dataFd, const QByteArray &rest);
    // Tells the service why (when it can still hear it) and closes everything.
    void end(const QString &reason, bool retry);

signals:
    void ended(TunnelSession *session);

private:
    struct PendingVisitor
    {
        relayio::Socket fd = socketcalls::kNoSocket;
        qint64 tunnelId = 0;
        QElapsedTimer since;
    };

    void readControl();
    void handle(const QJsonObject &message);
    void visitorArrived(const Tunnel &tunnel, relayio::Socket fd);
    void dropPending(quint64 conn, const QString &reason);
    void sweep();
    void send(const QJsonObject &message);

    TunnelServer &m_server;
    Account m_account;
    QByteArray m_token;
    QTcpSocket *m_control = nullptr;
    tunnelwire::LineBuffer m_lines;
    QTimer *m_sweep = nullptr;
    QElapsedTimer m_lastHeard;
    QList<RawListener *> m_listeners;
    QHash<quint64, PendingVisitor> m_pending;
    QList<Splice *> m_splices;
    bool m_ended = false;
};

// The tunnel login server: authenticates services and relays their visitors.
// Lives on its own thread with its own event loop; the database is shared
// with the HTTP server and serialises itself.
//
// A second login for an account that is already connected wins: the older
// service is told "replaced by a newer login of the same account" (and not to
// retry) and its public ports close before the new ones open. A service that
// was stopped uncleanly, or on another machine, so never locks an account out.
class TunnelServer : public QObject
{
    Q_OBJECT
public:
    TunnelServer(Database &database, bool quiet);
    ~TunnelServer() override;

    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const;

    void log(const QString &text) const;
    void logDetail(const QString &text) const;
    quint64 nextConnectionId() { return ++m_lastConnectionId; }

private:
    void accepted(relayio::Socket fd);
    void firstLine(relayio::Socket fd, const QByteArray &line, const QByteArray &rest);
    void login(relayio::Socket fd, const QJsonObject &message, const QByteArray &rest);
    void loggedIn(relayio::Socket fd, const QString &user, const std::optional<Account> &account,
                  const QByteArray &rest);
    void attachData(relayio::Socket fd, const QJsonObject &message, const QByteArray &rest);
    void reject(relayio::Socket fd, const QString &reason, bool retry);
    void sessionEnded(TunnelSession *session);

    Database &m_database;
    bool m_quiet;
    RawListener *m_listener = nullptr;
    QHash<qint64, TunnelSession *> m_byAccount;
    QHash<QByteArray, TunnelSession *> m_byToken;
    quint64 m_lastConnectionId = 0;
    int m_loginsInProgress = 0;
    // Password checks are slow on purpose; they run here, not on the relay.
    QThreadPool m_checks;
};
