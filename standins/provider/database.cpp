#include "database.h"

#include "webutil.h"

#include <sqlite3.h>

#include <QDateTime>
#include <QSet>

const char *const Database::kDemoUser = "demo";
const char *const Database::kDemoPassword = "demo1234";
const char *const Database::kDomainSuffix = "localhost";

namespace {
constexpr int kSchemaVersion = 1;
// Tunnels are reached through this machine in the local setup.
const char kPublicAddress[] = "127.0.0.1";

QString timestamp(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

const char kSchema[] = R"sql(
CREATE TABLE accounts (
    id            INTEGER PRIMARY KEY AUTOINCREMENT,
    username      TEXT NOT NULL UNIQUE,
    password_hash TEXT NOT NULL,
    user_type     TEXT NOT NULL,
    display_name  TEXT NOT NULL,
    quota         INTEGER NOT NULL,
    bandwidth     INTEGER NOT NULL,
    expires       TEXT NOT NULL,
    registered    TEXT NOT NULL,
    avatar        TEXT NOT NULL DEFAULT '',
    coupons       INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE tunnels (
    id             INTEGER PRIMARY KEY AUTOINCREMENT,
    account_id     INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    name           TEXT NOT NULL,
    domain         TEXT NOT NULL UNIQUE,
    dst_address    TEXT NOT NULL,
    dst_port       INTEGER NOT NULL,
    public_address TEXT NOT NULL,
    public_port    INTEGER NOT NULL UNIQUE,
    public_port2   TEXT NOT NULL DEFAULT '',
    domain_type    TEXT NOT NULL,
    channel_type   TEXT NOT NULL,
    channel_state  TEXT NOT NULL,
    channel_model  TEXT NOT NULL,
    model          TEXT NOT NULL,
    domain_auth    TEXT NOT NULL,
    bandwidth      INTEGER NOT NULL
);
CREATE INDEX tunnels_by_account ON tunnels(account_id);
CREATE TABLE scenes (
    id      INTEGER PRIMARY KEY AUTOINCREMENT,
    name    TEXT NOT NULL,
    title   TEXT NOT NULL,
    content TEXT NOT NULL,
    icon    TEXT NOT NULL
);
CREATE TABLE addons (
    id      INTEGER PRIMARY KEY AUTOINCREMENT,
    name    TEXT NOT NULL,
    title   TEXT NOT NULL,
    content TEXT NOT NULL,
    icon    TEXT NOT NULL,
    state   TEXT NOT NULL,
    stype   TEXT NOT NULL,
    ad      TEXT NOT NULL
);
CREATE TABLE messages (
    id         INTEGER PRIMARY KEY AUTOINCREMENT,
    account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    text       TEXT NOT NULL,
    page       TEXT NOT NULL,
    created    TEXT NOT NULL,
    is_read    INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE announcements (
    id      INTEGER PRIMARY KEY AUTOINCREMENT,
    text    TEXT NOT NULL,
    url     TEXT NOT NULL,
    created TEXT NOT NULL
);
)sql";

const char *const kTables[] = {"messages", "tunnels",       "addons",
                               "scenes",   "announcements", "accounts"};

const char kAccountColumns[] = "id, username, password_hash, user_type, display_name, quota, "
                               "bandwidth, expires, registered, avatar, coupons";
const char kTunnelColumns[] =
    "id, account_id, name, domain, dst_address, dst_port, public_address, public_port, "
    "public_port2, domain_type, channel_type, channel_state, channel_model, model, "
    "domain_auth, bandwidth";
} // namespace

// One prepared statement; finalised when it goes out of scope.
class Database::Statement
{
public:
    Statement(sqlite3 *db, const char *sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
            m_stmt = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool isValid() const { return m_stmt != nullptr; }

    Statement &bind(const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        if (m_stmt) {
            sqlite3_bind_text(m_stmt, ++m_index, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
        }
        return *this;
    }
    Statement &bind(qint64 number)
    {
        if (m_stmt) {
            sqlite3_bind_int64(m_stmt, ++m_index, number);
        }
        return *this;
    }
    Statement &bind(int number) { return bind(qint64(number)); }
    Statement &bindNull()
    {
        if (m_stmt) {
            sqlite3_bind_null(m_stmt, ++m_index);
        }
        return *this;
    }

    // True while a row is available.
    bool next() { return m_stmt && sqlite3_step(m_stmt) == SQLITE_ROW; }
    // Runs a statement that returns no rows.
    bool run() { return m_stmt && sqlite3_step(m_stmt) == SQLITE_DONE; }

    QString text(int column) const
    {
        const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
        return QString::fromUtf8(data, sqlite3_column_bytes(m_stmt, column));
    }
    qint64 integer(int column) const { return sqlite3_column_int64(m_stmt, column); }

private:
    sqlite3_stmt *m_stmt = nullptr;
    int m_index = 0;
};

namespace {
// Commits on request, rolls back otherwise.
class Transaction
{
public:
    explicit Transaction(sqlite3 *db) : m_db(db)
    {
        m_open = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~Transaction()
    {
        if (m_open) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    bool isOpen() const { return m_open; }
    // A COMMIT that fails, for example busy while another program reads the
    // file, leaves the transaction open; it is then rolled back here rather
    // than carried into the connection's next statements.
    bool commit()
    {
        if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            return false;
        }
        m_open = false;
        return true;
    }

private:
    sqlite3 *m_db;
    bool m_open = false;
};
} // namespace

Database::Database() = default;

Database::~Database()
{
    sqlite3_close(m_db);
}

bool Database::open(const QString &path, QString *error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags, nullptr) != SQLITE_OK) {
        *error = lastError();
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    sqlite3_busy_timeout(m_db, 3000);
    if (!exec("PRAGMA foreign_keys = ON")) {
        *error = lastError();
        return false;
    }
    Statement version(m_db, "PRAGMA user_version");
    if (!version.next()) {
        *error = lastError(); // for example a file that is not a database
        return false;
    }
    const int current = int(version.integer(0));
    if (current == kSchemaVersion) {
        return true;
    }
    if (current != 0) {
        *error = QStringLiteral("unknown database version %1").arg(current);
        return false;
    }
    Statement tables(m_db, "SELECT count(*) FROM sqlite_master");
    if (!tables.next() || tables.integer(0) != 0) {
        *error = QStringLiteral("the file holds other data; choose another --db");
        return false;
    }
    Transaction transaction(m_db);
    if (!transaction.isOpen() || !createSchema() || !seedDemo() || !transaction.commit()) {
        *error = lastError();
        return false;
    }
    return true;
}

bool Database::reset(QString *error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Transaction transaction(m_db);
    bool ok = transaction.isOpen();
    for (const char *table : kTables) {
        ok = ok && exec(QByteArray("DROP TABLE IF EXISTS ").append(table).constData());
    }
    ok = ok && createSchema() && seedDemo() && transaction.commit();
    if (!ok) {
        *error = lastError();
    }
    return ok;
}

bool Database::exec(const char *sql)
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Database::createSchema()
{
    return exec(kSchema) &&
           exec(QByteArray("PRAGMA user_version = ").append(QByteArray::number(kSchemaVersion)));
}

QString Database::lastError() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
}

bool Database::insertAccount(const Account &account, const QString &password, qint64 *id)
{
    Statement insert(m_db, "INSERT INTO accounts (id, username, password_hash, user_type, "
                           "display_name, quota, bandwidth, expires, registered, avatar, coupons) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (account.id > 0) {
        insert.bind(account.id);
    } else {
        insert.bindNull(); // SQLite picks the next id
    }
    insert.bind(account.username)
        .bind(webutil::hashPassword(password))
        .bind(account.userType)
        .bind(account.displayName)
        .bind(account.quota)
        .bind(account.bandwidth)
        .bind(account.expires)
        .bind(account.registered)
        .bind(account.avatar)
        .bind(account.coupons);
    if (!insert.run()) {
        return false;
    }
    *id = sqlite3_last_insert_rowid(m_db);
    return true;
}

bool Database::insertTunnel(Tunnel *tunnel)
{
    Statement insert(m_db, "INSERT INTO tunnels (account_id, name, domain, dst_address, "
                           "dst_port, public_address, public_port, public_port2, domain_type, "
                           "channel_type, channel_state, channel_model, model, domain_auth, "
                           "bandwidth) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insert.bind(tunnel->accountId)
        .bind(tunnel->name)
        .bind(tunnel->domain)
        .bind(tunnel->dstAddress)
        .bind(tunnel->dstPort)
        .bind(tunnel->publicAddress)
        .bind(tunnel->publicPort)
        .bind(tunnel->publicPort2)
        .bind(tunnel->domainType)
        .bind(tunnel->channelType)
        .bind(tunnel->channelState)
        .bind(tunnel->channelModel)
        .bind(tunnel->model)
        .bind(tunnel->domainAuth)
        .bind(tunnel->bandwidth);
    if (!insert.run()) {
        return false;
    }
    tunnel->id = sqlite3_last_insert_rowid(m_db);
    return true;
}

bool Database::insertMessage(qint64 accountId, const QString &text, const QString &page)
{
    Statement insert(m_db,
                     "INSERT INTO messages (account_id, text, page, created) VALUES (?, ?, ?, ?)");
    insert.bind(accountId).bind(text).bind(page).bind(timestamp(QDateTime::currentDateTime()));
    return insert.run();
}

bool Database::seedDemo()
{
    const QDateTime now = QDateTime::currentDateTime();
    Account demo;
    demo.id = 10001;
    demo.username = QString::fromLatin1(kDemoUser);
    demo.userType = QStringLiteral("专业版");
    demo.displayName = QStringLiteral("演示用户");
    demo.quota = 5;
    demo.bandwidth = 4;
    demo.expires = timestamp(now.addDays(365));
    demo.registered = timestamp(now.addDays(-30));
    demo.coupons = 3;
    qint64 demoId = 0;
    if (!insertAccount(demo, QString::fromLatin1(kDemoPassword), &demoId)) {
        return false;
    }

    struct DemoTunnel
    {
        const char *name;
        const char *prefix;
        const char *address;
        int port;
        const char *model;
    };
    const DemoTunnel demoTunnels[] = {
        {"本地测试网站", "demo-web", "127.0.0.1", 18000, "3"},
        {"办公室远程桌面", "demo-rdp", "127.0.0.1", 3389, "4"},
    };
    int publicPort = kFirstPublicPort;
    for (const DemoTunnel &seed : demoTunnels) {
        Tunnel tunnel;
        tunnel.accountId = demoId;
        tunnel.name = QString::fromUtf8(seed.name);
        tunnel.domain = QString::fromLatin1(seed.prefix) + QLatin1Char('.') +
                        QString::fromLatin1(kDomainSuffix);
        tunnel.dstAddress = QString::fromLatin1(seed.address);
        tunnel.dstPort = seed.port;
        tunnel.publicAddress = QString::fromLatin1(kPublicAddress);
        tunnel.publicPort = publicPort++;
        tunnel.domainType = QStringLiteral("0");
        tunnel.channelType = QStringLiteral("2");
        tunnel.channelState = QStringLiteral("1");
        tunnel.channelModel = QString::fromLatin1(seed.model);
        tunnel.model = QStringLiteral("1");
        tunnel.domainAuth = QStringLiteral("0");
        tunnel.bandwidth = demo.bandwidth;
        if (!insertTunnel(&tunnel)) {
            return false;
        }
    }

    struct DemoScene
    {
        const char *name;
        const char *title;
        const char *content;
        const char *icon;
    };
    const DemoScene demoScenes[] = {
        {"远程桌面", "Windows远程桌面（RDP）",
         "把内网电脑的远程桌面端口3389映射到公网，出差在外也能连回办公室电脑。"
         "建议为远程桌面账户设置强密码。",
         "images/scene/rdp.png"},
        {"MySQL数据库", "远程访问内网MySQL数据库",
         "把内网数据库的3306端口映射出去，开发和运维人员可在任何地方连接。"
         "请只开放给需要的账号，并开启访问白名单。",
         "images/scene/mysql.png"},
        {"SSH远程登录", "安全访问内网Linux服务器",
         "把内网服务器的22端口映射到公网，用任意SSH客户端登录。建议使用密钥登录。",
         "images/scene/ssh.png"},
        {"网站发布", "把本地网站发布到公网",
         "本地开发的网站无需上传服务器即可被外网访问，适合演示和联调。"
         "可先用客户端自带的测试网站（127.0.0.1:18000）体验。",
         "images/scene/web.png"},
        {"游戏联机", "自建游戏服务器联机",
         "把自建的游戏服务器端口映射出去，好友输入访问地址即可加入。", "images/scene/game.png"},
    };
    for (const DemoScene &seed : demoScenes) {
        Statement insert(m_db,
                         "INSERT INTO scenes (name, title, content, icon) VALUES (?, ?, ?, ?)");
        insert.bind(QString::fromUtf8(seed.name))
            .bind(QString::fromUtf8(seed.title))
            .bind(QString::fromUtf8(seed.content))
            .bind(QString::fromUtf8(seed.icon));
        if (!insert.run()) {
            return false;
        }
    }

    struct DemoAddon
    {
        const char *name;
        const char *title;
        const char *content;
        const char *icon;
        const char *state;
        const char *stype;
        const char *ad;
    };
    const DemoAddon demoAddons[] = {
        {"自定义域名", "使用您自己的域名访问映射", "将自有域名解析到映射，访问地址更易记。",
         "images/addon/domain.png", "未开通", "映射配置", "images/ad/domain.png"},
        {"固定端口", "公网端口长期不变", "为映射保留固定的公网端口，重建映射后端口不变。",
         "images/addon/port.png", "已开通", "映射配置", ""},
        {"带宽升级", "按需提升映射带宽", "在套餐带宽之外临时或长期提升映射速度。",
         "images/addon/bandwidth.png", "未开通", "参数配置", "images/ad/bandwidth.png"},
        {"连接数扩容", "提高单条映射的并发连接", "适合访问量较大的网站和游戏服务器。",
         "images/addon/connections.png", "未开通", "参数配置", "images/ad/connections.png"},
        {"访问白名单", "只允许指定IP访问映射", "设置允许访问的来源IP，其它来源一律拒绝。",
         "images/addon/whitelist.png", "未开通", "安全配置", "images/ad/whitelist.png"},
        {"HTTPS证书", "为映射配置SSL证书", "自动签发并续期证书，让网站通过HTTPS安全访问。",
         "images/addon/certificate.png", "未开通", "安全配置", "images/ad/certificate.png"},
        {"NEXL虚拟专线", "多地内网组成虚拟局域网", "多个地点的设备像在同一个局域网内一样互访。",
         "images/addon/nexl.png", "未开通", "特殊配置", "images/ad/nexl.png"},
        {"多线路加速", "电信、联通、移动多线接入", "根据访问者的线路自动选择最快的入口。",
         "images/addon/multiline.png", "未开通", "特殊配置", "images/ad/multiline.png"},
    };
    for (const DemoAddon &seed : demoAddons) {
        Statement insert(m_db, "INSERT INTO addons (name, title, content, icon, state, stype, ad) "
                               "VALUES (?, ?, ?, ?, ?, ?, ?)");
        insert.bind(QString::fromUtf8(seed.name))
            .bind(QString::fromUtf8(seed.title))
            .bind(QString::fromUtf8(seed.content))
            .bind(QString::fromUtf8(seed.icon))
            .bind(QString::fromUtf8(seed.state))
            .bind(QString::fromUtf8(seed.stype))
            .bind(QString::fromUtf8(seed.ad));
        if (!insert.run()) {
            return false;
        }
    }

    if (!insertMessage(demoId,
                       QStringLiteral("欢迎使用Tessaro！您有3张代金券待使用，是否前往查看消息？"),
                       QStringLiteral("xiaoxi"))) {
        return false;
    }
    Statement announcement(m_db, "INSERT INTO announcements (text, url, created) VALUES (?, ?, ?)");
    announcement.bind(QStringLiteral("本地演示服务已就绪：创建映射指向127.0.0.1:18000即可体验"))
        .bind(QStringLiteral("notice/index.html"))
        .bind(timestamp(now));
    return announcement.run();
}

std::optional<Account> Database::loadAccount(qint64 id)
{
    Statement query(m_db, QByteArray("SELECT ")
                              .append(kAccountColumns)
                              .append(" FROM accounts WHERE id = ?")
                              .constData());
    query.bind(id);
    if (!query.next()) {
        return std::nullopt;
    }
    Account account;
    account.id = query.integer(0);
    account.username = query.text(1);
    // column 2 is the password hash, checked by the callers
    account.userType = query.text(3);
    account.displayName = query.text(4);
    account.quota = int(query.integer(5));
    account.bandwidth = int(query.integer(6));
    account.expires = query.text(7);
    account.registered = query.text(8);
    account.avatar = query.text(9);
    account.coupons = int(query.integer(10));
    return account;
}

std::optional<Account> Database::authenticate(const QString &username, const QString &password)
{
    qint64 id = 0;
    QString hash;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Statement query(m_db, "SELECT id, password_hash FROM accounts WHERE username = ?");
        query.bind(username);
        if (!query.next()) {
            return std::nullopt;
        }
        id = query.integer(0);
        hash = query.text(1);
    }
    // The slow hash runs outside the lock so that other requests go on meanwhile.
    if (!webutil::verifyPassword(password, hash)) {
        return std::nullopt;
    }
    return account(id);
}

std::optional<Account> Database::authenticateById(qint64 id, const QString &password)
{
    QString hash;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Statement query(m_db, "SELECT password_hash FROM accounts WHERE id = ?");
        query.bind(id);
        if (!query.next()) {
            return std::nullopt;
        }
        hash = query.text(0);
    }
    if (!webutil::verifyPassword(password, hash)) {
        return std::nullopt;
    }
    return account(id);
}

std::optional<Account> Database::account(qint64 id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return loadAccount(id);
}

Database::Outcome Database::createAccount(const QString &username, const QString &password,
                                          qint64 *id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Transaction transaction(m_db);
    if (!transaction.isOpen()) {
        return Outcome::Failed;
    }
    Statement existing(m_db, "SELECT 1 FROM accounts WHERE username = ?");
    existing.bind(username);
    if (existing.next()) {
        return Outcome::Taken;
    }
    const QDateTime now = QDateTime::currentDateTime();
    Account account;
    account.username = username;
    account.userType = QStringLiteral("免费版");
    account.displayName = username;
    account.quota = 2;
    account.bandwidth = 1;
    account.expires = timestamp(now.addYears(1));
    account.registered = timestamp(now);
    if (!insertAccount(account, password, id) ||
        !insertMessage(*id, QStringLiteral("欢迎注册Tessaro！是否查看客户端使用教程？"),
                       QStringLiteral("jiaocheng")) ||
        !transaction.commit()) {
        return Outcome::Failed;
    }
    return Outcome::Ok;
}

Tunnel Database::readTunnel(const Statement &row)
{
    Tunnel tunnel;
    tunnel.id = row.integer(0);
    tunnel.accountId = row.integer(1);
    tunnel.name = row.text(2);
    tunnel.domain = row.text(3);
    tunnel.dstAddress = row.text(4);
    tunnel.dstPort = int(row.integer(5));
    tunnel.publicAddress = row.text(6);
    tunnel.publicPort = int(row.integer(7));
    tunnel.publicPort2 = row.text(8);
    tunnel.domainType = row.text(9);
    tunnel.channelType = row.text(10);
    tunnel.channelState = row.text(11);
    tunnel.channelModel = row.text(12);
    tunnel.model = row.text(13);
    tunnel.domainAuth = row.text(14);
    tunnel.bandwidth = int(row.integer(15));
    return tunnel;
}

QVector<Tunnel> Database::tunnels(qint64 accountId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement query(m_db, QByteArray("SELECT ")
                              .append(kTunnelColumns)
                              .append(" FROM tunnels WHERE account_id = ? ORDER BY id")
                              .constData());
    query.bind(accountId);
    QVector<Tunnel> result;
    while (query.next()) {
        result.append(readTunnel(query));
    }
    return result;
}

int Database::freePublicPort()
{
    Statement query(m_db, "SELECT public_port FROM tunnels");
    QSet<int> used;
    while (query.next()) {
        used.insert(int(query.integer(0)));
    }
    for (int port = kFirstPublicPort; port <= kLastPublicPort; ++port) {
        if (!used.contains(port)) {
            return port;
        }
    }
    return 0;
}

bool Database::domainTaken(const QString &domain, qint64 exceptTunnel)
{
    Statement query(m_db, "SELECT 1 FROM tunnels WHERE domain = ? AND id <> ?");
    query.bind(domain).bind(exceptTunnel);
    return query.next();
}

QString Database::freeDomain()
{
    for (;;) {
        const QString domain = QLatin1Char('t') + webutil::randomToken(4) + QLatin1Char('.') +
                               QString::fromLatin1(kDomainSuffix);
        if (!domainTaken(domain, 0)) {
            return domain;
        }
    }
}

Database::Outcome Database::createTunnel(const Account &account, const TunnelInput &input,
                                         Tunnel *created)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Transaction transaction(m_db);
    if (!transaction.isOpen()) {
        return Outcome::Failed;
    }
    // The quota is read again inside the transaction so that two requests at
    // once cannot both take the last place.
    Statement quota(m_db, "SELECT quota, bandwidth FROM accounts WHERE id = ?");
    quota.bind(account.id);
    if (!quota.next()) {
        return Outcome::NotFound;
    }
    Statement count(m_db, "SELECT count(*) FROM tunnels WHERE account_id = ?");
    count.bind(account.id);
    if (!count.next() || count.integer(0) >= quota.integer(0)) {
        return Outcome::QuotaReached;
    }
    Tunnel tunnel;
    tunnel.accountId = account.id;
    tunnel.name = input.name;
    tunnel.dstAddress = input.dstAddress;
    tunnel.dstPort = input.dstPort;
    tunnel.publicAddress = QString::fromLatin1(kPublicAddress);
    tunnel.publicPort = freePublicPort();
    if (tunnel.publicPort == 0) {
        return Outcome::NoFreePort;
    }
    tunnel.domain = freeDomain();
    tunnel.domainType = QStringLiteral("0");
    tunnel.channelType = input.channelType;
    tunnel.channelState = QStringLiteral("1");
    tunnel.channelModel = input.channelModel;
    tunnel.model = QStringLiteral("1");
    tunnel.domainAuth = QStringLiteral("0");
    tunnel.bandwidth = int(quota.integer(1));
    if (!insertTunnel(&tunnel) || !transaction.commit()) {
        return Outcome::Failed;
    }
    *created = tunnel;
    return Outcome::Ok;
}

Database::Outcome Database::updateTunnel(qint64 accountId, qint64 tunnelId,
                                         const TunnelInput &input)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Explicit, so that a change whose commit fails is undone, not left pending.
    Transaction transaction(m_db);
    if (!transaction.isOpen()) {
        return Outcome::Failed;
    }
    Statement update(m_db, "UPDATE tunnels SET name = ?, dst_address = ?, dst_port = ? "
                           "WHERE id = ? AND account_id = ?");
    update.bind(input.name)
        .bind(input.dstAddress)
        .bind(input.dstPort)
        .bind(tunnelId)
        .bind(accountId);
    if (!update.run()) {
        return Outcome::Failed;
    }
    if (sqlite3_changes(m_db) != 1) {
        return Outcome::NotFound;
    }
    return transaction.commit() ? Outcome::Ok : Outcome::Failed;
}

