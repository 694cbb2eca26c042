// The diagnostics toolbox: its form, the service and process checks against
// fake "sc" and process-list programs, the TCP probes against local listeners,
// the web server tab, closing and dragging.
#include "app/globals.h"
#include "diagnostics/checkboxframe.h"
#include "diagnostics/httpserverthread.h"
#include "diagnostics/interferingsoftware.h"
#include "diagnostics/networkprobe.h"
#include "diagnostics/servicequery.h"
#include "platform/platform.h"
#include "support/fakecommand.h"
#include "support/fakeresolver.h"
#include "support/testenv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include <memory>

namespace {

const QString kPending = QStringLiteral(":/images/icon/c2.png");
const QString kPassed = QStringLiteral(":/images/icon/c3.png");
const QString kFailed = QStringLiteral(":/images/icon/c4.png");
const QString kWebServer = QStringLiteral(":/images/icon/web_1.png");

QByteArray scOutput(const QByteArray &stateLine)
{
    return "\r\nSERVICE_NAME: tessarosvc \r\n"
           "        TYPE               : 10  WIN32_OWN_PROCESS  \r\n" +
           stateLine +
           "                                (STOPPABLE, NOT_PAUSABLE, ACCEPTS_SHUTDOWN)\r\n"
           "        WIN32_EXIT_CODE    : 0  (0x0)\r\n"
           "        SERVICE_EXIT_CODE  : 0  (0x0)\r\n"
           "        CHECKPOINT         : 0x0\r\n"
           "        WAIT_HINT          : 0x0\r\n";
}

const QByteArray kRunning = scOutput("        STATE              : 4  RUNNING \r\n");
const QByteArray kStopped = scOutput("        STATE              : 1  STOPPED \r\n");
const QByteArray kNotInstalled =
    "[SC] EnumQueryServicesStatus:OpenService FAILED 1060:\r\n\r\n"
    "The specified service does not exist as an installed service.\r\n";

QByteArray taskList(const QList<QByteArray> &names)
{
    QByteArray out = "\r\nImage Name                     PID Session Name        Session#    Mem "
                     "Usage\r\n========================= ======== ================ =========== "
                     "============\r\n";
    int pid = 100;
    for (const QByteArray &name : names)
        out += name.leftJustified(25, ' ') + ' ' + QByteArray::number(pid++).rightJustified(8) +
               " Console                    1     10,000 K\r\n";
    return out;
}

bool showsIcon(const QLabel *label, const QString &path)
{
    // Both through QPixmap, which may premultiply alpha on the way.
    const QImage shown = label->pixmap(Qt::ReturnByValue).toImage();
    const QImage expected = QPixmap(path).toImage();
    return !expected.isNull() && shown == expected;
}

// A port on 127.0.0.1 that nothing listens on.
quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

// Whether a connection reached the listener, whether or not the event loop
// has already taken it in.
bool gotConnection(QTcpServer &server)
{
    return server.hasPendingConnections() || server.waitForNewConnection(0);
}

} // namespace

class TestCheckBoxFrame : public QObject
{
    Q_OBJECT

private:
    template <typename T> static T *child(QWidget *window, const char *name)
    {
        T *widget = window->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no child %s", name);
        return widget;
    }
    static QLabel *label(QWidget *window, const char *name) { return child<QLabel>(window, name); }

    void useFakes(int waitMs = 3000)
    {
        platform::Overrides overrides;
        overrides.serviceControlProgram = m_sc->program();
        overrides.processListCommand = {m_tasklist->program(), {}};
        overrides.commandWaitMs = waitMs;
        platform::setOverrides(overrides);
    }

    // Every toolbox knocks on the web server port; keep its queue short.
    void drainWebServer()
    {
        while (gotConnection(m_webServer))
            delete m_webServer.nextPendingConnection();
    }

    FakeCommand *m_sc = nullptr;
    FakeCommand *m_tasklist = nullptr;
    QTcpServer m_webServer; // stands in for the local test web server

private slots:
    void initTestCase()
    {
        initTestEnvironment();
        // The web server tab looks at this port; the tests decide whether it listens.
        QVERIFY(m_webServer.listen(QHostAddress::LocalHost));
        CheckBoxFrame::setPortsForTesting(closedPort(), m_webServer.serverPort());
        g_apiBaseUrl = QStringLiteral("http://127.0.0.1:%1/").arg(closedPort());
        g_tunnelLoginHost = QStringLiteral("127.0.0.1");
    }

