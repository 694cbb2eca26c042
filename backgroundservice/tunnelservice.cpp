#include "tunnelservice.h"

#include "buildconfig.h"
#include "namelookup.h"
#include "platform/platform.h"
#include "relayio.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QSettings>
#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr int kFirstRetryMs = 250;
constexpr int kLongestRetryMs = 5000;
const char kLocalFdProperty[] = "localFd";
// Well inside the provider's wait for a visitor's data connection.
constexpr int kLookupLimitMs = 5000;

} // namespace

TunnelService::TunnelService(QObject *parent) : QObject(parent)
{
    m_reconnect = new QTimer(this);
    m_reconnect->setSingleShot(true);
    connect(m_reconnect, &QTimer::timeout, this, &TunnelService::connectToServer);
    m_ping = new QTimer(this);
    connect(m_ping, &QTimer::timeout, this, [this] {
        if (m_heard.elapsed() > tunnelwire::kSilenceLimitMs) {
            connectionLost(QStringLiteral("no word from the server for %1 s")
                               .arg(tunnelwire::kSilenceLimitMs / 1000));
            return;
        }
        send({{QStringLiteral("type"), QStringLiteral("ping")}});
    });
    m_handshake = new QTimer(this);
    m_handshake->setSingleShot(true);
    connect(m_handshake, &QTimer::timeout, this, [this] {
        connectionLost(
            QStringLiteral("no welcome within %1 s").arg(tunnelwire::kHandshakeTimeoutMs / 1000));
    });
}

TunnelService::~TunnelService()
{
    for (Connector *connector : qAsConst(m_connecting)) {
        const QVariant fd = connector->property(kLocalFdProperty);
        if (fd.isValid())
            socketcalls::close(relayio::Socket(fd.toLongLong()));
    }
}

ServiceAccount TunnelService::readAccount(const QString &storePath)
{
    ServiceAccount account;
    if (!QFile::exists(storePath))
        return account;
    // Only value() is called, so QSettings has nothing to write back.
    const QSettings store(storePath, QSettings::IniFormat);
    account.user = store.value(QStringLiteral("server/user")).toString();
    account.password = store.value(QStringLiteral("server/pass")).toString();
    account.userId = store.value(QStringLiteral("server/userId")).toString();
    return account;
}

LoginServer TunnelService::readLoginServer(const QString &path)
{
    LoginServer server;
    server.host = QStringLiteral(TESSARO_TUNNEL_LOGIN_HOST);
    if (!QFile::exists(path))
        return server;
    const QSettings config(path, QSettings::IniFormat);
    const QString host = config.value(QStringLiteral("tunnel/host")).toString().trimmed();
    if (!host.isEmpty())
        server.host = host;
    bool ok = false;
    const int port = config.value(QStringLiteral("tunnel/port")).toInt(&ok);
    if (ok && port > 0 && port <= 65535)
        server.port = quint16(port);
    return server;
}

void TunnelService::start()
{
    m_log.open(platform::serviceLogPath() + QStringLiteral("/tessarosvc.log"));

    m_running = true;
    log(QStringLiteral("started (pid %1)").arg(QCoreApplication::applicationPid()));
    m_account = readAccount(platform::credentialStorePath());
    emit ready();
    // The password stays out of the log: the log folder is for the user to
    // browse and to send to support.
    if (m_account.isEmpty()) {
        log(QStringLiteral("no account"));
        return;
    }
    log(QStringLiteral("account: user %1, user ID %2").arg(m_account.user, m_account.userId));
    m_server = readLoginServer(platform::serviceConfigPath());
    connectToServer();
}

void TunnelService::stop()
{
    if (!m_running)
        return;
    m_running = false;
    m_reconnect->stop();
    m_ping->stop();
    m_handshake->stop();
    if (m_control) {
        m_control->disconnect(this);
        m_control->abort();
    }
    const int visitors = m_splices.size() + m_connecting.size() + m_lookups.size();
    dropLookups();
    // Closing ends each visitor's stream in order on both sides.
    qDeleteAll(m_splices);
    m_splices.clear();
    for (Connector *connector : qAsConst(m_connecting)) {
        const QVariant fd = connector->property(kLocalFdProperty);
        if (fd.isValid())
            socketcalls::close(relayio::Socket(fd.toLongLong()));
        delete connector;
    }
    m_connecting.clear();
    if (visitors > 0)
        log(QStringLiteral("closed %1 visitor connection(s)").arg(visitors));
    log(QStringLiteral("stopped"));
    emit finished();
}

