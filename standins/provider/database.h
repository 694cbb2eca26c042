#pragma once

#include <QString>
#include <QVector>

#include <mutex>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

struct Account
{
    qint64 id = 0;
    QString username;
    QString userType; // edition name shown on the client's plan button
    QString displayName;
    int quota = 0;     // how many tunnels the account may own
    int bandwidth = 0; // Mbit/s, copied into every new tunnel
    QString expires;   // "yyyy-MM-dd hh:mm:ss"
    QString registered;
    QString avatar; // picture path on this server; empty for the default avatar
    int coupons = 0;
};

struct Tunnel
{
    qint64 id = 0;
    qint64 accountId = 0;
    QString name;
    QString domain;
    QString dstAddress;
    int dstPort = 0;
    QString publicAddress;
    int publicPort = 0;
    QString publicPort2;
    QString domainType;
    QString channelType;
    QString channelState;
    QString channelModel;
    QString model;
    QString domainAuth;
    int bandwidth = 0;
};

// What the user chose for a tunnel; everything else is assigned here.
struct TunnelInput
{
    QString name;
    QString dstAddress;
    int dstPort = 0;
    QString channelType;
    QString channelModel;
};

struct Scene
{
    qint64 id = 0;
    QString name;
    QString title;
    QString content;
    QString icon; // picture path on this server
};

struct Addon
{
    qint64 id = 0;
    QString name;
    QString title;
    QString content;
    QString icon;
    QString state;
    QString stype;
    QString ad; // picture path on this server; empty when there is none
};

struct Message
{
    qint64 id = 0;
    QString text;
    QString page;
    QString created;
    bool read = false;
};

struct Announcement
{
    QString text;
    QString url; // path on this server
};

// The provider's store, one SQLite file. All methods are safe to call from the
// HTTP server's worker threads; they are serialised on one connection.
class Database
{
public:
    enum class Outcome
    {
        Ok,
        NotFound,
        QuotaReached,
        NoFreePort,
        Taken,
        Failed
    };

    // First and last port handed out as a tunnel's public port.
    static constexpr int kFirstPublicPort = 20000;
    static constexpr int kLastPublicPort = 20999;
    static const char *const kDemoUser;
    static const char *const kDemoPassword;
    static const char *const kDomainSuffix;

    Database();
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Opens or creates the file; a new file gets the demo data.
    bool open(const QString &path, QString *error);
    // Drops everything and writes the demo data again.
    bool reset(QString *error);

    std::optional<Account> authenticate(const QString &username, const QString &password);
    std::optional<Account> authenticateById(qint64 id, const QString &password);
    std::optional<Account> account(qint64 id);
    Outcome createAccount(const QString &username, const QString &password, qint64 *id);

    QVector<Tunnel> tunnels(qint64 accountId);
    Outcome createTunnel(const Account &account, const TunnelInput &input, Tunnel *created);
    // Only the owner's tunnel; the engine and type stay as they were.
    Outcome updateTunnel(qint64 accountId, qint64 tunnelId, const TunnelInput &input);
    Outcome deleteTunnel(qint64 accountId, qint64 tunnelId);
    Outcome setTunnelDomain(qint64 accountId, qint64 tunnelId, const QString &domain);

    QVector<Scene> scenes();
    QVector<Addon> addons();

    // The oldest unread message, which is marked read as it is handed out.
    std::optional<Message> takeUnreadMessage(qint64 accountId);
    QVector<Message> messages(qint64 accountId);
    std::optional<Announcement> latestAnnouncement();

private:
    class Statement;

    bool exec(const char *sql);
    bool createSchema();
    bool seedDemo();
    bool insertAccount(const Account &account, const QString &password, qint64 *id);
    bool insertTunnel(Tunnel *tunnel);
    bool insertMessage(qint64 accountId, const QString &text, const QString &page);
    int freePublicPort();
    QString freeDomain();
    bool domainTaken(const QString &domain, qint64 exceptTunnel);
    std::optional<Account> loadAccount(qint64 id);
    QString lastError() const;
    static Tunnel readTunnel(const Statement &row);

    sqlite3 *m_db = nullptr;
    std::mutex m_mutex;
};
