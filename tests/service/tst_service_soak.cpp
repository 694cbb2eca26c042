// The background service restarted 200 times the way the client restarts it,
// while a visitor keeps sending bytes through a tunnel to a local echo server
// and compares every byte that comes back. Nothing may pile up along the way:
// service or tool processes, zombies, the client's descriptors, child processes
// or memory, or the descriptors each new service runs with.
//
// The window's restart (stop, start, then a query judged for "RUNNING") runs
// in one call, which leaves no moment to look at the stopped service. So the
// window restarts the service itself at sign-in and once from its button, and
// the cycles in between drive the same ServiceController class the window
// uses, each followed by the window's own state query and judgement.

#include "app/globals.h"
#include "app/myoperatorutil.h"
#include "dialogs/msgtipwidget.h"
#include "main/maindialog.h"
#include "platform/platform.h"
#include "service/servicecontroller.h"
#include "service/servicesequence.h"
#include "support/browsersink.h"
#include "support/fakehttpserver.h"
#include "support/providerprocess.h"
#include "support/servicetool.h"
#include "support/testenv.h"
#include "support/windowfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define TESSARO_WITH_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSARO_WITH_ASAN 1
#endif
#endif
#ifdef TESSARO_WITH_ASAN
extern "C" void __sanitizer_purge_allocator();
#endif

namespace {

constexpr int kCycles = 200;
constexpr int kWarmUpCycles = 5;
constexpr int kMemoryBaselineCycle = 20;
constexpr qint64 kRecoveryLimitMs = 15000;
// A stopped service has exited at once; its parent is then init (the tool that
// started it has long ended), which may take a moment to reap it.
constexpr qint64 kReapLimitMs = 15000;
// Allowed drift of the client's descriptors (the visitor's and the echo
// server's sockets come and go) and of its resident memory.
constexpr int kFdSlack = 4;
constexpr qint64 kRssSlackKiB = 8 * 1024;
// Each new service's descriptors, taken once the tunnel carries traffic again:
// a visitor connection being set up holds one or two more for a moment.
constexpr int kServiceFdSlack = 2;

using Clock = std::chrono::steady_clock;

QString program(const char *name)
{
    return standinProgram(QLatin1String(name));
}

int runSc(const QStringList &arguments)
{
    return runServiceTool(arguments).exitCode;
}

qint64 millisecondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// --- processes as /proc shows them -----------------------------------------

struct ProcStat
{
    bool exists = false;
    char state = 0;
    qint64 parent = 0;
    quint64 startTicks = 0;
};

ProcStat procStat(qint64 pid)
{
    ProcStat stat;
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return stat;
    const QByteArray text = file.readAll();
    const int close = text.lastIndexOf(')');
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (close < 0 || fields.size() < 20)
        return stat;
    stat.exists = true;
    stat.state = fields.at(0).isEmpty() ? 0 : fields.at(0).at(0);
    stat.parent = fields.at(1).toLongLong();
    stat.startTicks = fields.at(19).toULongLong();
    return stat;
}

QList<qint64> allPids()
{
    QList<qint64> pids;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return pids;
    while (const dirent *entry = ::readdir(proc)) {
        char *end = nullptr;
        const long long pid = std::strtoll(entry->d_name, &end, 10);
        if (pid > 0 && *end == '\0')
            pids.append(pid);
    }
    ::closedir(proc);
    return pids;
}

QByteArray linkTarget(const QByteArray &path)
{
    char buffer[4096];
    const ssize_t size = ::readlink(path.constData(), buffer, sizeof buffer);
    return size > 0 ? QByteArray(buffer, int(size)) : QByteArray();
}

// Live processes of this program started by this test: other tests on the
// machine may run the same programs, but not with this test's home. Plain
// system calls: this runs a few times per cycle.
QList<qint64> processesOf(const QString &path)
{
    const QByteArray exe = QFile::encodeName(QFileInfo(path).canonicalFilePath());
    const QByteArray home = "HOME=" + QFile::encodeName(testHomePath());
    QList<qint64> found;
    for (const qint64 pid : allPids()) {
        const QByteArray dir = "/proc/" + QByteArray::number(pid);
        QByteArray target = linkTarget(dir + "/exe");
        if (target.endsWith(" (deleted)"))
            target.chop(10);
        if (target != exe)
            continue;
        QFile environ(QString::fromLatin1(dir + "/environ"));
        if (environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(home))
            found.append(pid);
    }
    return found;
}

int childCount()
{
    const qint64 self = QCoreApplication::applicationPid();
    int count = 0;
    for (const qint64 pid : allPids())
        count += procStat(pid).parent == self ? 1 : 0;
    return count;
}

int fdCount(qint64 pid)
{
    return QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot).size();
}