    void init()
    {
        m_sc = new FakeCommand(QStringLiteral("sc"));
        m_tasklist = new FakeCommand(QStringLiteral("tasklist"));
        useFakes();
        drainWebServer();
    }

    void cleanup()
    {
        platform::clearOverrides();
        delete m_sc;
        delete m_tasklist;
        m_sc = m_tasklist = nullptr;
    }

    void formShowsTabsAndTexts()
    {
        CheckBoxFrame frame;
        QCOMPARE(frame.windowTitle(), QStringLiteral("工具箱"));
        QCOMPARE(frame.size(), QSize(585, 368));
        QVERIFY(frame.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(frame.testAttribute(Qt::WA_DeleteOnClose));

        auto *tabs = child<QTabWidget>(&frame, "tabWidget");
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->currentIndex(), 0);
        QCOMPARE(tabs->tabText(0), QStringLiteral("本地环境诊断"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("网络诊断"));
        QCOMPARE(tabs->tabText(2), QStringLiteral("客户端诊断"));
        QCOMPARE(tabs->widget(0)->objectName(), QStringLiteral("tab"));
        QCOMPARE(tabs->widget(1)->objectName(), QStringLiteral("tab_2"));
        QCOMPARE(tabs->widget(2)->objectName(), QStringLiteral("tab_3"));

        const QList<QPair<const char *, QString>> texts = {
            {"label", QStringLiteral("工具箱")},
            {"label_3", QStringLiteral("点击按钮进行诊断")},
            {"label_5", QStringLiteral("检测本地系统运行服务是否安装成功")},
            {"label_7", QStringLiteral("检测本地系统运行服务是否正在运行")},
            {"label_9", QStringLiteral("排查本地主机可能拦截服务的进程")},
            {"label_11", QStringLiteral("点击按钮进行诊断")},
            {"label_13", QStringLiteral("检测是否可以上网")},
            {"label_15", QStringLiteral("检测服务器连接状态")},
            {"label_17", QStringLiteral("本地web服务器")},
            {"label_18", QStringLiteral("本地web服务端口号")},
            {"label_19", QStringLiteral("当前web 服务器状态")},
            {"label_20",
             QStringLiteral(
                 "说明：此处提供了一个简单的本地http的web服务器功能，默认端口号为18000")},
            {"label_23", QStringLiteral("在本地浏览器里输入http://127.0.0.1:18000/")},
        };
        for (const auto &text : texts)
            QCOMPARE(label(&frame, text.first)->text(), text.second);

        QCOMPARE(child<QPushButton>(&frame, "btn_check_local")->text(),
                 QStringLiteral(" 点击诊断"));
        QCOMPARE(child<QPushButton>(&frame, "btn_check_network")->text(),
                 QStringLiteral(" 点击诊断"));
        auto *webButton = child<QPushButton>(&frame, "btn_check_webserver");
        QCOMPARE(webButton->text(), QStringLiteral("本机web服务"));
        QVERIFY(!webButton->isEnabled());
        auto *port = child<QLineEdit>(&frame, "lineEdit");
        QCOMPARE(port->text(), QStringLiteral("18000"));
        QVERIFY(port->isReadOnly());
        QCOMPARE(port->alignment(), Qt::AlignRight | Qt::AlignVCenter);
        QVERIFY(child<QTextEdit>(&frame, "textEdit")->toPlainText().isEmpty());

        for (const char *name : {"label_4", "label_6", "label_8", "label_12", "label_14"})
            QVERIFY2(showsIcon(label(&frame, name), kPending), name);
        QVERIFY(showsIcon(label(&frame, "label_2"), QStringLiteral(":/images/icon/c1.png")));
        QVERIFY(showsIcon(label(&frame, "label_10"), QStringLiteral(":/images/icon/c7.png")));
        QVERIFY(showsIcon(label(&frame, "label_16"), QStringLiteral(":/images/icon/c6.png")));
    }

    void serviceStateFromQueryOutput_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("state");
        QTest::newRow("running") << kRunning << QStringLiteral("4  RUNNING");
        QTest::newRow("stopped") << kStopped << QStringLiteral("1  STOPPED");
        QTest::newRow("error 1060") << kNotInstalled << QStringLiteral("1060");
        QTest::newRow("text only")
            << QByteArray("OpenService: the service does not exist\r\n") << QStringLiteral("1060");
        QTest::newRow("1060 beats a state line")
            << (kRunning + "        WAIT_HINT          : 1060\r\n") << QStringLiteral("1060");
        QTest::newRow("seven blanks")
            << scOutput("       STATE              : 4  RUNNING \r\n") << QString();
        QTest::newRow("lower case")
            << scOutput("        state              : 4  RUNNING \r\n") << QString();
        QTest::newRow("first state line wins")
            << (kStopped + "        STATE              : 4  RUNNING \r\n")
            << QStringLiteral("1  STOPPED");
        QTest::newRow("marker after NUL ignored")
            << (kRunning + QByteArray("\0 1060", 6)) << QStringLiteral("4  RUNNING");
        QTest::newRow("empty") << QByteArray() << QString();
    }

