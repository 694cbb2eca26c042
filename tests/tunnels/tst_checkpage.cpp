// The tunnel check page against local listeners: both ends tried on worker
// threads, the lines, icons and links it shows, the re-test, and results that
// arrive late.
#include "app/globals.h"
#include "diagnostics/checkthread.h"
#include "main/maindialog.h"
#include "platform/platform.h"
#include "support/fakecommand.h"
#include "support/fakehttpserver.h"
#include "support/fakereplies.h"
#include "support/loopbackports.h"
#include "support/testenv.h"
#include "support/windowfixture.h"
#include "tunnels/tunnelwidget.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

const QString kListRoute = QStringLiteral("ClientTunnelAction?method=list");
const QString kTesting = QStringLiteral("正在检测中...");
const QString kNeutral = QStringLiteral("font: 14px \"微软雅黑\";color:#000000;");
const QString kGreen = QStringLiteral("font: 14px \"微软雅黑\";color: rgb(0, 170, 0);");
const QString kRed = QStringLiteral("font: 14px \"微软雅黑\";color:#f96f52;");
const QString kServiceDown = QStringLiteral("font: 14px \"微软雅黑\";color:#f96f52;;");
const QRegularExpression kStamp(QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));

QByteArray scOutput(const char *state)
{
    return QByteArray("\r\nSERVICE_NAME: tessarosvc \r\n        STATE              : ") + state +
           " \r\n";
}

QImage icon(const char *path)
{
    return QPixmap(QLatin1String(path)).toImage();
}

QImage iconOf(QWidget *window, const char *label)
{
    return window->findChild<QLabel *>(QLatin1String(label))->pixmap(Qt::ReturnByValue).toImage();
}

// A port on this machine that nobody listens on: connections are refused.
quint16 closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QJsonObject tunnel(const QString &id, quint16 localPort, quint16 publicPort,
                   const QString &channelType = QStringLiteral("1"))
{
    return QJsonObject{{"name", "隧道" + id},
                       {"id", id},
                       {"domain", id + ".tunnel.example"},
                       {"dst_address", "127.0.0.1"},
                       {"dst_port", QString::number(localPort)},
                       {"public_address", "127.0.0.1"},
                       {"public_port", QString::number(publicPort)},
                       {"channel_type", channelType},
                       {"daikuan", "1"}};
}

FakeHttpServer::Response listOf(const QJsonArray &data)
{
    return jsonReply(QJsonObject{{"code", 0}, {"data", data}});
}

} // namespace

class TestCheckPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void bothEnds_data();
    void bothEnds();
    void httpsTunnelShowsTheDomainOnly();
    void stoppedServiceIsFlagged();
    void publicResultClosesTheTestBeforeTheLocalOne();
    void resultsAfterAListRebuildShowTheTestedTunnel();
    void recheckLooksTheTunnelUpAgain();
    void resultsOfAnEarlierTestAreIgnored();

private:
    void makeWindow(const QJsonArray &tunnels);
    void check(const QString &id);
    void waitForTheEnd();
    QString text(const char *label) const;
    QString style(const char *label) const;
    bool hidden(const char *name) const;
    int threads() const { return m_window->findChildren<CheckThread *>().size(); }

    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<FakeCommand> m_sc;
    std::unique_ptr<MainDialog> m_window;
};

void TestCheckPage::initTestCase()
{
    initTestEnvironment();
}

void TestCheckPage::init()
{
    m_server = startFakeProvider();
    QVERIFY(m_server);
    g_avatar.clear();
    g_userName = QStringLiteral("u");
    g_password = QStringLiteral("p");
    g_num = QStringLiteral("5");

    m_sc = runningServiceTool();
    platform::setOverrides(serviceOverrides(*m_sc));
}

void TestCheckPage::cleanup()
{
    m_window.reset();
    platform::clearOverrides();
}

void TestCheckPage::makeWindow(const QJsonArray &tunnels)
{
    m_server->setResponse(kListRoute, listOf(tunnels));
    m_window = std::make_unique<MainDialog>(nullptr);
    m_window->show();
}

void TestCheckPage::check(const QString &id)
{
    for (TunnelWidget *card : m_window->findChildren<TunnelWidget *>()) {
        if (card->tunnelBean() && card->tunnelBean()->id() == id) {
            card->findChild<QPushButton *>("pushButton_3")->click();
            return;
        }
    }
    QFAIL("no card with this id");
}

