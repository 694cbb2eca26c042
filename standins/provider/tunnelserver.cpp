#include "tunnelserver.h"

#include "relayio.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>

namespace {

// Visitors waiting for the service's data connection, per session; more are
// turned away so a flood cannot pile up descriptors.
constexpr int kMaxPendingVisitors = 512;
// A service that does not read its control connection is dropped before the
// backlog of "connect" lines grows further.
constexpr qint64 kMaxControlBacklog = 1024 * 1024;
constexpr int kMaxLoginsInProgress = 16;

// Text from the network goes to the terminal: no control characters.
QString printable(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('?');
    }
    return text.left(200);
}

QByteArray newToken()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex();
}

QString describe(const Tunnel &tunnel)
{
    return QStringLiteral("tunnel %1 \"%2\" %3:%4 -> %5:%6")
        .arg(tunnel.id)
        .arg(printable(tunnel.name), tunnel.publicAddress)
        .arg(tunnel.publicPort)
        .arg(tunnel.dstAddress)
        .arg(tunnel.dstPort);
}

} // namespace

TunnelSession::TunnelSession(TunnelServer &server, const Account &account, const QByteArray &token,
                             relayio::Socket fd, const QByteArray &rest)
    : QObject(&server), m_server(server), m_account(account), m_token(token)
{
    m_control = new QTcpSocket(this);
    m_control->setSocketDescriptor(fd);
    m_lines.append(rest);
    connect(m_control, &QTcpSocket::readyRead, this, &TunnelSession::readControl);
    connect(m_control, &QTcpSocket::disconnected, this,
            [this] { end(QStringLiteral("service disconnected"), true); });
    m_lastHeard.start();
    m_sweep = new QTimer(this);
    connect(m_sweep, &QTimer::timeout, this, &TunnelSession::sweep);
    m_sweep->start(1000);
}

TunnelSession::~TunnelSession()
{
    for (const PendingVisitor &visitor : qAsConst(m_pending))
        relayio::closeWithReset(visitor.fd);
}

void TunnelSession::open(const QVector<Tunnel> &tunnels)
{
    QJsonArray list;
    for (const Tunnel &tunnel : tunnels) {
        auto *listener = new RawListener(this);
        QJsonObject entry{{QStringLiteral("id"), tunnel.id},
                          {QStringLiteral("name"), tunnel.name},
                          {QStringLiteral("public_address"), tunnel.publicAddress},
                          {QStringLiteral("public_port"), tunnel.publicPort},
                          {QStringLiteral("dst_address"), tunnel.dstAddress},
                          {QStringLiteral("dst_port"), tunnel.dstPort}};
        if (listener->open(QHostAddress(tunnel.publicAddress), quint16(tunnel.publicPort))) {
            connect(listener, &RawListener::accepted, this,
                    [this, tunnel](relayio::Socket fd) { visitorArrived(tunnel, fd); });
            m_listeners.append(listener);
            entry.insert(QStringLiteral("open"), true);
            m_server.log(
                QStringLiteral("%1: open for %2").arg(describe(tunnel), m_account.username));
        } else {
            const QString error = listener->errorString();
            delete listener;
            entry.insert(QStringLiteral("open"), false);
            entry.insert(QStringLiteral("error"), error);
            m_server.log(
                QStringLiteral("%1: cannot open the public port: %2").arg(describe(tunnel), error));
        }
        list.append(entry);
    }
    send({{QStringLiteral("type"), QStringLiteral("welcome")},
          {QStringLiteral("session"), QString::fromLatin1(m_token)},
          {QStringLiteral("tunnels"), list}});
    // Lines that came with the login are handled only now.
    readControl();
}

void TunnelSession::readControl()
{
    if (m_ended)
        return;
    m_lines.append(m_control->readAll());
    QByteArray line;
    while (!m_ended && m_lines.takeLine(&line)) {
        m_lastHeard.restart();
        QJsonObject message;
        QString error;
        if (!tunnelwire::decode(line, &message, &error)) {
            end(QStringLiteral("bad control line from the service: ") + error, true);
            return;
        }
        handle(message);
    }
    if (!m_ended && m_lines.overflowed())
        end(QStringLiteral("control line from the service too long"), true);
}

void TunnelSession::handle(const QJsonObject &message)
{
    const QString type = message.value(QStringLiteral("type")).toString();
    if (type == QLatin1String("ping")) {
        send({{QStringLiteral("type"), QStringLiteral("pong")}});
    } else if (type == QLatin1String("refused")) {
        const quint64 conn = quint64(message.value(QStringLiteral("conn")).toDouble());
        dropPending(conn, QStringLiteral("local end refused: ") +
                              printable(message.value(QStringLiteral("reason")).toString()));
    } else {
        // Unknown lines are skipped so that a newer service still works here.
        m_server.log(QStringLiteral("%1: ignored control message \"%2\"")
                         .arg(m_account.username, printable(type)));
    }
}