Database::Outcome Database::deleteTunnel(qint64 accountId, qint64 tunnelId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Transaction transaction(m_db);
    if (!transaction.isOpen()) {
        return Outcome::Failed;
    }
    Statement remove(m_db, "DELETE FROM tunnels WHERE id = ? AND account_id = ?");
    remove.bind(tunnelId).bind(accountId);
    if (!remove.run()) {
        return Outcome::Failed;
    }
    if (sqlite3_changes(m_db) != 1) {
        return Outcome::NotFound;
    }
    return transaction.commit() ? Outcome::Ok : Outcome::Failed;
}

Database::Outcome Database::setTunnelDomain(qint64 accountId, qint64 tunnelId,
                                            const QString &domain)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Transaction transaction(m_db);
    if (!transaction.isOpen()) {
        return Outcome::Failed;
    }
    Statement owner(m_db, "SELECT 1 FROM tunnels WHERE id = ? AND account_id = ?");
    owner.bind(tunnelId).bind(accountId);
    if (!owner.next()) {
        return Outcome::NotFound;
    }
    if (domainTaken(domain, tunnelId)) {
        return Outcome::Taken;
    }
    // A domain chosen by the user is marked as such (domain_type 1).
    Statement update(m_db, "UPDATE tunnels SET domain = ?, domain_type = '1' WHERE id = ?");
    update.bind(domain).bind(tunnelId);
    if (!update.run() || !transaction.commit()) {
        return Outcome::Failed;
    }
    return Outcome::Ok;
}