QString fdTargets(qint64 pid)
{
    QStringList targets;
    const QString dir = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString &fd : QDir(dir).entryList(QDir::NoDotAndDotDot))
        targets.append(fd + QLatin1Char('>') + QFile::symLinkTarget(dir + QLatin1Char('/') + fd));
    return targets.join(QLatin1Char(' '));
}

// Freed memory goes back to the system, as far as the allocator lets it. With
// the address sanitizer, freed blocks wait in a quarantine of up to 256 MiB
// and what leaves it is not all handed back; done regularly, this keeps the
// resident size a measure of the memory still in use.
void releaseFreedMemory()
{
#ifdef TESSARO_WITH_ASAN
    __sanitizer_purge_allocator();
#endif
}

qint64 residentKiB()
{
    releaseFreedMemory();
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Stopped services until they have left the process table.
class StoppedProcesses
{
public:
    void add(qint64 pid, quint64 startTicks)
    {
        m_entries.append({pid, startTicks, Clock::now()});
        m_most = qMax(m_most, m_entries.size());
    }
    // Forgets those that are gone; false with a description when one has been
    // left for longer than limitMs.
    bool settle(qint64 limitMs, QString *late)
    {
        const Clock::time_point now = Clock::now();
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            const ProcStat stat = procStat(it->pid);
            if (!stat.exists || stat.startTicks != it->startTicks) {
                it = m_entries.erase(it);
                continue;
            }
            if (millisecondsBetween(it->stopped, now) > limitMs) {
                *late = QStringLiteral("process %1 still there in state %2 with parent %3")
                            .arg(it->pid)
                            .arg(QLatin1Char(stat.state))
                            .arg(stat.parent);
                return false;
            }
            ++it;
        }
        return true;
    }
    bool isEmpty() const { return m_entries.isEmpty(); }
    int most() const { return m_most; }

private:
    struct Entry
    {
        qint64 pid;
        quint64 startTicks;
        Clock::time_point stopped;
    };
    QList<Entry> m_entries;
    int m_most = 0;
};

// --- the local application and its visitor ---------------------------------

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// The application behind the tunnel: echoes every byte. On its own thread, so
// it keeps answering while the test thread waits for the service tool, and on
// plain sockets with one fixed buffer per connection, so that it adds next to
// nothing to the memory this test watches.
class EchoServer
{
public:
    ~EchoServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        for (const Peer &peer : m_peers)
            ::close(peer.fd);
        if (m_listener >= 0)
            ::close(m_listener);
    }

    // The port it listens on, 0 when it cannot.
    quint16 open()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopback(0);
        socklen_t size = sizeof address;
        if (m_listener < 0 ||
            ::bind(m_listener, reinterpret_cast<const sockaddr *>(&address), size) != 0 ||
            ::listen(m_listener, 64) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            return 0;
        m_thread = std::thread([this] { run(); });
        return ntohs(address.sin_port);
    }

private:
    struct Peer
    {
        int fd = -1;
        std::vector<char> buffer;
        size_t pending = 0; // bytes read and not yet all sent back
        size_t sent = 0;
    };

    void run()
    {
        std::vector<pollfd> polls;
        while (!m_stop) {
            polls.assign(1, {m_listener, POLLIN, 0});
            for (const Peer &peer : m_peers)
                polls.push_back({peer.fd, short(peer.pending > 0 ? POLLOUT : POLLIN), 0});
            if (::poll(polls.data(), polls.size(), 100) <= 0)
                continue;
            // Backwards, so that ending a connection leaves the rest in step.
            for (size_t i = polls.size() - 1; i >= 1; --i) {
                if (polls[i].revents != 0 && !serve(m_peers[i - 1])) {
                    ::close(m_peers[i - 1].fd);
                    m_peers.erase(m_peers.begin() + std::ptrdiff_t(i - 1));
                }
            }
            if (polls[0].revents & POLLIN) {
                const int fd =
                    ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd >= 0)
                    m_peers.push_back({fd, std::vector<char>(64 * 1024), 0, 0});
            }
        }
    }

    // False once the connection has ended.
    static bool serve(Peer &peer)
    {
        if (peer.pending == 0) {
            const ssize_t got = ::recv(peer.fd, peer.buffer.data(), peer.buffer.size(), 0);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
                return false;
            peer.pending = size_t(qMax<ssize_t>(got, 0));
            peer.sent = 0;
        }
        const ssize_t put =
            ::send(peer.fd, peer.buffer.data() + peer.sent, peer.pending - peer.sent, MSG_NOSIGNAL);
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        peer.sent += size_t(qMax<ssize_t>(put, 0));
        if (peer.sent == peer.pending)
            peer.pending = peer.sent = 0;
        return true;
    }

    int m_listener = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::vector<Peer> m_peers; // the echo thread's alone
};