void TestCheckPage::waitForTheEnd()
{
    QTRY_COMPARE_WITH_TIMEOUT(text("label_44"), QStringLiteral("本次检测已结束"), 8000);
    QTRY_VERIFY_WITH_TIMEOUT(text("jc_nw_result") != kTesting, 8000);
    // Finished threads go; the window does not collect them.
    QTRY_COMPARE_WITH_TIMEOUT(threads(), 0, 3000);
}

QString TestCheckPage::text(const char *label) const
{
    return m_window->findChild<QLabel *>(QLatin1String(label))->text();
}

QString TestCheckPage::style(const char *label) const
{
    return m_window->findChild<QLabel *>(QLatin1String(label))->styleSheet();
}

bool TestCheckPage::hidden(const char *name) const
{
    return m_window->findChild<QWidget *>(QLatin1String(name))->isHidden();
}

void TestCheckPage::bothEnds_data()
{
    QTest::addColumn<bool>("localOpen");
    QTest::addColumn<bool>("publicOpen");
    QTest::newRow("both reachable") << true << true;
    QTest::newRow("local only") << true << false;
    QTest::newRow("public only") << false << true;
    QTest::newRow("neither") << false << false;
}

void TestCheckPage::bothEnds()
{
    QFETCH(bool, localOpen);
    QFETCH(bool, publicOpen);
    QTcpServer local;
    QTcpServer remote;
    QVERIFY(local.listen(QHostAddress::LocalHost));
    QVERIFY(remote.listen(QHostAddress::LocalHost));
    const quint16 localPort = localOpen ? local.serverPort() : closedPort();
    const quint16 publicPort = publicOpen ? remote.serverPort() : closedPort();
    makeWindow(QJsonArray{tunnel("1", 1, 2), tunnel("2", localPort, publicPort)});

    check(QStringLiteral("2"));
    // Before any result: the page is prepared and shown.
    QCOMPARE(m_window->findChild<QStackedWidget *>("stackedWidget")->currentIndex(), 7);
    QCOMPARE(text("jc_dst"), QStringLiteral("正在检测 127.0.0.1:%1").arg(localPort));
    QCOMPARE(text("jc_pst"), QStringLiteral("正在检测 2.tunnel.example:%1").arg(publicPort));
    for (const char *line : {"jc_nw_result", "jc_ww_result"}) {
        QCOMPARE(text(line), kTesting);
        QCOMPARE(style(line), kNeutral);
    }
    auto *again = m_window->findChild<QPushButton *>("btn_check1");
    QCOMPARE(again->text(), QStringLiteral("检测中..."));
    QVERIFY(!again->isEnabled());
    QCOMPARE(text("label_44"), QStringLiteral("检测进行中..."));
    QCOMPARE(text("end_time"), QString());
    QVERIFY(text("label_time").startsWith(QStringLiteral("当前时间：")));
    QVERIFY2(kStamp.match(text("label_time")).hasMatch(), qPrintable(text("label_time")));
    QVERIFY(hidden("label_paicha1") && hidden("label_paicha2") && hidden("label_paicha3"));
    QCOMPARE(text("jc_sys_service_state"), QStringLiteral("RUNNING"));
    QCOMPARE(style("jc_sys_service_state"), kGreen);

    waitForTheEnd();
    const QString localEnd = QStringLiteral("127.0.0.1:%1").arg(localPort);
    const QString publicEnd = QStringLiteral("2.tunnel.example:%1").arg(publicPort);
    QCOMPARE(text("jc_nw_result"),
             (localOpen ? QStringLiteral("已成功连接到：") : QStringLiteral("暂未连接到：")) +
                 localEnd);
    QCOMPARE(style("jc_nw_result"), localOpen ? kGreen : kRed);
    QCOMPARE(iconOf(m_window.get(), "label_25"),
             icon(localOpen ? ":/images/icon/online.png" : ":/images/icon/info.png"));
    QVERIFY(!hidden("label_25"));
    QCOMPARE(hidden("label_paicha1"), localOpen);

    QCOMPARE(text("jc_ww_result"),
             (publicOpen ? QStringLiteral("已成功连接到：") : QStringLiteral("暂未连接到：")) +
                 publicEnd);
    QCOMPARE(style("jc_ww_result"), publicOpen ? kGreen : kRed);
    QCOMPARE(iconOf(m_window.get(), "label_43"),
             icon(publicOpen ? ":/images/icon/online.png" : ":/images/icon/info.png"));
    QCOMPARE(hidden("label_paicha2"), publicOpen);
    QVERIFY(hidden("label_paicha3"));

    QCOMPARE(again->text(), QStringLiteral("重新检测"));
    QVERIFY(again->isEnabled());
    QVERIFY(text("end_time").startsWith(QStringLiteral("结束时间：")));
    QVERIFY2(kStamp.match(text("end_time")).hasMatch(), qPrintable(text("end_time")));
    // The open ends really were connected to (the listener learns of it in
    // its own event loop).
    QTRY_COMPARE(local.hasPendingConnections(), localOpen);
    QTRY_COMPARE(remote.hasPendingConnections(), publicOpen);
}

