#include "service/servicecontroller.h"
#include "servicesecurity.h"
#include "support/servicetool.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <memory>
#include <vector>

namespace {

const QString g_name = QStringLiteral("tessarosvc");

// A POSIX exit status keeps only the low eight bits of a Windows error code.
int exitCodeFor(int windowsError)
{
    return windowsError & 0xff;
}

using ScResult = ServiceToolRun;

QString toolPath()
{
    return standinProgram(QStringLiteral("tessaro-sc"));
}

QString servicePath()
{
    return QFileInfo(standinProgram(QStringLiteral("tessarosvc"))).canonicalFilePath();
}

ServiceToolRun sc(const QStringList &arguments)
{
    return runServiceTool(arguments);
}

// The tool as a standard user runs it: without TESSARO_SC_CALLER.
ServiceToolRun scAsUser(const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("TESSARO_SC_CALLER"));
    process.setProcessEnvironment(environment);
    process.start(toolPath(), arguments);
    ServiceToolRun run;
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
        run.output = process.readAllStandardOutput();
    }
    return run;
}

QByteArray deniedText(const char *operation)
{
    return QByteArray("[SC] ") + operation + " FAILED 5:\r\n\r\nAccess is denied.\r\n\r\n";
}

const char *const g_pendingFlags = "(NOT_STOPPABLE, NOT_PAUSABLE, IGNORES_SHUTDOWN)";

// The data folder as the stand-ins see it: they run without the test mode of
// QStandardPaths, under the private home they inherit from this process.
QString standInDataRoot()
{
    QStandardPaths::setTestModeEnabled(false);
    const QString root = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QStandardPaths::setTestModeEnabled(true);
    return root;
}

QString storePath()
{
    return standInDataRoot() + QStringLiteral("/tessaro/service/user.ini");
}

QString logPath()
{
    return standInDataRoot() + QStringLiteral("/tessaro/service/logs/tessarosvc.log");
}

QByteArray fileEnv(qint64 pid, const QByteArray &name)
{
    QFile file(QStringLiteral("/proc/%1/environ").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    for (const QByteArray &entry : file.readAll().split('\0')) {
        if (entry.startsWith(name + '='))
            return entry.mid(name.size() + 1);
    }
    return QByteArray();
}

bool isZombie(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = file.readAll();
    const int close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) == "Z" || text.mid(close + 2, 1) == "X";
}

QString slowServicePath()
{
    return QFileInfo(slowServiceProgram()).canonicalFilePath();
}

// Live processes of the program started under this test's home.
QList<qint64> serviceProcesses(const QString &exe)
{
    QList<qint64> pids;
    const QByteArray home = qgetenv("HOME");
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        if (QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)) != exe)
            continue;
        if (fileEnv(pid, "HOME") == home && !isZombie(pid))
            pids.append(pid);
    }
    return pids;
}

QList<qint64> ourServiceProcesses()
{
    return serviceProcesses(servicePath());
}

bool waitGone(qint64 pid, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!isZombie(pid)) {
        if (timer.elapsed() > ms)
            return false;
        QThread::msleep(20);
    }
    return true;
}

qint64 startedPid(const QByteArray &output)
{
    for (const QByteArray &line : output.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith("PID"))
            return trimmed.mid(trimmed.indexOf(':') + 1).trimmed().toLongLong();
    }
    return 0;
}

QByteArray notInstalledText()
{
    return "[SC] EnumQueryServicesStatus:OpenService FAILED 1060:\r\n\r\n"
           "The specified service does not exist as an installed service.\r\n\r\n";
}

QByteArray queryText(const char *state, const char *flags, const char *waitHint = "0x0")
{
    QByteArray text = "\r\nSERVICE_NAME: tessarosvc\r\n"
                      "        TYPE               : 10  WIN32_OWN_PROCESS\r\n"
                      "        STATE              : ";
    text += state;
    text += "\r\n";
    if (flags)
        text += QByteArray(32, ' ') + flags + "\r\n";
    text += "        WIN32_EXIT_CODE    : 0  (0x0)\r\n"
            "        SERVICE_EXIT_CODE  : 0  (0x0)\r\n"
            "        CHECKPOINT         : 0x0\r\n"
            "        WAIT_HINT          : ";
    return text + waitHint + "\r\n\r\n";
}