void TunnelService::connectToServer()
{
    if (!m_running)
        return;
    log(QStringLiteral("connecting to the tunnel login server %1:%2")
            .arg(m_server.host)
            .arg(m_server.port));
    m_lines = tunnelwire::LineBuffer();
    m_control = new QTcpSocket(this);
    connect(m_control, &QTcpSocket::connected, this, [this] {
        log(QStringLiteral("connected; logging in as %1").arg(m_account.user));
        m_heard.start();
        send({{QStringLiteral("type"), QStringLiteral("login")},
              {QStringLiteral("version"), tunnelwire::kVersion},
              {QStringLiteral("user"), m_account.user},
              {QStringLiteral("password"), m_account.password}});
    });
    connect(m_control, &QTcpSocket::readyRead, this, &TunnelService::readControl);
    connect(m_control, &QTcpSocket::disconnected, this,
            [this] { connectionLost(QStringLiteral("closed by the server")); });
    connect(m_control, &QTcpSocket::errorOccurred, this,
            [this] { connectionLost(m_control->errorString()); });
    m_handshake->start(tunnelwire::kHandshakeTimeoutMs);
    m_control->connectToHost(m_server.host, m_server.port);
}

void TunnelService::connectionLost(const QString &reason)
{
    if (!m_running || !m_control)
        return;
    // Some of the reason may still be waiting to be read.
    readControl();
    if (!m_control)
        return;
    log(QStringLiteral("connection to the tunnel login server lost: %1").arg(reason));
    closeControl();
    scheduleReconnect();
}

void TunnelService::closeControl()
{
    m_control->disconnect(this);
    m_control->abort();
    m_control->deleteLater();
    m_control = nullptr;
    m_loggedIn = false;
    m_ping->stop();
    m_handshake->stop();
    // Visitors still waiting for their name belonged to that login.
    dropLookups();
}

void TunnelService::scheduleReconnect()
{
    m_backoffMs = m_backoffMs == 0 ? kFirstRetryMs : qMin(m_backoffMs * 2, kLongestRetryMs);
    log(QStringLiteral("next attempt in %1 ms").arg(m_backoffMs));
    m_reconnect->start(m_backoffMs);
}

void TunnelService::readControl()
{
    if (!m_control)
        return;
    m_lines.append(m_control->readAll());
    QByteArray line;
    while (m_control && m_lines.takeLine(&line)) {
        m_heard.restart();
        QJsonObject message;
        QString error;
        if (!tunnelwire::decode(line, &message, &error)) {
            connectionLost(QStringLiteral("bad line from the server: ") + error);
            return;
        }
        handle(message);
    }
    if (m_control && m_lines.overflowed())
        connectionLost(QStringLiteral("line from the server too long"));
}

void TunnelService::handle(const QJsonObject &message)
{
    const QString type = message.value(QStringLiteral("type")).toString();
    if (type == QLatin1String("welcome")) {
        welcome(message);
    } else if (type == QLatin1String("connect")) {
        visitor(quint64(message.value(QStringLiteral("conn")).toDouble()),
                qint64(message.value(QStringLiteral("tunnel")).toDouble()));
    } else if (type == QLatin1String("pong")) {
        // Only proves the line is alive.
    } else if (type == QLatin1String("error")) {
        const QString reason = message.value(QStringLiteral("reason")).toString();
        if (message.value(QStringLiteral("retry")).toBool()) {
            connectionLost(QStringLiteral("refused by the server: ") + reason);
            return;
        }
        log(QStringLiteral("refused by the tunnel login server: %1; not retrying until the "
                           "service is restarted")
                .arg(reason));
        closeControl();
    } else {
        log(QStringLiteral("ignored message \"%1\" from the server").arg(type.left(40)));
    }
}

void TunnelService::welcome(const QJsonObject &message)
{
    m_session = message.value(QStringLiteral("session")).toString().toLatin1();
    m_tunnels.clear();
    const QJsonArray tunnels = message.value(QStringLiteral("tunnels")).toArray();
    log(QStringLiteral("logged in; %1 tunnel(s)").arg(tunnels.size()));
    for (const QJsonValue &value : tunnels) {
        const QJsonObject tunnel = value.toObject();
        LocalEnd local;
        local.name = tunnel.value(QStringLiteral("name")).toString();
        local.addressText = tunnel.value(QStringLiteral("dst_address")).toString();
        local.port = quint16(tunnel.value(QStringLiteral("dst_port")).toInt());
        local.address = QHostAddress(local.addressText);
        const QString route =
            QStringLiteral("tunnel \"%1\" %2:%3 -> %4:%5")
                .arg(local.name, tunnel.value(QStringLiteral("public_address")).toString())
                .arg(tunnel.value(QStringLiteral("public_port")).toInt())
                .arg(local.addressText)
                .arg(local.port);
        if (!tunnel.value(QStringLiteral("open")).toBool())
            log(route + QStringLiteral(": public port not open at the server: ") +
                tunnel.value(QStringLiteral("error")).toString());
        else if (local.address.isNull())
            log(route + QStringLiteral(": open; the local host name is looked up for each "
                                       "visitor"));
        else
            log(route + QStringLiteral(": open"));
        m_tunnels.insert(qint64(tunnel.value(QStringLiteral("id")).toDouble()), local);
    }
    m_loggedIn = true;
    m_backoffMs = 0;
    m_handshake->stop();
    m_ping->start(tunnelwire::kPingIntervalMs);
}