void TestCheckPage::httpsTunnelShowsTheDomainOnly()
{
    QTcpServer remote;
    QVERIFY(remote.listen(QHostAddress::LocalHost));
    makeWindow(QJsonArray{tunnel("s", closedPort(), remote.serverPort(), "5")});
    check(QStringLiteral("s"));
    QCOMPARE(text("jc_pst"), QStringLiteral("正在检测 s.tunnel.example"));
    waitForTheEnd();
    // Shown by its domain, tried at the provider's address and port.
    QCOMPARE(text("jc_ww_result"), QStringLiteral("已成功连接到：s.tunnel.example"));
    QTRY_VERIFY(remote.hasPendingConnections());
    QVERIFY(text("jc_nw_result").startsWith(QStringLiteral("暂未连接到：127.0.0.1:")));
}

void TestCheckPage::stoppedServiceIsFlagged()
{
    m_sc->setOutput(scOutput("1  STOPPED"));
    makeWindow(QJsonArray{tunnel("1", closedPort(), closedPort())});
    check(QStringLiteral("1"));
    QCOMPARE(text("jc_sys_service_state"), QStringLiteral("1  STOPPED"));
    QCOMPARE(style("jc_sys_service_state"), kServiceDown);
    QVERIFY(!hidden("label_paicha3"));
    waitForTheEnd();

    // Running again: the re-test clears the warning.
    m_sc->setOutput(scOutput("4  RUNNING"));
    m_window->findChild<QPushButton *>("btn_check1")->click();
    QCOMPARE(text("jc_sys_service_state"), QStringLiteral("RUNNING"));
    QCOMPARE(style("jc_sys_service_state"), kGreen);
    QVERIFY(hidden("label_paicha3"));
    waitForTheEnd();
}

void TestCheckPage::publicResultClosesTheTestBeforeTheLocalOne()
{
    SilentPort silent;
    QTcpServer remote;
    QVERIFY(remote.listen(QHostAddress::LocalHost));
    if (!silent.port())
        QFAIL("cannot set up a port that ignores connections");
    makeWindow(QJsonArray{tunnel("1", silent.port(), remote.serverPort())});
    check(QStringLiteral("1"));

    QTRY_COMPARE_WITH_TIMEOUT(text("label_44"), QStringLiteral("本次检测已结束"), 3000);
    QVERIFY(text("jc_ww_result").startsWith(QStringLiteral("已成功连接到：")));
    QVERIFY(text("end_time").startsWith(QStringLiteral("结束时间：")));
    QVERIFY(m_window->findChild<QPushButton *>("btn_check1")->isEnabled());
    QCOMPARE(text("jc_nw_result"), kTesting);
    QCOMPARE(threads(), 1);

    // The local end gives up after five seconds and is still shown.
    QTRY_COMPARE_WITH_TIMEOUT(text("jc_nw_result"),
                              QStringLiteral("暂未连接到：127.0.0.1:%1").arg(silent.port()), 8000);
    QCOMPARE(style("jc_nw_result"), kRed);
    QVERIFY(!hidden("label_paicha1"));
    QTRY_COMPARE_WITH_TIMEOUT(threads(), 0, 3000);
}

