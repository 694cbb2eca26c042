#include "app/globals.h"
#include "platform/platform.h"
#include "service/servicecontroller.h"
#include "support/fakecommand.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <functional>

namespace {

QStringList g_debugLines;
QtMessageHandler g_previousHandler = nullptr;

void captureMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        g_debugLines.append(message);
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

QStringList controllerLines()
{
    QStringList lines;
    for (const QString &line : qAsConst(g_debugLines)) {
        if (line.contains(QLatin1String("readReult")))
            lines.append(line);
    }
    return lines;
}

QString joinedResults(const QSignalSpy &spy)
{
    QString all;
    for (const QList<QVariant> &emission : spy)
        all += emission.at(0).toString();
    return all;
}

using Command = std::function<bool(ServiceController &)>;

} // namespace

Q_DECLARE_METATYPE(Command)

class TestServiceController : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void commandArguments_data();
    void commandArguments();
    void startTypeOutOfRangeRunsNothing_data();
    void startTypeOutOfRangeRunsNothing();
    void debugStamp_data();
    void debugStamp();
    void outputBecomesDebugLineAndSignal();
    void gbkOutputIsDecoded();
    void emptyOutputEmitsEmptyTextWithoutDebugLine();
    void hangingToolTimesOutAndNextCommandRuns();

private:
    void useFake(FakeCommand &fake, int waitMs = 0);
};

void TestServiceController::initTestCase()
{
    initTestEnvironment();
    g_previousHandler = qInstallMessageHandler(captureMessages);
}

void TestServiceController::init()
{
    g_debugLines.clear();
}

void TestServiceController::cleanup()
{
    platform::clearOverrides();
}

void TestServiceController::useFake(FakeCommand &fake, int waitMs)
{
    platform::Overrides overrides;
    overrides.serviceControlProgram = fake.program();
    overrides.commandWaitMs = waitMs;
    platform::setOverrides(overrides);
}

void TestServiceController::commandArguments_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("start") << Command([](ServiceController &c) { return c.startService(); })
                           << QStringList{"start", "tessarosvc"};
    QTest::newRow("stop") << Command([](ServiceController &c) { return c.stopService(); })
                          << QStringList{"stop", "tessarosvc"};
    QTest::newRow("create") << Command([](ServiceController &c) { return c.createService(); })
                            << QStringList{"create", "tessarosvc"};
    QTest::newRow("delete") << Command([](ServiceController &c) { return c.deleteService(); })
                            << QStringList{"delete", "tessarosvc"};
    QTest::newRow("auto") << Command([](ServiceController &c) { return c.setStartType(0); })
                          << QStringList{"config", "tessarosvc", "start=", "auto"};
    QTest::newRow("demand") << Command([](ServiceController &c) { return c.setStartType(1); })
                            << QStringList{"config", "tessarosvc", "start=", "demand"};
    QTest::newRow("disabled") << Command([](ServiceController &c) { return c.setStartType(2); })
                              << QStringList{"config", "tessarosvc", "start=", "disabled"};
    QTest::newRow("delayed-auto") << Command([](ServiceController &c) { return c.setStartType(3); })
                                  << QStringList{"config", "tessarosvc", "start=", "delayed-auto"};
}

void TestServiceController::commandArguments()
{
    QFETCH(Command, command);
    QFETCH(QStringList, expected);

    FakeCommand fake(QStringLiteral("sc"));
    useFake(fake);
    ServiceController controller(g_serviceName);
    QVERIFY(command(controller));
    QCOMPARE(fake.invocations(), QList<QStringList>{expected});
}

void TestServiceController::startTypeOutOfRangeRunsNothing_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("-1") << -1;
    QTest::newRow("7") << 7;
}

void TestServiceController::startTypeOutOfRangeRunsNothing()
{
    QFETCH(int, type);
    FakeCommand fake(QStringLiteral("sc"));
    useFake(fake);
    ServiceController controller(g_serviceName);
    QSignalSpy results(&controller, &ServiceController::sendServiceResult);

    QElapsedTimer timer;
    timer.start();
    QVERIFY(!controller.setStartType(type));
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(fake.runCount(), 0);
    QCOMPARE(results.count(), 0);
}

void TestServiceController::debugStamp_data()
{
    QTest::addColumn<QByteArray>("date");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("expected");

    QTest::newRow("one-digit day")
        << QByteArray("Dec  7 2026") << QByteArray("servicecontroller.cpp") << 88
        << "Debug   Dec..7.2026 09:05:03 servicecontroller.cpp readReult 88>>";
    QTest::newRow("two-digit day")
        << QByteArray("Jan 17 2025") << QByteArray("/home/dev/src/service/servicecontroller.cpp")
        << 7 << "Debug   Jan.17.2025 09:05:03 servicecontroller.cpp readReult 7>>";
    QTest::newRow("windows path")
        << QByteArray("Mar 30 2024") << QByteArray("C:\\dev\\service\\servicecontroller.cpp") << 120
        << "Debug   Mar.30.2024 09:05:03 servicecontroller.cpp readReult 120>>";
}