void TunnelSession::visitorArrived(const Tunnel &tunnel, relayio::Socket fd)
{
    if (m_ended) {
        socketcalls::close(fd);
        return;
    }
    if (m_pending.size() >= kMaxPendingVisitors) {
        m_server.log(QStringLiteral("%1: visitor turned away, %2 already wait for the service")
                         .arg(describe(tunnel))
                         .arg(m_pending.size()));
        relayio::closeWithReset(fd);
        return;
    }
    const quint64 conn = m_server.nextConnectionId();
    PendingVisitor visitor;
    visitor.fd = fd;
    visitor.tunnelId = tunnel.id;
    visitor.since.start();
    m_pending.insert(conn, visitor);
    send({{QStringLiteral("type"), QStringLiteral("connect")},
          {QStringLiteral("conn"), double(conn)},
          {QStringLiteral("tunnel"), tunnel.id}});
}

bool TunnelSession::attach(quint64 conn, relayio::Socket dataFd, const QByteArray &rest)
{
    const auto found = m_pending.find(conn);
    if (m_ended || found == m_pending.end())
        return false;
    const relayio::Socket visitorFd = found->fd;
    m_pending.erase(found);
    auto *splice = new Splice(visitorFd, dataFd, this);
    m_splices.append(splice);
    connect(splice, &Splice::finished, this, [this, splice, conn](bool clean, const QString &why) {
        m_splices.removeOne(splice);
        splice->deleteLater();
        if (!clean)
            m_server.logDetail(QStringLiteral("%1: visitor connection %2 ended: %3")
                                   .arg(m_account.username)
                                   .arg(conn)
                                   .arg(why));
    });
    splice->queueForA(rest);
    splice->start();
    return true;
}

void TunnelSession::dropPending(quint64 conn, const QString &reason)
{
    const auto found = m_pending.find(conn);
    if (found == m_pending.end())
        return;
    m_server.log(QStringLiteral("%1: visitor connection %2 on tunnel %3 closed: %4")
                     .arg(m_account.username)
                     .arg(conn)
                     .arg(found->tunnelId)
                     .arg(reason));
    relayio::closeWithReset(found->fd);
    m_pending.erase(found);
}

void TunnelSession::sweep()
{
    if (m_lastHeard.elapsed() > tunnelwire::kSilenceLimitMs) {
        end(QStringLiteral("no word from the service for %1 s")
                .arg(tunnelwire::kSilenceLimitMs / 1000),
            true);
        return;
    }
    QList<quint64> late;
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
        if (it->since.elapsed() > tunnelwire::kHandshakeTimeoutMs)
            late.append(it.key());
    }
    for (const quint64 conn : late)
        dropPending(conn, QStringLiteral("no data connection from the service in time"));
}

void TunnelSession::send(const QJsonObject &message)
{
    if (m_ended)
        return;
    m_control->write(tunnelwire::encode(message));
    if (m_control->bytesToWrite() > kMaxControlBacklog)
        QTimer::singleShot(0, this, [this] {
            end(QStringLiteral("service does not read its control connection"), true);
        });
}

void TunnelSession::end(const QString &reason, bool retry)
{
    if (m_ended)
        return;
    if (m_control->state() == QAbstractSocket::ConnectedState) {
        m_control->write(tunnelwire::encode({{QStringLiteral("type"), QStringLiteral("error")},
                                             {QStringLiteral("reason"), reason},
                                             {QStringLiteral("retry"), retry}}));
        m_control->flush();
    }
    m_ended = true;
    m_sweep->stop();
    // Public ports close first, so a new session can take them at once.
    qDeleteAll(m_listeners);
    m_listeners.clear();
    for (const PendingVisitor &visitor : qAsConst(m_pending))
        relayio::closeWithReset(visitor.fd);
    m_pending.clear();
    const QList<Splice *> splices = m_splices;
    for (Splice *splice : splices)
        splice->abort(QStringLiteral("the service went away"));
    m_control->disconnect(this);
    m_control->disconnectFromHost();
    m_server.log(QStringLiteral("%1: session ended (%2); public ports closed")
                     .arg(m_account.username, reason));
    emit ended(this);
}

TunnelServer::TunnelServer(Database &database, bool quiet) : m_database(database), m_quiet(quiet)
{
    m_checks.setMaxThreadCount(2);
}

TunnelServer::~TunnelServer()
{
    m_checks.waitForDone();
    const QList<TunnelSession *> sessions = m_byAccount.values();
    for (TunnelSession *session : sessions) {
        session->disconnect(this);
        session->end(QStringLiteral("provider shutting down"), true);
        delete session;
    }
}

bool TunnelServer::listen(const QHostAddress &address, quint16 port, QString *error)
{
    m_listener = new RawListener(this);
    connect(m_listener, &RawListener::accepted, this, &TunnelServer::accepted);
    if (!m_listener->open(address, port)) {
        *error = m_listener->errorString();
        return false;
    }
    return true;
}

quint16 TunnelServer::port() const
{
    return m_listener ? m_listener->serverPort() : 0;
}

