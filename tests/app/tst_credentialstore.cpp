// The credential store as the background service and the next start see it.
#include "app/myoperatorutil.h"
#include "platform/platform.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

class TestCredentialStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initTestEnvironment(); }

    void init()
    {
        platform::clearOverrides();
        const QString path = platform::credentialStorePath();
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QFile::remove(path);
    }

    void livesInTheUserDataFolder()
    {
#ifdef Q_OS_WIN
        // The fixed folder the installed service reads, spelled as the
        // service has it.
        QCOMPARE(platform::credentialStorePath(),
                 QStringLiteral("C://programData//windowsts//tessaro//service//user.ini"));
        QCOMPARE(platform::serviceLogPath(),
                 QStringLiteral("C://programData//windowsts//tessaro//service//logs"));
        MyOperatorUtil util;
        util.setValue(QStringLiteral("server/user"), QStringLiteral("alice"));
        QVERIFY(
            QFileInfo::exists(QStringLiteral("C:/ProgramData/windowsts/tessaro/service/user.ini")));
#else
        const QString expected =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QStringLiteral("/tessaro/service/user.ini");
        QCOMPARE(platform::credentialStorePath(), expected);
        QVERIFY(platform::credentialStorePath().startsWith(testHomePath()));
        QCOMPARE(platform::serviceLogPath(), QFileInfo(expected).absolutePath() + "/logs");
#endif
    }

    void missingStoreReadsEmptyAndIsCreatedOwnerOnly()
    {
        QDir(QFileInfo(platform::credentialStorePath()).absolutePath()).removeRecursively();
        MyOperatorUtil util;
        QCOMPARE(util.getValue(QStringLiteral("server/user")), QString());
        QCOMPARE(util.getValue(QStringLiteral("server/pass")), QString());
#ifndef Q_OS_WIN
        // Made owner-only before anything is in it. Windows keeps the file
        // readable by the service's own account and makes it at the first write.
        QVERIFY(QFileInfo::exists(platform::credentialStorePath()));
        QCOMPARE(QFile::permissions(platform::credentialStorePath()),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                     QFileDevice::WriteUser);
#endif
    }

    void writesAreVisibleToAnotherReaderAtOnceAndStayOwnerOnly()
    {
        MyOperatorUtil util;
        util.setValue(QStringLiteral("server/user"), QStringLiteral("alice"));
        util.setValue(QStringLiteral("server/pass"), QStringLiteral("p=1;&x"));
        util.setValue(QStringLiteral("server/userId"), QStringLiteral("42"));

        // The background service reads the file with its own reader, possibly
        // before this process returns to its event loop.
        QSettings service(platform::credentialStorePath(), QSettings::IniFormat);
        QCOMPARE(service.childGroups(), QStringList{QStringLiteral("server")});
        QCOMPARE(service.value("server/user").toString(), QStringLiteral("alice"));
        QCOMPARE(service.value("server/pass").toString(), QStringLiteral("p=1;&x"));
        QCOMPARE(service.value("server/userId").toString(), QStringLiteral("42"));

#ifndef Q_OS_WIN
        const auto perms = QFile::permissions(platform::credentialStorePath());
        QVERIFY(!(perms & (QFileDevice::ReadGroup | QFileDevice::ReadOther |
                           QFileDevice::WriteGroup | QFileDevice::WriteOther)));
#endif

        // A second handle (the login dialog of the next start) sees the values.
        MyOperatorUtil next;
        QCOMPARE(next.getValue(QStringLiteral("server/pass")), QStringLiteral("p=1;&x"));
    }

    void storeThatCannotBeOpenedForWritingIsReplaced()
    {
        // On a shared PC: the store of the user who signed in before, which
        // this user may replace but not open.
        const QString path = platform::credentialStorePath();
        {
            MyOperatorUtil previous;
            previous.setValue(QStringLiteral("server/user"), QStringLiteral("previous"));
        }
#ifdef Q_OS_WIN
        // Wine enforces no access list: a read-only file is what it refuses
        // to have replaced.
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
#else
        // Not even root opens a folder for writing; the name can still go.
        QFile::remove(path);
        QVERIFY(QFile::link(QStringLiteral("."), path));
        QVERIFY(!QFile(path).open(QIODevice::WriteOnly | QIODevice::Append));
#endif

        MyOperatorUtil util;
        QVERIFY(util.setValue(QStringLiteral("server/user"), QStringLiteral("dave")));
        QVERIFY(util.setValue(QStringLiteral("server/pass"), QStringLiteral("pw")));
        // On disk, as the service reads it (a reader in this process would
        // share the writer's unsaved values).
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY2(bytes.contains("user=dave") && bytes.contains("pass=pw"), bytes.constData());
#ifndef Q_OS_WIN
        QVERIFY(!QFileInfo(path).isSymLink());
        QCOMPARE(QFile::permissions(path) & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
                 QFileDevice::Permissions());
#endif
    }

    void storeThatCannotBeWrittenIsReported()
    {
        const QString path = platform::credentialStorePath();
        MyOperatorUtil util;
        QVERIFY(util.setValue(QStringLiteral("server/user"), QStringLiteral("alice")));
        QFile::remove(path);
        QVERIFY(QDir().mkpath(path)); // nothing can be written there now
        const bool stored = util.setValue(QStringLiteral("server/user"), QString());
        QDir(path).removeRecursively();
        QVERIFY(!stored);
    }

    void emptiedKeysStayInTheFile()
    {
        MyOperatorUtil util;
        util.setValue(QStringLiteral("server/user"), QStringLiteral("alice"));
        for (const char *key : {"server/user", "server/pass", "server/userId"})
            util.setValue(QLatin1String(key), QString());
        QSettings reader(platform::credentialStorePath(), QSettings::IniFormat);
        QCOMPARE(reader.allKeys().size(), 3);
        QCOMPARE(reader.value("server/user").toString(), QString());
    }

    void overridesRedirectEveryExternalThing()
    {
        platform::Overrides overrides;
        overrides.credentialStorePath = testHomePath() + "/elsewhere/user.ini";
        overrides.serviceControlProgram = "/bin/true";
        overrides.commandWaitMs = 250;
        overrides.processListCommand = {"/bin/echo", {"x"}};
        platform::setOverrides(overrides);
        QCOMPARE(platform::credentialStorePath(), overrides.credentialStorePath);
        QCOMPARE(platform::serviceControlProgram(), QStringLiteral("/bin/true"));
        QCOMPARE(platform::commandWaitMs(), 250);
        QCOMPARE(platform::processListCommand().program, QStringLiteral("/bin/echo"));
        {
            MyOperatorUtil util;
            util.setValue(QStringLiteral("server/user"), QStringLiteral("bob"));
        }
        QVERIFY(QFileInfo::exists(overrides.credentialStorePath));
        platform::clearOverrides();
        QCOMPARE(platform::commandWaitMs(), 30000);
#ifdef Q_OS_WIN
        // Windows' own tools, by their place in the system folder: never a
        // program of that name from the program's or the current folder.
        const auto isSystemTool = [](const QString &program, const char *name) {
            const QFileInfo tool(program);
            return tool.isAbsolute() &&
                   tool.fileName().compare(QLatin1String(name), Qt::CaseInsensitive) == 0 &&
                   tool.exists() && tool.absolutePath() != QCoreApplication::applicationDirPath() &&
                   tool.absolutePath() != QDir::currentPath();
        };
        QVERIFY(isSystemTool(platform::serviceControlProgram(), "sc.exe"));
        QVERIFY(isSystemTool(platform::dnsFlushCommand().program, "ipconfig.exe"));
        QCOMPARE(platform::dnsFlushCommand().arguments, QStringList{"/flushdns"});
        QVERIFY(isSystemTool(platform::processListCommand().program, "tasklist.exe"));
#else
        QVERIFY(platform::serviceControlProgram().endsWith(QStringLiteral("/tessaro-sc")));
        QCOMPARE(platform::dnsFlushCommand().program, QStringLiteral("resolvectl"));
#endif
    }
};

QTEST_MAIN(TestCredentialStore)
#include "tst_credentialstore.moc"