void TestServiceController::debugStamp()
{
    QFETCH(QByteArray, date);
    QFETCH(QByteArray, file);
    QFETCH(int, line);
    QFETCH(QString, expected);
    QCOMPARE(servicecontrol::debugStamp(date.constData(), "09:05:03", file.constData(), line),
             expected);
}

void TestServiceController::outputBecomesDebugLineAndSignal()
{
    const QByteArray output = "\r\nSERVICE_NAME: tessarosvc\r\n        STATE              : 2  "
                              "START_PENDING\r\n";
    FakeCommand fake(QStringLiteral("sc"));
    fake.setOutput(output);
    useFake(fake);
    ServiceController controller(g_serviceName);
    QSignalSpy results(&controller, &ServiceController::sendServiceResult);

    QVERIFY(controller.startService());
    QCOMPARE(joinedResults(results), QString::fromLatin1(output));

    const QStringList lines = controllerLines();
    QVERIFY(!lines.isEmpty());
    QString logged;
    const QRegularExpression stamp(QStringLiteral(
        R"(^Debug   [A-Z][a-z]{2}\.(\.\d|\d\d)\.\d{4} \d\d:\d\d:\d\d servicecontroller\.cpp )"
        R"(readReult \d+>> )"));
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = stamp.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        logged += line.mid(match.capturedLength());
    }
    QCOMPARE(logged, QString::fromLatin1(output));
}

void TestServiceController::gbkOutputIsDecoded()
{
    // "[SC] StartService 失败 1060:" and "指定的服务未安装。" as a Chinese console
    // prints them, in the GBK code page.
    const QByteArray gbk =
        "[SC] StartService \xca\xa7\xb0\xdc 1060:\r\n\r\n"
        "\xd6\xb8\xb6\xa8\xb5\xc4\xb7\xfe\xce\xf1\xce\xb4\xb0\xb2\xd7\xb0\xa1\xa3\r\n";
    const QString expected =
        QStringLiteral("[SC] StartService 失败 1060:\r\n\r\n指定的服务未安装。\r\n");

    QCOMPARE(servicecontrol::decodeOutput(gbk), expected);

    FakeCommand fake(QStringLiteral("sc"));
    fake.setOutput(gbk);
    fake.setExitCode(1060);
    useFake(fake);
    ServiceController controller(g_serviceName);
    QSignalSpy results(&controller, &ServiceController::sendServiceResult);
    // The tool's own failure is not the command's: it finished in time.
    QVERIFY(controller.startService());
    QCOMPARE(joinedResults(results), expected);
    QVERIFY(controllerLines().join(QString()).contains(QStringLiteral("指定的服务未安装")));
}

void TestServiceController::emptyOutputEmitsEmptyTextWithoutDebugLine()
{
    FakeCommand fake(QStringLiteral("sc"));
    useFake(fake);
    ServiceController controller(g_serviceName);
    QSignalSpy results(&controller, &ServiceController::sendServiceResult);

    QVERIFY(controller.stopService());
    QCOMPARE(joinedResults(results), QString());

    // Woken with nothing to read, the slot still reports, with empty text.
    results.clear();
    controller.readReult();
    QCOMPARE(results.count(), 1);
    QCOMPARE(results.at(0).at(0).toString(), QString());
    QCOMPARE(controllerLines(), QStringList());
}

void TestServiceController::hangingToolTimesOutAndNextCommandRuns()
{
    FakeCommand fake(QStringLiteral("sc"));
    fake.setOutput("[SC] pending\r\n");
    fake.setHang(true);
    // Long enough for the tool to start and print on a busy machine (Wine
    // takes a while to start a program).
    useFake(fake, 2000);
    ServiceController controller(g_serviceName);
    QSignalSpy results(&controller, &ServiceController::sendServiceResult);

    QElapsedTimer timer;
    timer.start();
    QVERIFY(!controller.startService());
    const qint64 waited = timer.elapsed();
    QVERIFY2(waited >= 1900 && waited < 10000, qPrintable(QString::number(waited)));
    // Output that came before the wait ran out was passed on meanwhile.
    QCOMPARE(joinedResults(results), QStringLiteral("[SC] pending\r\n"));

    fake.setHang(false);
    fake.setOutput("[SC] done\r\n");
    results.clear();
    timer.restart();
    QVERIFY(controller.stopService());
    QVERIFY(timer.elapsed() < 5000);
    QCOMPARE(joinedResults(results), QStringLiteral("[SC] done\r\n"));
    QCOMPARE(fake.invocations(),
             (QList<QStringList>{{"start", "tessarosvc"}, {"stop", "tessarosvc"}}));
}

QTEST_GUILESS_MAIN(TestServiceController)
#include "tst_servicecontroller.moc"
