#pragma once

#include "servicelog.h"
#include "tunnelwire.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

class QTcpSocket;
class Connector;
class NameLookup;
class QTimer;
class Splice;

// The signed-in account as the client left it in the credential store.
struct ServiceAccount
{
    QString user;
    QString password;
    QString userId;

    bool isEmpty() const { return user.isEmpty() && userId.isEmpty(); }
};

// Where the tunnel login server is. The build setting, unless the service's
// own file "tessarosvc.ini" (platform::serviceConfigPath()) says otherwise in
// its [tunnel] section (keys host and port); the client never writes that file.
struct LoginServer
{
    QString host;
    quint16 port = tunnelwire::kDefaultPort;
};

// The service's run: takes up the account at start, logs in at the tunnel
// login server, and carries each visitor of the account's tunnels to the local
// application until stop() is called. A lost login server is tried again with
// growing pauses; a refusal that will not change by retrying (wrong password,
// replaced by a newer login) leaves the service idle until it is restarted.
class TunnelService : public QObject
{
    Q_OBJECT
public:
    explicit TunnelService(QObject *parent = nullptr);
    ~TunnelService() override;

    void start();
    const ServiceAccount &account() const { return m_account; }

    // Reads the store without ever writing it: the client owns that file.
    static ServiceAccount readAccount(const QString &storePath);
    static LoginServer readLoginServer(const QString &configPath);

public slots:
    void stop();

signals:
    // The account has been read: the service is up, as a Windows service
    // reports RUNNING to its manager.
    void ready();
    void finished();

private:
    struct LocalEnd
    {
        QString name;
        QHostAddress address; // null for a host name, looked up per visitor
        QString addressText;
        quint16 port = 0;
    };
    // Where a visitor's data connection goes: the server and session of the
    // login that announced it.
    struct DataRoute
    {
        QHostAddress address;
        quint16 port = 0;
        QByteArray session;
    };

    void connectToServer();
    void connectionLost(const QString &reason);
    // Drops the login's connection and everything that belonged to it.
    void closeControl();
    void scheduleReconnect();
    void readControl();
    void handle(const QJsonObject &message);
    void welcome(const QJsonObject &message);
    void visitor(quint64 conn, qint64 tunnelId);
    void reachLocal(quint64 conn, const LocalEnd &local, const QHostAddress &address,
                    const DataRoute &route);
    void dropLookups();
    void refuse(quint64 conn, const QString &reason);
    void send(const QJsonObject &message);
    void log(const QString &text);

    ServiceLog m_log;
    ServiceAccount m_account;
    LoginServer m_server;
    bool m_running = false;
    bool m_loggedIn = false;
    QTcpSocket *m_control = nullptr;
    tunnelwire::LineBuffer m_lines;
    QTimer *m_reconnect = nullptr;
    QTimer *m_ping = nullptr;
    QTimer *m_handshake = nullptr;
    QElapsedTimer m_heard;
    int m_backoffMs = 0;
    QByteArray m_session;
    QHash<qint64, LocalEnd> m_tunnels;
    QList<Splice *> m_splices;
    QList<Connector *> m_connecting;
    QList<NameLookup *> m_lookups;
};
