#include "service/servicecontroller.h"
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

// Live service processes of this build started under this test's home.
QList<qint64> ourServiceProcesses()
{
    QList<qint64> pids;
    const QString exe = servicePath();
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

QByteArray queryText(const char *state, const char *flags)
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
            "        WAIT_HINT          : 0x0\r\n\r\n";
    return text;
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
}

void TestStandInsService::cleanup()
{
    // Also after a failure: nothing started here may outlive the test.
    sc({"stop", g_name});
    sc({"delete", g_name});
    for (const qint64 pid : ourServiceProcesses())
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    QFile::remove(storePath());
    QFile::remove(logPath());
}

void TestStandInsService::install()
{
    const ScResult created = sc({"create", g_name, "binPath=", servicePath()});
    QCOMPARE(created.exitCode, 0);
    QCOMPARE(created.output, QByteArray("[SC] CreateService SUCCESS\r\n"));
}

// Runs the service once and returns its log.
QByteArray TestStandInsService::startAndStop()
{
    if (sc({"start", g_name}).exitCode != 0 || sc({"stop", g_name}).exitCode != 0)
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
    QVERIFY(result.output.contains("        STATE              : 3  STOP_PENDING\r\n"));
    // stop returns only once the service has ended.
    QVERIFY(ourServiceProcesses().isEmpty());

    result = sc({"query", g_name});
    QCOMPARE(result.output, queryText("1  STOPPED", nullptr));

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
    QCOMPARE(sc({"start", g_name}).exitCode, 0);
    QTest::qWait(500);
    const ScResult pending = sc({"query", g_name});
    QCOMPARE(pending.exitCode, 0);
    QVERIFY2(pending.output.contains("        STATE              : 2  START_PENDING\r\n"),
             pending.output.constData());
    QCOMPARE(sc({"stop", g_name}).exitCode, 0);
    QCOMPARE(sc({"query", g_name}).output, queryText("1  STOPPED", nullptr));
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

    install();
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
    const QByteArray query = sc({"query", g_name}).output;
    QVERIFY2(query.contains("        STATE              : 1  STOPPED\r\n"), query.constData());
}

QTEST_GUILESS_MAIN(TestStandInsService)
#include "tst_standins_service.moc"