void TunnelService::visitor(quint64 conn, qint64 tunnelId)
{
    const auto found = m_tunnels.constFind(tunnelId);
    if (!m_loggedIn || found == m_tunnels.constEnd()) {
        refuse(conn, QStringLiteral("no usable local address for tunnel %1").arg(tunnelId));
        return;
    }
    const LocalEnd local = *found;
    const DataRoute route{m_control->peerAddress(), m_control->peerPort(), m_session};
    if (!local.address.isNull()) {
        reachLocal(conn, local, local.address, route);
        return;
    }
    // A host name is looked up again for every visitor: a service started
    // before the local network's names resolve serves them once they do, and
    // a slow resolver holds up only this visitor.
    auto *lookup = new NameLookup(local.addressText, kLookupLimitMs, this);
    m_lookups.append(lookup);
    connect(
        lookup, &NameLookup::finished, this,
        [this, lookup, conn, local, route](const QHostAddress &address, const QString &why) {
            m_lookups.removeOne(lookup);
            lookup->deleteLater();
            if (address.isNull())
                refuse(conn,
                       QStringLiteral("%1:%2: %3").arg(local.addressText).arg(local.port).arg(why));
            else
                reachLocal(conn, local, address, route);
        });
    lookup->start();
}

void TunnelService::reachLocal(quint64 conn, const LocalEnd &local, const QHostAddress &address,
                               const DataRoute &route)
{
    const QHostAddress serverAddress = route.address;
    const quint16 serverPort = route.port;
    const QByteArray session = route.session;

    auto *toLocal = new Connector(this);
    m_connecting.append(toLocal);
    connect(toLocal, &Connector::failed, this, [this, toLocal, conn, local](const QString &why) {
        m_connecting.removeOne(toLocal);
        toLocal->deleteLater();
        refuse(conn, QStringLiteral("%1:%2: %3").arg(local.addressText).arg(local.port).arg(why));
    });
    connect(toLocal, &Connector::connected, this,
            [this, toLocal, conn, serverAddress, serverPort, session](relayio::Socket localFd) {
                m_connecting.removeOne(toLocal);
                toLocal->deleteLater();
                auto *toServer = new Connector(this);
                toServer->setProperty(kLocalFdProperty, qlonglong(localFd));
                m_connecting.append(toServer);
                connect(toServer, &Connector::failed, this,
                        [this, toServer, conn, localFd](const QString &why) {
                            m_connecting.removeOne(toServer);
                            toServer->deleteLater();
                            relayio::closeWithReset(localFd);
                            log(QStringLiteral("visitor %1: no data connection to the server: %2")
                                    .arg(conn)
                                    .arg(why));
                        });
                connect(
                    toServer, &Connector::connected, this,
                    [this, toServer, conn, localFd, session](relayio::Socket dataFd) {
                        m_connecting.removeOne(toServer);
                        toServer->deleteLater();
                        auto *splice = new Splice(localFd, dataFd, this);
                        m_splices.append(splice);
                        connect(
                            splice, &Splice::finished, this,
                            [this, splice, conn](bool clean, const QString &why) {
                                m_splices.removeOne(splice);
                                splice->deleteLater();
                                if (!clean)
                                    log(QStringLiteral("visitor %1 ended: %2").arg(conn).arg(why));
                            });
                        splice->queueForB(tunnelwire::encode(
                            {{QStringLiteral("type"), QStringLiteral("data")},
                             {QStringLiteral("session"), QString::fromLatin1(session)},
                             {QStringLiteral("conn"), double(conn)}}));
                        splice->start();
                    });
                toServer->start(serverAddress, serverPort, tunnelwire::kHandshakeTimeoutMs);
            });
    toLocal->start(address, local.port, tunnelwire::kHandshakeTimeoutMs);
}

void TunnelService::dropLookups()
{
    // Deleted, a lookup reports nothing more.
    qDeleteAll(m_lookups);
    m_lookups.clear();
}

void TunnelService::refuse(quint64 conn, const QString &reason)
{
    log(QStringLiteral("visitor %1: local application not reached: %2").arg(conn).arg(reason));
    send({{QStringLiteral("type"), QStringLiteral("refused")},
          {QStringLiteral("conn"), double(conn)},
          {QStringLiteral("reason"), reason}});
}

void TunnelService::send(const QJsonObject &message)
{
    if (m_control && m_control->state() == QAbstractSocket::ConnectedState)
        m_control->write(tunnelwire::encode(message));
}

void TunnelService::log(const QString &text)
{
    m_log.write(text);
}