// A visitor of the tunnel's public port on its own thread: connects, sends
// blocks of random bytes and compares the echo byte for byte, and connects
// again whenever the connection breaks or stalls (as it does at every stop).
class TunnelVisitor
{
public:
    explicit TunnelVisitor(quint16 port) : m_port(port) {}
    ~TunnelVisitor() { stop(); }

    void start()
    {
        m_thread = std::thread([this] { run(); });
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    // From now on, waits for a verified block sent no earlier than `mark`.
    void markRestart(Clock::time_point mark)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_mark = mark;
        m_recovered = false;
    }
    // When the first block sent after the mark came back intact.
    bool recoveredAt(Clock::time_point *when) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        *when = m_recoveredAt;
        return m_recovered;
    }

    quint64 blocks() const { return m_blocks; }
    quint64 bytes() const { return m_bytes; }
    quint64 connections() const { return m_connections; }
    quint64 corrupted() const { return m_corrupted; }
    QString firstCorruption() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_firstCorruption;
    }

private:
    enum class Outcome
    {
        Verified,
        Broken,
        Corrupted
    };

    static constexpr int kRoundLimitMs = 3000;
    static constexpr int kMaxBlock = 32 * 1024;

    int connectOnce() const
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        const sockaddr_in address = loopback(m_port);
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    void run()
    {
        std::mt19937 random(20240611);
        std::vector<char> sent(kMaxBlock);
        std::vector<char> received(kMaxBlock);
        while (!m_stop) {
            const int fd = connectOnce();
            if (fd < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            ++m_connections;
            while (!m_stop) {
                const Clock::time_point begun = Clock::now();
                const Outcome outcome = round(fd, random, sent, received);
                if (outcome != Outcome::Verified)
                    break;
                std::lock_guard<std::mutex> lock(m_mutex);
                if (!m_recovered && begun >= m_mark) {
                    m_recovered = true;
                    m_recoveredAt = Clock::now();
                }
            }
            ::close(fd);
        }
    }

    // One block out and back. A connection that ends or stalls is no fault
    // (the service is being restarted); a byte that differs is.
    Outcome round(int fd, std::mt19937 &random, std::vector<char> &sent,
                  std::vector<char> &received)
    {
        const size_t size = std::uniform_int_distribution<size_t>(1, kMaxBlock)(random);
        for (size_t i = 0; i < size; ++i)
            sent[i] = char(random() & 0xff);
        size_t written = 0;
        size_t read = 0;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kRoundLimitMs);
        while (read < size) {
            const qint64 left = millisecondsBetween(Clock::now(), deadline);
            if (left <= 0 || m_stop)
                return Outcome::Broken;
            pollfd wait = {fd, short(POLLIN | (written < size ? POLLOUT : 0)), 0};
            if (::poll(&wait, 1, int(qMin<qint64>(left, 200))) < 0 && errno != EINTR)
                return Outcome::Broken;
            if (wait.revents & POLLOUT) {
                const ssize_t n =
                    ::send(fd, sent.data() + written, size - written, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n < 0 && errno != EAGAIN && errno != EINTR)
                    return Outcome::Broken;
                written += size_t(qMax<ssize_t>(n, 0));
            }
            if (wait.revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = ::recv(fd, received.data() + read, size - read, MSG_DONTWAIT);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                    return Outcome::Broken;
                if (n < 0)
                    continue;
                const auto from = sent.begin() + std::ptrdiff_t(read);
                const auto mismatch = std::mismatch(from, from + n, received.begin() + read);
                if (mismatch.first != from + n) {
                    ++m_corrupted;
                    std::lock_guard<std::mutex> lock(m_mutex);
                    if (m_firstCorruption.isEmpty())
                        m_firstCorruption = QStringLiteral("byte %1 of a %2-byte block differs")
                                                .arg(read + size_t(mismatch.first - from))
                                                .arg(size);
                    return Outcome::Corrupted;
                }
                read += size_t(n);
            }
        }
        ++m_blocks;
        m_bytes += size;
        return Outcome::Verified;
    }

    const quint16 m_port;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<quint64> m_blocks{0};
    std::atomic<quint64> m_bytes{0};
    std::atomic<quint64> m_connections{0};
    std::atomic<quint64> m_corrupted{0};
    mutable std::mutex m_mutex;
    Clock::time_point m_mark;
    Clock::time_point m_recoveredAt;
    bool m_recovered = false;
    QString m_firstCorruption;
};

} // namespace