void TunnelServer::log(const QString &text) const
{
    std::printf("tunnel: %s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

void TunnelServer::logDetail(const QString &text) const
{
    if (!m_quiet)
        log(text);
}

void TunnelServer::accepted(relayio::Socket fd)
{
    auto *reader =
        new FirstLineReader(fd, tunnelwire::kMaxLineBytes, tunnelwire::kHandshakeTimeoutMs, this);
    connect(reader, &FirstLineReader::lineRead, this,
            [this, reader](relayio::Socket fd, const QByteArray &line, const QByteArray &rest) {
                reader->deleteLater();
                firstLine(fd, line, rest);
            });
    connect(reader, &FirstLineReader::failed, this, [this, reader](const QString &reason) {
        reader->deleteLater();
        log(QStringLiteral("connection dropped: ") + reason);
    });
}

void TunnelServer::firstLine(relayio::Socket fd, const QByteArray &line, const QByteArray &rest)
{
    QJsonObject message;
    QString error;
    if (!tunnelwire::decode(line, &message, &error)) {
        log(QStringLiteral("connection dropped: ") + error);
        reject(fd, error, false);
        return;
    }
    const QString type = message.value(QStringLiteral("type")).toString();
    if (type == QLatin1String("login")) {
        login(fd, message, rest);
    } else if (type == QLatin1String("data")) {
        attachData(fd, message, rest);
    } else {
        log(QStringLiteral("connection dropped: unknown first message \"%1\"")
                .arg(printable(type)));
        reject(fd, QStringLiteral("unknown message"), false);
    }
}

void TunnelServer::login(relayio::Socket fd, const QJsonObject &message, const QByteArray &rest)
{
    const QString user = message.value(QStringLiteral("user")).toString();
    const QString password = message.value(QStringLiteral("password")).toString();
    if (message.value(QStringLiteral("version")).toInt() != tunnelwire::kVersion) {
        log(QStringLiteral("login of \"%1\" refused: unsupported protocol version")
                .arg(printable(user)));
        reject(fd, QStringLiteral("unsupported protocol version"), false);
        return;
    }
    if (user.isEmpty() || password.isEmpty()) {
        log(QStringLiteral("login refused: no user name or password"));
        reject(fd, QStringLiteral("user name and password required"), false);
        return;
    }
    if (m_loginsInProgress >= kMaxLoginsInProgress) {
        log(QStringLiteral("login of \"%1\" refused: too many logins at once")
                .arg(printable(user)));
        reject(fd, QStringLiteral("server busy"), true);
        return;
    }
    ++m_loginsInProgress;
    m_checks.start([this, fd, user, password, rest] {
        const std::optional<Account> account = m_database.authenticate(user, password);
        QMetaObject::invokeMethod(
            this, [this, fd, user, account, rest] { loggedIn(fd, user, account, rest); },
            Qt::QueuedConnection);
    });
}

void TunnelServer::loggedIn(relayio::Socket fd, const QString &user,
                            const std::optional<Account> &account, const QByteArray &rest)
{
    --m_loginsInProgress;
    if (!account) {
        log(QStringLiteral("login of \"%1\" refused: wrong user name or password")
                .arg(printable(user)));
        reject(fd, QStringLiteral("wrong user name or password"), false);
        return;
    }
    if (TunnelSession *older = m_byAccount.value(account->id)) {
        older->end(QStringLiteral("replaced by a newer login of the same account"), false);
    }
    const QVector<Tunnel> tunnels = m_database.tunnels(account->id);
    auto *session = new TunnelSession(*this, *account, newToken(), fd, rest);
    connect(session, &TunnelSession::ended, this, &TunnelServer::sessionEnded);
    m_byAccount.insert(account->id, session);
    m_byToken.insert(session->token(), session);
    log(QStringLiteral("%1: logged in, %2 tunnel(s)").arg(account->username).arg(tunnels.size()));
    session->open(tunnels);
}

void TunnelServer::attachData(relayio::Socket fd, const QJsonObject &message,
                              const QByteArray &rest)
{
    const QByteArray token = message.value(QStringLiteral("session")).toString().toLatin1();
    const quint64 conn = quint64(message.value(QStringLiteral("conn")).toDouble());
    TunnelSession *session = m_byToken.value(token);
    if (!session || !session->attach(conn, fd, rest)) {
        log(QStringLiteral("data connection dropped: no visitor %1 waits in that session")
                .arg(conn));
        relayio::closeWithReset(fd);
    }
}

void TunnelServer::reject(relayio::Socket fd, const QString &reason, bool retry)
{
    relayio::writeSmall(fd, tunnelwire::encode({{QStringLiteral("type"), QStringLiteral("error")},
                                                {QStringLiteral("reason"), reason},
                                                {QStringLiteral("retry"), retry}}));
    socketcalls::close(fd);
}

void TunnelServer::sessionEnded(TunnelSession *session)
{
    if (m_byAccount.value(session->accountId()) == session)
        m_byAccount.remove(session->accountId());
    m_byToken.remove(session->token());
    session->deleteLater();
}