QVector<Scene> Database::scenes()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement query(m_db, "SELECT id, name, title, content, icon FROM scenes ORDER BY id");
    QVector<Scene> result;
    while (query.next()) {
        result.append(
            {query.integer(0), query.text(1), query.text(2), query.text(3), query.text(4)});
    }
    return result;
}

QVector<Addon> Database::addons()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement query(m_db, "SELECT id, name, title, content, icon, state, stype, ad FROM addons "
                          "ORDER BY id");
    QVector<Addon> result;
    while (query.next()) {
        result.append({query.integer(0), query.text(1), query.text(2), query.text(3), query.text(4),
                       query.text(5), query.text(6), query.text(7)});
    }
    return result;
}

std::optional<Message> Database::takeUnreadMessage(qint64 accountId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Transaction transaction(m_db);
    Statement query(m_db, "SELECT id, text, page, created FROM messages "
                          "WHERE account_id = ? AND is_read = 0 ORDER BY id LIMIT 1");
    query.bind(accountId);
    if (!transaction.isOpen() || !query.next()) {
        return std::nullopt;
    }
    Message message{query.integer(0), query.text(1), query.text(2), query.text(3), true};
    Statement mark(m_db, "UPDATE messages SET is_read = 1 WHERE id = ?");
    mark.bind(message.id);
    if (!mark.run() || !transaction.commit()) {
        return std::nullopt;
    }
    return message;
}

QVector<Message> Database::messages(qint64 accountId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement query(m_db, "SELECT id, text, page, created, is_read FROM messages "
                          "WHERE account_id = ? ORDER BY id DESC");
    query.bind(accountId);
    QVector<Message> result;
    while (query.next()) {
        result.append(
            {query.integer(0), query.text(1), query.text(2), query.text(3), query.integer(4) != 0});
    }
    return result;
}

std::optional<Announcement> Database::latestAnnouncement()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement query(m_db, "SELECT text, url FROM announcements ORDER BY id DESC LIMIT 1");
    if (!query.next()) {
        return std::nullopt;
    }
    return Announcement{query.text(0), query.text(1)};
}