void writeStore(const QString &user, const QString &pass, const QString &userId)
{
    QDir().mkpath(QFileInfo(storePath()).absolutePath());
    QSettings store(storePath(), QSettings::IniFormat);
    store.setValue(QStringLiteral("server/user"), user);
    store.setValue(QStringLiteral("server/pass"), pass);
    store.setValue(QStringLiteral("server/userId"), userId);
    store.sync();
}

QString joinedResults(const QSignalSpy &spy)
{
    QString all;
    for (const QList<QVariant> &emission : spy)
        all += emission.at(0).toString();
    return all;
}

} // namespace

class TestStandInsService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void lifecycle();
    void usageErrors_data();
    void usageErrors();
    void disabledServiceDoesNotStart();
    void logShowsAccountWithoutPassword();
    void logShowsNoAccount_data();
    void logShowsNoAccount();
    void serviceNeverWritesTheStore();
    void killedServiceReadsStopped();
    void startPendingUntilTheServiceIsUp();
    void stopIsPendingUntilTheServiceHasEnded();
    void watchdogEndsAServiceThatIgnoresTheStop();
    void accessLists_data();
    void accessLists();
    void securityDescriptorRoundTrip();
    void callersAreHeldToTheAccessList();
    void reusedPidDoesNotReadRunning();
    void concurrentStartsRunOneCopy();
    void clientControllerDrivesTheStandIns();

private:
    void install();
    QByteArray startAndStop();
};

void TestStandInsService::initTestCase()
{
    initTestEnvironment();
    QVERIFY2(QFileInfo(toolPath()).isExecutable(), "build the tessaro-sc target");
    QVERIFY2(QFileInfo(servicePath()).isExecutable(), "build the tessarosvc target");
    QVERIFY2(QFileInfo(slowServicePath()).isExecutable(), "build the tessaro-slowservice target");
    // The client runs as a standard user, as most users do.
    qunsetenv("TESSARO_SC_CALLER");
}

void TestStandInsService::cleanup()
{
    // Also after a failure: nothing started here may outlive the test.
    sc({"stop", g_name});
    sc({"delete", g_name});
    for (const qint64 pid : ourServiceProcesses() + serviceProcesses(slowServicePath()))
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    QFile::remove(storePath());
    QFile::remove(logPath());
}

void TestStandInsService::install()
{
    const ScResult created = registerService(g_name, servicePath());
    QCOMPARE(created.exitCode, 0);
    QCOMPARE(created.output, QByteArray("[SC] CreateService SUCCESS\r\n"
                                        "[SC] SetServiceObjectSecurity SUCCESS\r\n"));
}

// Runs the service once and returns its log.
QByteArray TestStandInsService::startAndStop()
{
    // The service takes a stop only once it runs.
    if (sc({"start", g_name}).exitCode != 0 ||
        !waitForServiceState(g_name, QStringLiteral("RUNNING"), 10000) ||
        sc({"stop", g_name}).exitCode != 0 ||
        !waitForServiceState(g_name, QStringLiteral("STOPPED"), 10000))
        return QByteArray();
    QFile log(logPath());
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

void TestStandInsService::lifecycle()
{
    ScResult result = sc({"query", g_name});
    QCOMPARE(result.exitCode, exitCodeFor(1060));
    QCOMPARE(result.output, notInstalledText());

    install();
    result = sc({"query", g_name});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.output, queryText("1  STOPPED", nullptr));

    result = sc({"start", g_name});
    QCOMPARE(result.exitCode, 0);
    QVERIFY(result.output.contains("        STATE              : 2  START_PENDING\r\n"));
    const qint64 pid = startedPid(result.output);
    QVERIFY2(pid > 0, result.output.constData());
    QCOMPARE(ourServiceProcesses(), QList<qint64>{pid});

    // RUNNING once the service has read the account.
    QTRY_COMPARE_WITH_TIMEOUT(
        sc({"query", g_name}).output,
        queryText("4  RUNNING", "(STOPPABLE, NOT_PAUSABLE, ACCEPTS_SHUTDOWN)"), 5000);

    result = sc({"start", g_name});
    QCOMPARE(result.exitCode, exitCodeFor(1056));
    QCOMPARE(result.output, QByteArray("[SC] StartService FAILED 1056:\r\n\r\n"
                                       "An instance of the service is already running.\r\n\r\n"));
    QCOMPARE(ourServiceProcesses(), QList<qint64>{pid});

    result = sc({"stop", g_name});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.output, queryText("3  STOP_PENDING", g_pendingFlags, "0x1388"));
    QVERIFY(waitForServiceState(g_name, QStringLiteral("STOPPED"), 10000));
    QVERIFY(ourServiceProcesses().isEmpty());

    result = sc({"stop", g_name});
    QCOMPARE(result.exitCode, exitCodeFor(1062));
    QCOMPARE(result.output, QByteArray("[SC] ControlService FAILED 1062:\r\n\r\n"
                                       "The service has not been started.\r\n\r\n"));

    result = sc({"delete", g_name});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.output, QByteArray("[SC] DeleteService SUCCESS\r\n"));
    result = sc({"query", g_name});
    QCOMPARE(result.exitCode, exitCodeFor(1060));
    QCOMPARE(result.output, notInstalledText());

    // The service ended on its own terms, not by the kill.
    QFile log(logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().trimmed().endsWith(" stopped"));
}