class TestServiceSoak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void restartsWithoutLeaks();

private:
    QJsonObject api(const QString &method, const QList<QPair<QString, QString>> &values);
    qint64 servicePid(QString *why);
    bool waitForTraffic(Clock::time_point since, qint64 *recoveryMs);
    QString latestTip() const;

    QTemporaryDir m_dir;
    ProviderProcess m_provider;
    EchoServer m_echo;
    std::unique_ptr<TunnelVisitor> m_visitor;
    std::unique_ptr<FakeHttpServer> m_api;
    std::unique_ptr<MainDialog> m_window;
    BrowserSink m_browser;
    bool m_registered = false;
};

void TestServiceSoak::initTestCase()
{
    initTestEnvironment();
    m_browser.install();
    // Every command's output would otherwise become a debug line, 800 times.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    for (const char *name : {"tessaro-provider", "tessarosvc", "tessaro-sc"})
        QVERIFY2(QFileInfo(program(name)).isExecutable(), name);

    QVERIFY(m_dir.isValid());
    QVERIFY2(m_provider.start(m_dir.filePath(QStringLiteral("provider.db")),
                              {QStringLiteral("--tunnel-port"), QStringLiteral("0")}),
             m_provider.output().constData());
    const auto listening =
        QRegularExpression(QStringLiteral("tunnel server listening on [^:]+:(\\d+)"))
            .match(QString::fromUtf8(m_provider.output()));
    QVERIFY(listening.hasMatch());

    // A tunnel of the demo account to the echo server.
    const quint16 echoPort = m_echo.open();
    QVERIFY(echoPort != 0);
    const QJsonObject created =
        api(QStringLiteral("create"), {{"name", "soak echo"},
                                       {"private_address", "127.0.0.1"},
                                       {"private_port", QString::number(echoPort)},
                                       {"channel_type", "2"},
                                       {"channel_model", "3"}});
    QCOMPARE(created.value(QStringLiteral("code")).toInt(), 1);
    quint16 publicPort = 0;
    const QJsonArray tunnels =
        api(QStringLiteral("list"), {}).value(QStringLiteral("data")).toArray();
    for (const QJsonValue &tunnel : tunnels) {
        if (tunnel.toObject().value(QStringLiteral("name")).toString() ==
            QLatin1String("soak echo"))
            publicPort =
                tunnel.toObject().value(QStringLiteral("public_port")).toString().toUShort();
    }
    QVERIFY(publicPort >= 20000 && publicPort <= 20999);

    // What sign-in leaves for the service, the service's own pointer to this
    // provider's tunnel server, and the service registered as on a user's
    // machine.
    MyOperatorUtil store;
    store.setValue(QStringLiteral("server/user"), QStringLiteral("demo"));
    store.setValue(QStringLiteral("server/pass"), QStringLiteral("demo1234"));
    store.setValue(QStringLiteral("server/userId"), QStringLiteral("1"));
    QSettings config(QFileInfo(platform::credentialStorePath()).absolutePath() +
                         QStringLiteral("/tessarosvc.ini"),
                     QSettings::IniFormat);
    config.setValue(QStringLiteral("tunnel/host"), QStringLiteral("127.0.0.1"));
    config.setValue(QStringLiteral("tunnel/port"), listening.captured(1));
    config.sync();
    QCOMPARE(registerService(g_serviceName, program("tessarosvc")).exitCode, 0);
    m_registered = true;

    m_visitor = std::make_unique<TunnelVisitor>(publicPort);
    m_visitor->markRestart(Clock::now());
    m_visitor->start();

    // The window's pages talk to a fake provider; its service tool is the
    // real stand-in, with the client's own command wait.
    m_api = startFakeProvider();
    QVERIFY(m_api);
    m_window = std::make_unique<MainDialog>(nullptr);
    QPushButton *fresh = m_window->findChild<QPushButton *>("btn_fresh");
    QVERIFY(!fresh->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(fresh->isEnabled(), MainDialog::RestartDelayMs + 30000);
    QCOMPARE(latestTip(), QStringLiteral("服务重启成功!"));
}

void TestServiceSoak::cleanupTestCase()
{
    if (m_visitor)
        m_visitor->stop();
    m_window.reset();
    if (m_registered) {
        runSc({QStringLiteral("stop"), g_serviceName});
        QCOMPARE(runSc({QStringLiteral("delete"), g_serviceName}), 0);
        QVERIFY(processesOf(program("tessarosvc")).isEmpty());
    }
}

QJsonObject TestServiceSoak::api(const QString &method,
                                 const QList<QPair<QString, QString>> &values)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("method"), method);
    query.addQueryItem(QStringLiteral("username"), QStringLiteral("demo"));
    query.addQueryItem(QStringLiteral("password"), QStringLiteral("demo1234"));
    for (const auto &value : values)
        query.addQueryItem(value.first, value.second);
    QUrl url(m_provider.base() + QStringLiteral("ClientTunnelAction"));
    url.setQuery(query);
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(url)));
    QSignalSpy done(reply.get(), &QNetworkReply::finished);
    done.wait(10000);
    return QJsonDocument::fromJson(reply->readAll()).object();
}