    void serviceStateFromQueryOutput()
    {
        QFETCH(QByteArray, output);
        QFETCH(QString, state);
        QCOMPARE(servicequery::judgeOutput(output), state);

        m_sc->setOutput(output);
        CheckBoxFrame frame;
        QCOMPARE(frame.readServiceState(), state);
        QCOMPARE(m_sc->invocations(),
                 QList<QStringList>({{QStringLiteral("query"), QStringLiteral("tessarosvc")}}));
    }

    void localCheckShowsServiceVerdict_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("icon4");
        QTest::addColumn<QString>("text5");
        QTest::addColumn<QString>("icon6");
        QTest::addColumn<QString>("text7");
        const QString installed = QStringLiteral("本地后台系统服务安装正常!");
        const QString notRunning = QStringLiteral("后台服务未启动或不存在");
        QTest::newRow("running") << kRunning << kPassed << installed << kPassed
                                 << QStringLiteral("本地系统服务运行状态正常!");
        QTest::newRow("stopped") << kStopped << kPassed << installed << kFailed << notRunning;
        QTest::newRow("not installed")
            << kNotInstalled << kFailed << QStringLiteral("Tessaro后台服务未安装成功") << kFailed
            << notRunning;
        QTest::newRow("no state") << QByteArray("garbage\r\n") << kPassed << installed << kFailed
                                  << notRunning;
    }

    void localCheckShowsServiceVerdict()
    {
        QFETCH(QByteArray, output);
        QFETCH(QString, icon4);
        QFETCH(QString, text5);
        QFETCH(QString, icon6);
        QFETCH(QString, text7);
        m_sc->setOutput(output);

        CheckBoxFrame frame;
        child<QPushButton>(&frame, "btn_check_local")->click();
        QVERIFY(showsIcon(label(&frame, "label_4"), icon4));
        QCOMPARE(label(&frame, "label_5")->text(), text5);
        QVERIFY(showsIcon(label(&frame, "label_6"), icon6));
        QCOMPARE(label(&frame, "label_7")->text(), text7);
    }

    void serviceToolMissingOrHanging()
    {
        // Missing: installed, not running; nothing else goes wrong.
        platform::Overrides overrides;
        overrides.serviceControlProgram = QStringLiteral("/nonexistent/tessaro-sc");
        overrides.processListCommand = {m_tasklist->program(), {}};
        platform::setOverrides(overrides);
        {
            CheckBoxFrame frame;
            QCOMPARE(frame.readServiceState(), QString());
            child<QPushButton>(&frame, "btn_check_local")->click();
            QVERIFY(showsIcon(label(&frame, "label_4"), kPassed));
            QVERIFY(showsIcon(label(&frame, "label_6"), kFailed));
        }

        // Hanging: the wait ends at the limit and what was printed counts.
        useFakes(400);
        m_sc->setHang(true);
        CheckBoxFrame frame;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(frame.readServiceState(), QString());
        QVERIFY(clock.elapsed() >= 350);
        QVERIFY(clock.elapsed() < 3000);

        m_sc->setOutput(kRunning);
        QCOMPARE(frame.readServiceState(), QStringLiteral("4  RUNNING"));
    }

    void interferingSoftwareWarnings_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QString>("warnings");
        const QString w360 = QStringLiteral("本地有或类似360安全软件,");
        const QString wHuorong = QStringLiteral("本地有或类似火绒安全软件,");
        const QString wKingsoft = QStringLiteral("本地有或类似金山安全软件,");
        const QString wTencent = QStringLiteral("本地有或类似腾讯管家软件");

        QTest::newRow("nothing") << taskList({"svchost.exe", "explorer.exe"}) << QString();
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("360 and Tencent")
            << taskList({"360tray.exe", "QQPCTray.exe"}) << w360 + wTencent;
        QTest::newRow("order is fixed, not the list's")
            << taskList({"QQPCRTP.exe", "kxetray.exe", "HipsTray.exe", "ZhuDongFangYu.exe"})
            << w360 + wHuorong + wKingsoft + wTencent;
        QTest::newRow("duplicates warn once")
            << taskList({"360sd.exe", "360sd.exe", "360rp.exe", "wsctrlsvc.exe", "HipsDaemon.exe"})
            << w360 + wHuorong;
        QTest::newRow("case matters")
            << taskList({"360SD.EXE", "KXETRAY.EXE", "qqpctray.exe"}) << QString();
        QTest::newRow("longer name matches") << taskList({"x360sdsvc.exe"}) << w360;
        QTest::newRow("bare LF lines") << QByteArray("init\nkxetray\nbash\n") << wKingsoft;
        QTest::newRow("after NUL ignored")
            << (taskList({"svchost.exe"}) + QByteArray("\0QMDL.exe", 9)) << QString();

        QList<QByteArray> many;
        for (int i = 0; i < 50000; ++i)
            many.append("worker" + QByteArray::number(i) + ".exe");
        many.append("QQPCRealTimeSpeedup.exe");
        QTest::newRow("huge list") << taskList(many) << wTencent;
    }

    void interferingSoftwareWarnings()
    {
        QFETCH(QByteArray, list);
        QFETCH(QString, warnings);
        QCOMPARE(interferingsoftware::warningsFor(list), warnings);
    }

    void localCheckScansProcessesOneSecondLater()
    {
        m_sc->setOutput(kRunning);
        m_tasklist->setOutput(taskList({"System", "360tray.exe", "QQPCTray.exe"}));
        CheckBoxFrame frame;
        auto *button = child<QPushButton>(&frame, "btn_check_local");
        auto *found = child<QTextEdit>(&frame, "textEdit");
        found->setPlainText(QStringLiteral("left over from before"));

        QElapsedTimer clock;
        clock.start();
        button->click();
        QCOMPARE(button->text(), QStringLiteral("诊断中..."));
        QCOMPARE(label(&frame, "label_3")->text(), QStringLiteral("正在为您诊断..."));
        QCOMPARE(label(&frame, "label_9")->text(),
                 QStringLiteral("正在诊断本地主机可能拦截服务的进程..."));
        QVERIFY(showsIcon(label(&frame, "label_8"), kPending));
        QVERIFY(found->toPlainText().isEmpty());
        QCOMPARE(m_tasklist->runCount(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(button->text(), QStringLiteral("重新诊断"), 5000);
        QVERIFY(clock.elapsed() >= 950);
        QCOMPARE(m_tasklist->runCount(), 1);
        QCOMPARE(label(&frame, "label_3")->text(), QStringLiteral("本次诊断已完成"));
        QVERIFY(showsIcon(label(&frame, "label_8"), kFailed));
        QCOMPARE(label(&frame, "label_9")->text(),
                 QStringLiteral("以下是诊断可能对服务造成拦截的程序"));
        QCOMPARE(found->toPlainText(),
                 QStringLiteral("本地有或类似360安全软件,本地有或类似腾讯管家软件"));

        // A second run with a clean machine overwrites the verdict.
        m_tasklist->setOutput(taskList({"System", "explorer.exe"}));
        button->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_tasklist->runCount(), 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(button->text(), QStringLiteral("重新诊断"), 5000);
        QVERIFY(showsIcon(label(&frame, "label_8"), kPassed));
        QCOMPARE(label(&frame, "label_9")->text(),
                 QStringLiteral("排查本地主机可能拦截服务的进程"));
        QVERIFY(found->toPlainText().isEmpty());
    }

    // The machine's own process list (ps, or tasklist.exe on Windows), with a
    // suite process whose name is longer than the 15 characters a kernel
    // process name keeps.
    void localCheckFindsLongProcessNames()
    {
        FakeCommand program(QStringLiteral("QQPCRealTimeSpeedup"));
        program.setHang(true);
        QProcess suite;
        suite.start(program.program(), QStringList());
        QVERIFY(suite.waitForStarted());
        platform::Overrides overrides;
        overrides.serviceControlProgram = m_sc->program();
        platform::setOverrides(overrides); // the default process list command

        m_sc->setOutput(kRunning);
        CheckBoxFrame frame;
        child<QPushButton>(&frame, "btn_check_local")->click();
        QTRY_COMPARE_WITH_TIMEOUT(child<QPushButton>(&frame, "btn_check_local")->text(),
                                  QStringLiteral("重新诊断"), 10000);
        suite.kill();
        suite.waitForFinished();
        const QString found = child<QTextEdit>(&frame, "textEdit")->toPlainText();
        if (runsUnderWine()) {
            // Wine's tasklist.exe is a stub that lists nothing: the scan
            // still ends, with a clean verdict rather than a made-up one.
            QCOMPARE(found, QString());
            return;
        }
        QVERIFY2(found.contains(QStringLiteral("本地有或类似腾讯管家软件")), qPrintable(found));
    }

    void processListFailures()
    {
        CheckBoxFrame frame;
        // A list that hangs after naming a suite: the run is abandoned, nothing reported.
        useFakes(400);
        m_tasklist->setOutput(taskList({"360tray.exe"}));
        m_tasklist->setHang(true);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(frame.scanInterferingSoftware(), QString());
        QVERIFY(clock.elapsed() < 3000);

        // The process object is usable again after the abandoned run.
        m_tasklist->setHang(false);
        QCOMPARE(frame.scanInterferingSoftware(), QStringLiteral("本地有或类似360安全软件,"));
        QCOMPARE(m_tasklist->runCount(), 2);

        // A missing tool: clean verdict.
        platform::Overrides overrides;
        overrides.serviceControlProgram = m_sc->program();
        overrides.processListCommand = {QStringLiteral("/nonexistent/tasklist.exe"), {}};
        platform::setOverrides(overrides);
        frame.finishLocalCheck();
        QVERIFY(showsIcon(label(&frame, "label_8"), kPassed));
        QCOMPARE(label(&frame, "label_9")->text(),
                 QStringLiteral("排查本地主机可能拦截服务的进程"));
        QVERIFY(child<QTextEdit>(&frame, "textEdit")->toPlainText().isEmpty());
    }

    void internetProbeTarget_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("no port") << "http://api.example.com/"
                                 << "api.example.com" << 80;
        QTest::newRow("own port") << "http://127.0.0.1:28080/"
                                  << "127.0.0.1" << 28080;
        QTest::newRow("path and port") << "https://h.example:8443/api/"
                                       << "h.example" << 8443;
        QTest::newRow("unusable") << "http://bad host:x/"
                                  << "" << 0;
        QTest::newRow("empty") << ""
                               << "" << 0;
    }

    void internetProbeTarget()
    {
        QFETCH(QString, url);
        QFETCH(QString, host);
        QFETCH(int, port);
        const networkprobe::Target target = networkprobe::internetTarget(url);
        QCOMPARE(target.host, host);
        if (!host.isEmpty())
            QCOMPARE(int(target.port), port);
    }

    void tcpProbe()
    {
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        QVERIFY(
            CheckBoxFrame::testTcpConnection(QStringLiteral("127.0.0.1"), listener.serverPort()));
        QVERIFY(gotConnection(listener));
        QVERIFY(!CheckBoxFrame::testTcpConnection(QStringLiteral("127.0.0.1"), closedPort()));
        QVERIFY(!CheckBoxFrame::testTcpConnection(QString(), 80));

        // Host names go through the resolver, and one that never answers
        // still ends the probe at its bound.
        FakeResolver resolver;
        resolver.add(QStringLiteral("nas.test"), QHostAddress(QHostAddress::LocalHost));
        resolver.silence(QStringLiteral("slow.test"));
        resolver.install();
        QVERIFY(
            CheckBoxFrame::testTcpConnection(QStringLiteral("nas.test"), listener.serverPort()));
        QVERIFY(gotConnection(listener));
        QElapsedTimer clock;
        clock.start();
        QTest::ignoreMessage(QtDebugMsg, "Connection failed: Host lookup timed out");
        QVERIFY(
            !CheckBoxFrame::testTcpConnection(QStringLiteral("slow.test"), listener.serverPort()));
        QVERIFY2(clock.elapsed() >= 4900 && clock.elapsed() < 6000,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(resolver.lookups(), 2);
    }

    void networkCheckProbesInOrder_data()
    {
        QTest::addColumn<bool>("apiOpen");
        QTest::addColumn<bool>("serverOpen");
        QTest::newRow("both reachable") << true << true;
        QTest::newRow("both unreachable") << false << false;
        QTest::newRow("only the server") << false << true;
        QTest::newRow("only the API") << true << false;
    }

    void networkCheckProbesInOrder()
    {
        QFETCH(bool, apiOpen);
        QFETCH(bool, serverOpen);
        QTcpServer api;
        QTcpServer server;
        QVERIFY(api.listen(QHostAddress::LocalHost));
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const quint16 apiPort = apiOpen ? api.serverPort() : closedPort();
        const quint16 serverPort = serverOpen ? server.serverPort() : closedPort();
        const QString savedUrl = g_apiBaseUrl;
        g_apiBaseUrl = QStringLiteral("http://127.0.0.1:%1/").arg(apiPort);
        CheckBoxFrame::setPortsForTesting(serverPort, m_webServer.serverPort());

        CheckBoxFrame frame;
        auto *status = label(&frame, "label_11");
        child<QPushButton>(&frame, "btn_check_network")->click();

        // First step done, second one not yet.
        QCOMPARE(status->text(), QStringLiteral("正在进行诊断..."));
        QCOMPARE(label(&frame, "label_13")->text(), apiOpen
                                                        ? QStringLiteral("检测接网络访问网页正常！")
                                                        : QStringLiteral("检测失败，无法访问网络"));
        QVERIFY(showsIcon(label(&frame, "label_12"), apiOpen ? kPassed : kFailed));
        QCOMPARE(label(&frame, "label_15")->text(), QStringLiteral("检测服务器连接状态"));
        QVERIFY(showsIcon(label(&frame, "label_14"), kPending));
        QCOMPARE(gotConnection(api), apiOpen);
        QVERIFY(!gotConnection(server));

        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("点击按钮进行诊断"), 5000);
        QCOMPARE(label(&frame, "label_15")->text(),
                 serverOpen ? QStringLiteral("检测连接服务器成功!")
                            : QStringLiteral("网络异常，无法连接服务器"));
        QVERIFY(showsIcon(label(&frame, "label_14"), serverOpen ? kPassed : kFailed));
        QCOMPARE(gotConnection(server), serverOpen);
        QCOMPARE(child<QPushButton>(&frame, "btn_check_network")->text(),
                 QStringLiteral(" 点击诊断"));

        g_apiBaseUrl = savedUrl;
        CheckBoxFrame::setPortsForTesting(closedPort(), m_webServer.serverPort());
    }

    // Tab 3 reports this client's own test web server, whatever else
    // listens on its port.
    void webServerTabFollowsTheClientsServer()
    {
        // Another program holds the port (the fixture's listener), so ours
        // is not listening: the port may be taken.
        QVERIFY(m_webServer.isListening());
        CheckBoxFrame foreign;
        const QString taken = label(&foreign, "label_22")->text();
        QCOMPARE(
            taken,
            QStringLiteral("服务未运行，端口%1可能被占用").arg(CheckBoxFrame::webServerPort()));
        QVERIFY(showsIcon(label(&foreign, "label_21"), kFailed));
        // The whole message fits on screen.
        QVERIFY(label(&foreign, "label_22")->width() >=
                label(&foreign, "label_22")->sizeHint().width());

        // Ours listens: selecting the tab looks again.
        auto server = std::make_unique<HttpServerThread>(0, QHostAddress(QHostAddress::LocalHost));
        server->startServer();
        QVERIFY(server->isListening());
        auto *tabs = child<QTabWidget>(&foreign, "tabWidget");
        tabs->setCurrentIndex(2);
        QCOMPARE(label(&foreign, "label_22")->text(), QStringLiteral("服务运行中"));
        QVERIFY(showsIcon(label(&foreign, "label_21"), kWebServer));

        server.reset();
        tabs->setCurrentIndex(0);
        tabs->setCurrentIndex(2);
        QVERIFY(label(&foreign, "label_22")->text().contains(QStringLiteral("服务未运行")));
    }

    void closedToolboxRunsNoLaterStep()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        CheckBoxFrame::setPortsForTesting(server.serverPort(), m_webServer.serverPort());
        m_sc->setOutput(kRunning);

        QPointer<CheckBoxFrame> frame = new CheckBoxFrame;
        frame->show();
        child<QPushButton>(frame, "btn_check_local")->click();
        child<QPushButton>(frame, "btn_check_network")->click();
        child<QPushButton>(frame, "closeBtn")->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(frame.isNull());

        QTest::qWait(1500);
        QCOMPARE(m_tasklist->runCount(), 0);
        QVERIFY(!gotConnection(server));
        CheckBoxFrame::setPortsForTesting(closedPort(), m_webServer.serverPort());
    }

    void dragMovesTheWindow()
    {
        CheckBoxFrame frame;
        frame.move(100, 100);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.move(100, 100);
        QCOMPARE(frame.pos(), QPoint(100, 100));

        QWidget *title = child<QWidget>(&frame, "widget");
        const QPoint pressAt(150, 110);
        QMouseEvent press(QEvent::MouseButtonPress, title->mapFromGlobal(pressAt),
                          frame.mapFromGlobal(pressAt), pressAt, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(title, &press);
        const QPoint moveTo(250, 230);
        QMouseEvent move(QEvent::MouseMove, title->mapFromGlobal(moveTo),
                         frame.mapFromGlobal(moveTo), moveTo, Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(title, &move);
        QCOMPARE(frame.pos(), QPoint(200, 220));
    }

    // Pictures of each tab for a look by eye (see screenshotDir).
    void screenshots()
    {
        const QString dir = screenshotDir();
        m_sc->setOutput(kStopped);
        m_tasklist->setOutput(taskList({"360tray.exe", "kxetray.exe"}));
        CheckBoxFrame frame;
        frame.show();
        auto *tabs = child<QTabWidget>(&frame, "tabWidget");
        QVERIFY(frame.grab().save(dir + QStringLiteral("/toolbox_tab1_initial.png")));
        child<QPushButton>(&frame, "btn_check_local")->click();
        QTRY_COMPARE_WITH_TIMEOUT(label(&frame, "label_3")->text(),
                                  QStringLiteral("本次诊断已完成"), 5000);
        QVERIFY(frame.grab().save(dir + QStringLiteral("/toolbox_tab1_done.png")));
        tabs->setCurrentIndex(1);
        child<QPushButton>(&frame, "btn_check_network")->click();
        QTRY_COMPARE_WITH_TIMEOUT(label(&frame, "label_11")->text(),
                                  QStringLiteral("点击按钮进行诊断"), 5000);
        QVERIFY(frame.grab().save(dir + QStringLiteral("/toolbox_tab2.png")));
        tabs->setCurrentIndex(2);
        QVERIFY(frame.grab().save(dir + QStringLiteral("/toolbox_tab3.png")));

        CheckBoxFrame::setPortsForTesting(closedPort(), closedPort());
        CheckBoxFrame stopped;
        stopped.show();
        child<QTabWidget>(&stopped, "tabWidget")->setCurrentIndex(2);
        CheckBoxFrame::setPortsForTesting(closedPort(), m_webServer.serverPort());
        QVERIFY(stopped.grab().save(dir + QStringLiteral("/toolbox_tab3_stopped.png")));
    }

    void cleanupTestCase() { CheckBoxFrame::setPortsForTesting(0, 0); }
};

QTEST_MAIN(TestCheckBoxFrame)
#include "tst_checkboxframe.moc"