void TestStandInsService::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no name") << QStringList{"query"};
    QTest::newRow("unknown verb") << QStringList{"pause", "tessarosvc"};
    QTest::newRow("create without binPath") << QStringList{"create", "tessarosvc"};
    QTest::newRow("unknown start type")
        << QStringList{"config", "tessarosvc", "start=", "sometimes"};
    QTest::newRow("start glued to value") << QStringList{"config", "tessarosvc", "start=auto"};
}

void TestStandInsService::usageErrors()
{
    QFETCH(QStringList, arguments);
    const ScResult result = sc(arguments);
    QVERIFY(result.exitCode > 0);
    QVERIFY2(result.output.contains("USAGE:"), result.output.constData());
    // Nothing was registered on the way.
    QCOMPARE(sc({"query", g_name}).exitCode, exitCodeFor(1060));
}

void TestStandInsService::disabledServiceDoesNotStart()
{
    install();
    ScResult result = sc({"config", g_name, "start=", "disabled"});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.output, QByteArray("[SC] ChangeServiceConfig SUCCESS\r\n"));
    result = sc({"start", g_name});
    QCOMPARE(result.exitCode, exitCodeFor(1058));
    QVERIFY(result.output.startsWith("[SC] StartService FAILED 1058:\r\n"));
    QVERIFY(ourServiceProcesses().isEmpty());

    QCOMPARE(sc({"config", g_name, "start=", "demand"}).exitCode, 0);
    QCOMPARE(sc({"start", g_name}).exitCode, 0);
    QCOMPARE(ourServiceProcesses().size(), 1);
}

void TestStandInsService::logShowsAccountWithoutPassword()
{
    writeStore(QStringLiteral("alice"), QStringLiteral("s3cret-Pw"), QStringLiteral("1042"));
    install();
    const QByteArray log = startAndStop();
    QVERIFY(log.contains(" started"));
    QVERIFY2(log.contains("alice") && log.contains("1042"), log.constData());
    QVERIFY(!log.contains("s3cret-Pw"));
    QVERIFY(!log.contains("no account"));
    QVERIFY(log.trimmed().endsWith(" stopped"));
}

void TestStandInsService::logShowsNoAccount_data()
{
    QTest::addColumn<bool>("storeExists");
    QTest::newRow("emptied at logout") << true;
    QTest::newRow("never written") << false;
}

void TestStandInsService::logShowsNoAccount()
{
    QFETCH(bool, storeExists);
    if (storeExists)
        writeStore(QString(), QString(), QString());
    install();
    const QByteArray log = startAndStop();
    QVERIFY2(log.contains(" no account\n"), log.constData());
    QCOMPARE(QFile::exists(storePath()), storeExists);
}

void TestStandInsService::serviceNeverWritesTheStore()
{
    writeStore(QStringLiteral("bob"), QStringLiteral("pw"), QStringLiteral("7"));
    // Dated back, so that any rewrite shows even within the clock's resolution.
    {
        QFile store(storePath());
        QVERIFY(store.open(QIODevice::ReadWrite));
        QVERIFY(store.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                  QFileDevice::FileModificationTime));
    }
    QFile store(storePath());
    QVERIFY(store.open(QIODevice::ReadOnly));
    const QByteArray before = store.readAll();
    store.close();
    const QDateTime modified = QFileInfo(storePath()).lastModified();

    install();
    QVERIFY(startAndStop().contains("bob"));

    QVERIFY(store.open(QIODevice::ReadOnly));
    QCOMPARE(store.readAll(), before);
    QCOMPARE(QFileInfo(storePath()).lastModified(), modified);
}