// The one running service of this test, or 0 with the reason.
qint64 TestServiceSoak::servicePid(QString *why)
{
    const QList<qint64> services = processesOf(program("tessarosvc"));
    if (services.size() == 1)
        return services.constFirst();
    *why = QStringLiteral("%1 services running").arg(services.size());
    return 0;
}

bool TestServiceSoak::waitForTraffic(Clock::time_point since, qint64 *recoveryMs)
{
    Clock::time_point at;
    while (!m_visitor->recoveredAt(&at)) {
        if (millisecondsBetween(since, Clock::now()) > kRecoveryLimitMs)
            return false;
        QTest::qWait(5);
    }
    *recoveryMs = millisecondsBetween(since, at);
    return true;
}

QString TestServiceSoak::latestTip() const
{
    const QList<MsgTipWidget *> tips = m_window->findChildren<MsgTipWidget *>();
    return tips.isEmpty() ? QString() : tips.constLast()->findChild<QLabel *>("label_2")->text();
}

void TestServiceSoak::restartsWithoutLeaks()
{
    const qint64 self = QCoreApplication::applicationPid();
    const QString serviceProgram = program("tessarosvc");
    ServiceController controller(g_serviceName);
    QList<qint64> recoveries;
    QList<int> serviceFds;
    int fdBaseline = 0;
    int childBaseline = 0;
    qint64 rssBaseline = 0;
    StoppedProcesses ended;
    QString why;
    QElapsedTimer clock;
    clock.start();

    for (int cycle = 1; cycle <= kCycles; ++cycle) {
        const QByteArray where = "cycle " + QByteArray::number(cycle);
        const qint64 previous = servicePid(&why);
        QVERIFY2(previous != 0, (where + ": " + why.toUtf8()).constData());
        const quint64 previousStart = procStat(previous).startTicks;

        // The window's stop: accepted, then STOPPED looked for until it shows.
        const auto query = [this] { return m_window->queryServiceState(); };
        ServiceSequence stopping(&controller, query);
        QSignalSpy stopped(&stopping, &ServiceSequence::finished);
        stopping.run(ServiceSequence::Stop);
        QVERIFY2(!stopped.isEmpty() || stopped.wait(ServiceSequence::WaitMs + 2000),
                 where.constData());
        QVERIFY2(stopped.first().at(0).toBool(),
                 (where + ": " + stopped.first().at(1).toString().toUtf8()).constData());
        // Ended once STOPPED shows, and out of the process table soon after:
        // neither living on unseen nor left as a zombie.
        const ProcStat after = procStat(previous);
        QVERIFY2(!after.exists || after.startTicks != previousStart || after.state == 'Z',
                 (where + ": stopped service still running, state " + after.state).constData());
        ended.add(previous, previousStart);
        QVERIFY2(ended.settle(kReapLimitMs, &why), (where + ": " + why.toUtf8()).constData());
        QVERIFY2(processesOf(serviceProgram).isEmpty(), where.constData());

        // The window's start: like Windows' sc, the stand-in shows
        // START_PENDING until the service has read its credentials, and the
        // window waits up to 10 s for RUNNING.
        ServiceSequence starting(&controller, query);
        QSignalSpy started(&starting, &ServiceSequence::finished);
        starting.run(ServiceSequence::Start | ServiceSequence::WaitRunning);
        const Clock::time_point startedAt = Clock::now();
        m_visitor->markRestart(startedAt);
        QVERIFY2(!started.isEmpty() || started.wait(ServiceSequence::WaitMs + 2000),
                 where.constData());
        QVERIFY2(started.first().at(0).toBool(),
                 (where + ": " + started.first().at(1).toString().toUtf8()).constData());
        qint64 recoveryMs = 0;
        QVERIFY2(waitForTraffic(startedAt, &recoveryMs),
                 (where + ": no traffic through the tunnel after the start").constData());
        recoveries.append(recoveryMs);

        const qint64 service = servicePid(&why);
        QVERIFY2(service != 0 && service != previous, (where + ": " + why.toUtf8()).constData());
        serviceFds.append(fdCount(service));
        QVERIFY2(serviceFds.constLast() <= serviceFds.constFirst() + kServiceFdSlack,
                 (where + ": the service holds " + fdTargets(service).toUtf8()).constData());

        if (cycle == kWarmUpCycles) {
            fdBaseline = fdCount(self);
            childBaseline = childCount();
        }
        if (cycle == kMemoryBaselineCycle)
            rssBaseline = residentKiB();
        else
            releaseFreedMemory();
    }
    const qint64 cyclesMs = clock.elapsed();

    // The window's own restart from its button brings the tunnel back too.
    const qint64 beforeButton = servicePid(&why);
    QVERIFY2(beforeButton != 0, qPrintable(why));
    QPushButton *fresh = m_window->findChild<QPushButton *>("btn_fresh_2");
    QTest::mouseClick(fresh, Qt::LeftButton);
    QVERIFY(!fresh->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(fresh->isEnabled(), MainDialog::RestartDelayMs + 30000);
    QCOMPARE(latestTip(), QStringLiteral("服务重启成功!"));
    const Clock::time_point restarted = Clock::now();
    m_visitor->markRestart(restarted);
    const qint64 afterButton = servicePid(&why);
    QVERIFY2(afterButton != 0 && afterButton != beforeButton, qPrintable(why));
    qint64 buttonRecoveryMs = 0;
    QVERIFY(waitForTraffic(restarted, &buttonRecoveryMs));

    QVERIFY(processesOf(program("tessaro-sc")).isEmpty());
    const int mostUnreaped = ended.most();
    QTRY_VERIFY_WITH_TIMEOUT(ended.settle(kReapLimitMs, &why) && ended.isEmpty(), kReapLimitMs);
    QVERIFY2(fdCount(self) <= fdBaseline + kFdSlack, qPrintable(fdTargets(self)));
    QCOMPARE(childCount(), childBaseline);
    const qint64 rss = residentKiB();
    QVERIFY2(rss - rssBaseline <= kRssSlackKiB,
             qPrintable(QStringLiteral("%1 KiB at cycle %2, %3 KiB at the end")
                            .arg(rssBaseline)
                            .arg(kMemoryBaselineCycle)
                            .arg(rss)));
    QVERIFY2(m_visitor->corrupted() == 0, qPrintable(m_visitor->firstCorruption()));
    QVERIFY(m_visitor->connections() >= quint64(kCycles));

    std::sort(recoveries.begin(), recoveries.end());
    const auto [fewestFds, mostFds] = std::minmax_element(serviceFds.cbegin(), serviceFds.cend());
    qInfo("%d restarts in %lld ms (%lld ms each); traffic back after %lld ms (median), %lld ms "
          "(worst), %lld ms after the button's restart returned",
          kCycles, cyclesMs, cyclesMs / kCycles, recoveries.at(recoveries.size() / 2),
          recoveries.constLast(), buttonRecoveryMs);
    qInfo("visitor: %llu blocks, %llu bytes verified over %llu connections; service fds %d..%d; "
          "client fds %d -> %d, RSS %lld -> %lld KiB; at most %d stopped services not yet reaped",
          quint64(m_visitor->blocks()), quint64(m_visitor->bytes()),
          quint64(m_visitor->connections()), *fewestFds, *mostFds, fdBaseline, fdCount(self),
          rssBaseline, rss, mostUnreaped);
}

QTEST_MAIN(TestServiceSoak)
#include "tst_service_soak.moc"