void TestCheckPage::resultsAfterAListRebuildShowTheTestedTunnel()
{
    SilentPort silent;
    QTcpServer remote;
    QVERIFY(remote.listen(QHostAddress::LocalHost));
    if (!silent.port())
        QFAIL("cannot set up a port that ignores connections");
    makeWindow(QJsonArray{tunnel("1", silent.port(), remote.serverPort())});
    check(QStringLiteral("1"));

    // The tested tunnel is gone from the list before either result is shown.
    m_server->setResponse(kListRoute, listOf(QJsonArray{tunnel("9", 1, 2)}));
    m_window->reloadTunnelList();
    QCOMPARE(m_window->findChildren<TunnelWidget *>().size(), 1);

    waitForTheEnd();
    QCOMPARE(text("jc_ww_result"),
             QStringLiteral("已成功连接到：1.tunnel.example:%1").arg(remote.serverPort()));
    QCOMPARE(text("jc_nw_result"), QStringLiteral("暂未连接到：127.0.0.1:%1").arg(silent.port()));
}

void TestCheckPage::recheckLooksTheTunnelUpAgain()
{
    QTcpServer local;
    QVERIFY(local.listen(QHostAddress::LocalHost));
    const quint16 refused = closedPort();
    makeWindow(QJsonArray{tunnel("1", refused, refused)});
    check(QStringLiteral("1"));
    waitForTheEnd();
    QVERIFY(text("jc_nw_result").startsWith(QStringLiteral("暂未连接到：")));

    // The tunnel now points at a listening port: the re-test uses the new list.
    m_server->setResponse(kListRoute, listOf(QJsonArray{tunnel("1", local.serverPort(), refused)}));
    m_window->reloadTunnelList();
    auto *again = m_window->findChild<QPushButton *>("btn_check1");
    again->click();
    QCOMPARE(text("jc_dst"), QStringLiteral("正在检测 127.0.0.1:%1").arg(local.serverPort()));
    QCOMPARE(again->text(), QStringLiteral("检测中..."));
    waitForTheEnd();
    QCOMPARE(text("jc_nw_result"),
             QStringLiteral("已成功连接到：127.0.0.1:%1").arg(local.serverPort()));
    QVERIFY(hidden("label_paicha1"));

    // Once the tunnel is gone the button does nothing.
    m_server->setResponse(kListRoute, listOf(QJsonArray{tunnel("2", 1, 2)}));
    m_window->reloadTunnelList();
    const QString before = text("jc_dst") + text("jc_nw_result") + text("end_time");
    again->click();
    QCOMPARE(threads(), 0);
    QCOMPARE(again->text(), QStringLiteral("重新检测"));
    QCOMPARE(text("jc_dst") + text("jc_nw_result") + text("end_time"), before);
}

void TestCheckPage::resultsOfAnEarlierTestAreIgnored()
{
    SilentPort silent;
    QTcpServer local;
    QVERIFY(local.listen(QHostAddress::LocalHost));
    if (!silent.port())
        QFAIL("cannot set up a port that ignores connections");
    const quint16 refused = closedPort();
    makeWindow(
        QJsonArray{tunnel("1", silent.port(), refused), tunnel("2", local.serverPort(), refused)});

    // The first test closes with its public end while its local end still waits.
    check(QStringLiteral("1"));
    QTRY_COMPARE_WITH_TIMEOUT(text("label_44"), QStringLiteral("本次检测已结束"), 3000);
    m_window->findChild<QPushButton *>("btn_back3")->click();
    check(QStringLiteral("2"));
    QTRY_COMPARE_WITH_TIMEOUT(text("label_44"), QStringLiteral("本次检测已结束"), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(text("jc_nw_result") != kTesting, 3000);
    QVERIFY(threads() >= 1); // the first test's local end is still waiting
    const QString shown = QStringLiteral("已成功连接到：127.0.0.1:%1").arg(local.serverPort());
    QCOMPARE(text("jc_nw_result"), shown);

    // The first test's late local result must not overwrite the second test's.
    QTRY_COMPARE_WITH_TIMEOUT(threads(), 0, 8000);
    QTest::qWait(50);
    QCOMPARE(text("jc_nw_result"), shown);
    QCOMPARE(style("jc_nw_result"), kGreen);
    QVERIFY(hidden("label_paicha1"));
}

QTEST_MAIN(TestCheckPage)
#include "tst_checkpage.moc"