void TestStandInsService::killedServiceReadsStopped()
{
    install();
    ScResult result = sc({"start", g_name});
    const qint64 pid = startedPid(result.output);
    QVERIFY(pid > 0);
    QCOMPARE(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
    QVERIFY(waitGone(pid, 5000));

    result = sc({"query", g_name});
    QCOMPARE(result.output, queryText("1  STOPPED", nullptr));
    QCOMPARE(sc({"stop", g_name}).exitCode, exitCodeFor(1062));
    // And it can be started again.
    result = sc({"start", g_name});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(ourServiceProcesses(), QList<qint64>{startedPid(result.output)});
}

void TestStandInsService::startPendingUntilTheServiceIsUp()
{
    // A program that never reports that it is up, as a Windows service that
    // hangs in its start: its process runs, its state stays pending.
    QCOMPARE(sc({"create", g_name, "binPath=", "/bin/sleep 30"}).exitCode, 0);
    const qint64 pid = startedPid(sc({"start", g_name}).output);
    QVERIFY(pid > 0);
    QTest::qWait(500);
    const ScResult pending = sc({"query", g_name});
    QCOMPARE(pending.exitCode, 0);
    QVERIFY2(pending.output.contains("        STATE              : 2  START_PENDING\r\n"),
             pending.output.constData());
    // Nor does such a service take a stop, as on Windows.
    const ScResult stop = sc({"stop", g_name});
    QCOMPARE(stop.exitCode, exitCodeFor(1061));
    QCOMPARE(stop.output,
             QByteArray("[SC] ControlService FAILED 1061:\r\n\r\n"
                        "The service cannot accept control messages at this time.\r\n\r\n"));
    QVERIFY(!isZombie(pid));
    QCOMPARE(serviceState(g_name), QStringLiteral("START_PENDING"));
}

void TestStandInsService::stopIsPendingUntilTheServiceHasEnded()
{
    QCOMPARE(registerService(g_name, slowServiceProgram() + " --stop-delay-ms 3000").exitCode, 0);
    const qint64 pid = startedPid(sc({"start", g_name}).output);
    QVERIFY(waitForServiceState(g_name, QStringLiteral("RUNNING"), 10000));

    QElapsedTimer clock;
    clock.start();
    ScResult result = sc({"stop", g_name});
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(clock.elapsed() < 2000, "stop waited for the service");
    QCOMPARE(sc({"query", g_name}).output, queryText("3  STOP_PENDING", g_pendingFlags, "0x1388"));

    // Both refused until the service has stopped, as Windows does.
    result = sc({"start", g_name});
    QCOMPARE(result.exitCode, exitCodeFor(1056));
    QCOMPARE(result.output, QByteArray("[SC] StartService FAILED 1056:\r\n\r\n"
                                       "An instance of the service is already running.\r\n\r\n"));
    QCOMPARE(sc({"stop", g_name}).exitCode, exitCodeFor(1061));
    QCOMPARE(serviceProcesses(slowServicePath()), QList<qint64>{pid});

    QVERIFY(waitForServiceState(g_name, QStringLiteral("STOPPED"), 10000));
    QVERIFY(serviceProcesses(slowServicePath()).isEmpty());
    result = sc({"start", g_name});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(serviceProcesses(slowServicePath()), QList<qint64>{startedPid(result.output)});
}

void TestStandInsService::watchdogEndsAServiceThatIgnoresTheStop()
{
    QCOMPARE(registerService(g_name, slowServiceProgram() + " --stop-delay-ms 60000").exitCode, 0);
    const qint64 pid = startedPid(sc({"start", g_name}).output);
    QVERIFY(waitForServiceState(g_name, QStringLiteral("RUNNING"), 10000));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(sc({"stop", g_name}).exitCode, 0);
    // No tool runs meanwhile: what ends it is the watchdog the stop left.
    QVERIFY(waitGone(pid, 10000));
    QVERIFY2(clock.elapsed() >= 4500, "killed before the grace period was over");
    QCOMPARE(serviceState(g_name), QStringLiteral("STOPPED"));
}

void TestStandInsService::accessLists_data()
{
    const QString shipped = shippedServiceSddl();
    const QString standard = QString::fromLatin1(servicesecurity::g_defaultDescriptor);
    QTest::addColumn<QString>("sddl");
    QTest::addColumn<bool>("admin");
    QTest::addColumn<quint32>("right");
    QTest::addColumn<int>("expected"); // 1 granted, 0 refused, -1 not valid SDDL

    using namespace servicesecurity;
    QTest::newRow("installer: user queries") << shipped << false << quint32(QueryStatus) << 1;
    QTest::newRow("installer: user starts") << shipped << false << quint32(Start) << 1;
    QTest::newRow("installer: user stops") << shipped << false << quint32(Stop) << 1;
    QTest::newRow("installer: user configures") << shipped << false << quint32(ChangeConfig) << 0;
    QTest::newRow("installer: user deletes") << shipped << false << quint32(Delete) << 0;
    QTest::newRow("installer: user sets the list") << shipped << false << quint32(WriteDac) << 0;
    QTest::newRow("installer: admin deletes") << shipped << true << quint32(Delete) << 1;
    QTest::newRow("default: user starts") << standard << false << quint32(Start) << 0;
    QTest::newRow("default: user reads the list") << standard << false << quint32(ReadControl) << 1;
    QTest::newRow("default: admin starts") << standard << true << quint32(Start) << 1;
    QTest::newRow("deny first wins") << "D:(D;;RP;;;IU)(A;;GA;;;WD)" << true << quint32(Start) << 0;
    QTest::newRow("allow first wins")
        << "D:(A;;RP;;;IU)(D;;RP;;;WD)" << false << quint32(Start) << 1;
    QTest::newRow("deny of another right")
        << "D:(D;;WP;;;IU)(A;;RP;;;IU)" << false << quint32(Start) << 1;
    QTest::newRow("generic execute") << "D:(A;;GX;;;BU)" << false << quint32(Stop) << 1;
    QTest::newRow("generic read") << "D:(A;;GR;;;BU)" << false << quint32(Start) << 0;
    QTest::newRow("hex mask, SID string")
        << "D:(A;;0x10;;;S-1-5-4)" << false << quint32(Start) << 1;
    QTest::newRow("another group's SID")
        << "D:(A;;GA;;;S-1-5-32-544)" << false << quint32(QueryStatus) << 0;
    QTest::newRow("inherit-only entry") << "D:(A;IO;GA;;;WD)" << false << quint32(Start) << 0;
    QTest::newRow("owner, group, flags")
        << "O:BAG:SYD:PAI(A;;LC;;;IU)" << false << quint32(QueryStatus) << 1;
    QTest::newRow("no DACL") << "O:SYG:SY" << false << quint32(Delete) << 1;
    QTest::newRow("empty DACL") << "D:" << true << quint32(QueryStatus) << 0;
    QTest::newRow("empty") << "" << true << quint32(Start) << -1;
    QTest::newRow("unclosed") << "D:(A;;RP;;;IU" << true << quint32(Start) << -1;
    QTest::newRow("unknown right") << "D:(A;;RPXY;;;IU)" << true << quint32(Start) << -1;
    QTest::newRow("half a right") << "D:(A;;RPW;;;IU)" << true << quint32(Start) << -1;
    QTest::newRow("bad mask") << "D:(A;;0xZ1;;;IU)" << true << quint32(Start) << -1;
    QTest::newRow("audit entry in DACL") << "D:(AU;;RP;;;IU)" << true << quint32(Start) << -1;
    QTest::newRow("unknown alias") << "D:(A;;RP;;;ZZ)" << true << quint32(Start) << -1;
    QTest::newRow("five fields") << "D:(A;;RP;;IU)" << true << quint32(Start) << -1;
    QTest::newRow("DACL twice") << "D:(A;;RP;;;IU)D:(A;;RP;;;IU)" << true << quint32(Start) << -1;
    QTest::newRow("line break") << "D:(A;;RP;;;S-1-5-4\n)" << true << quint32(Start) << -1;
}

void TestStandInsService::accessLists()
{
    QFETCH(QString, sddl);
    QFETCH(bool, admin);
    QFETCH(quint32, right);
    QFETCH(int, expected);
    const std::optional<servicesecurity::AccessList> list = servicesecurity::parseDescriptor(sddl);
    QCOMPARE(list.has_value(), expected >= 0);
    if (list) {
        const QStringList caller = servicesecurity::callerSids(admin ? "admin" : "");
        QCOMPARE(servicesecurity::isGranted(*list, caller, right), expected == 1);
    }
}

void TestStandInsService::securityDescriptorRoundTrip()
{
    const QByteArray shipped = shippedServiceSddl().toLatin1();
    QVERIFY(shipped.startsWith("D:"));
    QCOMPARE(sc({"create", g_name, "binPath=", servicePath()}).exitCode, 0);
    ScResult result = sc({"sdshow", g_name});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.output, "\r\n" + QByteArray(servicesecurity::g_defaultDescriptor) + "\r\n\r\n");

    result = sc({"sdset", g_name, shipped});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.output, QByteArray("[SC] SetServiceObjectSecurity SUCCESS\r\n"));
    QCOMPARE(sc({"sdshow", g_name}).output, "\r\n" + shipped + "\r\n\r\n");

    result = sc({"sdset", g_name, "D:(A;;RP;;;IU"});
    QCOMPARE(result.exitCode, exitCodeFor(87));
    QCOMPARE(result.output, QByteArray("[SC] SetServiceObjectSecurity FAILED 87:\r\n\r\n"
                                       "The parameter is incorrect.\r\n\r\n"));
    QCOMPARE(sc({"sdshow", g_name}).output, "\r\n" + shipped + "\r\n\r\n");
}

void TestStandInsService::callersAreHeldToTheAccessList()
{
    // Whether the service exists is told before any rights are looked at.
    QCOMPARE(scAsUser({"start", g_name}).exitCode, exitCodeFor(1060));
    ScResult result = scAsUser({"create", g_name, "binPath=", servicePath()});
    QCOMPARE(result.exitCode, 5);
    QCOMPARE(result.output, deniedText("OpenSCManager"));
    QCOMPARE(sc({"create", g_name, "binPath=", servicePath()}).exitCode, 0);

    // Windows' default list: a standard user may look, not start.
    result = scAsUser({"start", g_name});
    QCOMPARE(result.exitCode, 5);
    QCOMPARE(result.output, deniedText("OpenService"));
    QVERIFY(ourServiceProcesses().isEmpty());

    // A list that lets users look only.
    QCOMPARE(sc({"sdset", g_name, "D:(A;;GA;;;BA)(A;;LC;;;IU)"}).exitCode, 0);
    QCOMPARE(sc({"start", g_name}).exitCode, 0);
    QVERIFY(waitForServiceState(g_name, QStringLiteral("RUNNING"), 10000));
    result = scAsUser({"stop", g_name});
    QCOMPARE(result.exitCode, 5);
    QCOMPARE(result.output, deniedText("OpenService"));
    result = scAsUser({"query", g_name});
    QCOMPARE(result.exitCode, 0);
    QVERIFY(result.output.contains("        STATE              : 4  RUNNING\r\n"));

    // The installer's: users query, stop and start it, and change nothing.
    QCOMPARE(sc({"sdset", g_name, shippedServiceSddl()}).exitCode, 0);
    QCOMPARE(scAsUser({"stop", g_name}).exitCode, 0);
    QVERIFY(waitForServiceState(g_name, QStringLiteral("STOPPED"), 10000));
    QCOMPARE(scAsUser({"start", g_name}).exitCode, 0);
    const QList<QStringList> changes = {{"config", g_name, "start=", "disabled"},
                                        {"delete", g_name},
                                        {"sdset", g_name, "D:(A;;GA;;;WD)"}};
    for (const QStringList &change : changes) {
        result = scAsUser(change);
        QCOMPARE(result.exitCode, 5);
        QCOMPARE(result.output, deniedText("OpenService"));
    }

    QCOMPARE(sc({"sdset", g_name, "D:(A;;GA;;;BA)"}).exitCode, 0);
    result = scAsUser({"query", g_name});
    QCOMPARE(result.exitCode, 5);
    QCOMPARE(result.output, deniedText("EnumQueryServicesStatus:OpenService"));
}

void TestStandInsService::reusedPidDoesNotReadRunning()
{
    install();
    ScResult result = sc({"start", g_name});
    const qint64 pid = startedPid(result.output);
    QVERIFY(pid > 0);
    QCOMPARE(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
    QVERIFY(waitGone(pid, 5000));

    // Plays a pid reuse by the same program: another run of it, started
    // outside the tool, is given the recorded pid.
    QProcess stranger;
    stranger.start(servicePath(), QStringList());
    QVERIFY(stranger.waitForStarted());
    QFile record(standInDataRoot() + QStringLiteral("/tessaro/sc/tessarosvc.ini"));
    QVERIFY(record.open(QIODevice::ReadOnly));
    QByteArray text = record.readAll();
    record.close();
    const QByteArray recorded = "pid=" + QByteArray::number(pid) + '\n';
    QVERIFY2(text.contains(recorded), text.constData());
    text.replace(recorded, "pid=" + QByteArray::number(stranger.processId()) + '\n');
    QVERIFY(record.open(QIODevice::WriteOnly | QIODevice::Truncate));
    record.write(text);
    record.close();

    result = sc({"query", g_name});
    const ScResult stop = sc({"stop", g_name});
    const bool strangerSurvived =
        stranger.state() == QProcess::Running && !stranger.waitForFinished(200);
    if (strangerSurvived) {
        stranger.terminate();
        QVERIFY(stranger.waitForFinished(5000));
    }

    QCOMPARE(result.output, queryText("1  STOPPED", nullptr));
    QCOMPARE(stop.exitCode, exitCodeFor(1062));
    QVERIFY(strangerSurvived);
    QCOMPARE(stranger.exitStatus(), QProcess::NormalExit);
    QCOMPARE(stranger.exitCode(), 0);
}

void TestStandInsService::concurrentStartsRunOneCopy()
{
    install();
    std::vector<std::unique_ptr<QProcess>> callers;
    for (int i = 0; i < 4; ++i) {
        callers.push_back(std::make_unique<QProcess>());
        callers.back()->start(toolPath(), {"start", g_name});
    }
    int succeeded = 0;
    int alreadyRunning = 0;
    for (const auto &caller : callers) {
        QVERIFY(caller->waitForFinished(30000));
        if (caller->exitCode() == 0)
            ++succeeded;
        else if (caller->exitCode() == exitCodeFor(1056))
            ++alreadyRunning;
    }
    QCOMPARE(succeeded, 1);
    QCOMPARE(alreadyRunning, 3);
    QCOMPARE(ourServiceProcesses().size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(sc({"query", g_name}).output.contains("4  RUNNING"), 5000);
}

void TestStandInsService::clientControllerDrivesTheStandIns()
{
    // No overrides: the client's controller finds the stand-in tool beside
    // the program.
    ServiceController controller(g_name);
    QSignalSpy results(&controller, &ServiceController::sendServiceResult);

    QVERIFY(controller.startService());
    QVERIFY(joinedResults(results).contains(QLatin1String("1060")));

    // Registered without a list of its own, the service refuses the client,
    // a standard user; with the installer's list it does not.
    QCOMPARE(sc({"create", g_name, "binPath=", servicePath()}).exitCode, 0);
    results.clear();
    QVERIFY(controller.startService());
    QVERIFY(joinedResults(results).contains(QLatin1String("[SC] OpenService FAILED 5:")));
    QCOMPARE(sc({"sdset", g_name, shippedServiceSddl()}).exitCode, 0);
    results.clear();
    QVERIFY(controller.startService());
    QVERIFY(joinedResults(results).contains(QLatin1String("START_PENDING")));
    QTRY_VERIFY_WITH_TIMEOUT(
        sc({"query", g_name}).output.contains("        STATE              : 4  RUNNING\r\n"),
        10000);

    results.clear();
    QVERIFY(controller.startService());
    QVERIFY(joinedResults(results).contains(QLatin1String("1056")));

    results.clear();
    QVERIFY(controller.stopService());
    QVERIFY(joinedResults(results).contains(QLatin1String("STOP_PENDING")));
    QVERIFY(waitForServiceState(g_name, QStringLiteral("STOPPED"), 10000));
}

QTEST_GUILESS_MAIN(TestStandInsService)
#include "tst_standins_service.moc"
