// The whole system on one machine, driven through the client's own windows:
// sign in, the service carries the demo tunnel to the client's test page, a
// tunnel created in the form works after the confirmed restart, the check page
// turns green, and logout closes the public ports.
#include "app/globals.h"
#include "diagnostics/httpserverthread.h"
#include "dialogs/myconfirmdialog.h"
#include "login/logindialog.h"
#include "main/maindialog.h"
#include "platform/platform.h"
#include "support/providerprocess.h"
#include "support/servicetool.h"
#include "support/testenv.h"
#include "tunnels/tunnelbean.h"
#include "tunnels/tunnelwidget.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QString binary(const QString &name)
{
    return standinProgram(name);
}

int runSc(const QStringList &arguments)
{
    return runServiceTool(arguments).exitCode;
}

// Everything a visitor of 127.0.0.1:port receives within the wait, after
// sending `request`; empty when the port refuses. The wait keeps the event
// loop running: the client's test web server answers on this thread.
QByteArray visit(quint16 port, const QByteArray &request, const QByteArray &until)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QByteArray received;
    bool sent = false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000 && !received.contains(until)) {
        QTest::qWait(20);
        if (socket.state() == QAbstractSocket::UnconnectedState)
            break;
        if (!sent && socket.state() == QAbstractSocket::ConnectedState) {
            socket.write(request);
            sent = true;
        }
        received += socket.readAll();
    }
    return received;
}

// True when a connection to 127.0.0.1:port is refused or dropped at once.
bool refuses(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1000 && socket.state() != QAbstractSocket::UnconnectedState)
        QTest::qWait(20);
    return socket.state() == QAbstractSocket::UnconnectedState;
}

} // namespace

class TestTunnelThroughTheClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        initTestEnvironment();
        // The demo tunnel points at the test web server's real port.
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, HttpServerThread::DefaultPort))
            QFAIL("port 18000 is taken on this machine");
        probe.close();
        HttpServerThread::setDefaultEndpoint(HttpServerThread::DefaultPort,
                                             QHostAddress(QHostAddress::LocalHost));

        QVERIFY(m_dir.isValid());
        QVERIFY2(m_provider.start(m_dir.filePath(QStringLiteral("provider.db")),
                                  {QStringLiteral("--tunnel-port"), QStringLiteral("0")}),
                 m_provider.output().constData());
        const auto match =
            QRegularExpression(QStringLiteral("tunnel server listening on [^:]+:(\\d+)"))
                .match(QString::fromUtf8(m_provider.output()));
        QVERIFY(match.hasMatch());
        g_apiBaseUrl = g_webBaseUrl = m_provider.base();

        // The stand-in service finds this provider's tunnel server through its
        // own settings file, and is registered as the real one would be.
        const QString serviceDir = QFileInfo(platform::credentialStorePath()).absolutePath();
        QDir().mkpath(serviceDir);
        QSettings config(serviceDir + QStringLiteral("/tessarosvc.ini"), QSettings::IniFormat);
        config.setValue(QStringLiteral("tunnel/host"), QStringLiteral("127.0.0.1"));
        config.setValue(QStringLiteral("tunnel/port"), match.captured(1));
        config.sync();
        QCOMPARE(registerService(g_serviceName, binary(QStringLiteral("tessarosvc"))).exitCode, 0);

        // Modal questions are answered the way this user would: the one-time
        // message is declined, "是否立即生效?" and logout are confirmed.
        connect(&m_answers, &QTimer::timeout, this, [this] {
            auto *dialog = qobject_cast<MyConfirmDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            m_questions.append(dialog->windowTitle());
            const bool accept = dialog->windowTitle() != QStringLiteral("消息提示");
            dialog->findChild<QPushButton *>(accept ? "btn_ok" : "btn_cance")->click();
        });
        m_answers.start(20);
    }

    void cleanupTestCase()
    {
        runSc({QStringLiteral("stop"), g_serviceName});
        runSc({QStringLiteral("delete"), g_serviceName});
    }

    void signInCarriesTheDemoTunnelToTheTestPage()
    {
        m_login = std::make_unique<LoginDialog>();
        m_login->show();
        m_login->findChild<QLineEdit *>("lineEdit")->setText(QStringLiteral("demo"));
        m_login->findChild<QLineEdit *>("lineEdit_2")->setText(QStringLiteral("demo1234"));
        m_login->findChild<QPushButton *>("loginBtn")->click();
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *main = qobject_cast<MainDialog *>(widget))
                m_window.reset(main);
        QVERIFY(m_window);

        const TunnelBean *demo = tunnel(QStringLiteral("127.0.0.1"), QStringLiteral("18000"));
        QVERIFY(demo);
        m_demoPort = demo->public_port().toUShort();
        // The service is (re)started by the window; the page arrives through
        // the provider's public port once it has logged in.
        QByteArray page;
        QTRY_VERIFY_WITH_TIMEOUT(
            (page = visit(m_demoPort, "GET / HTTP/1.1\r\nHost: x\r\n\r\n", "</html>"))
                .contains("Hi,"),
            20000);
        QVERIFY2(page.contains(g_userId.toUtf8()), page.constData());
    }

    void checkPageShowsBothEndsReachable()
    {
        QVERIFY(m_window);
        const TunnelBean *demo = tunnel(QStringLiteral("127.0.0.1"), QStringLiteral("18000"));
        QVERIFY(demo);
        for (TunnelWidget *card : m_window->findChildren<TunnelWidget *>())
            if (card->tunnelBean() == demo)
                card->findChild<QPushButton *>("pushButton_3")->click(); // "检测"
        QCOMPARE(m_window->findChild<QStackedWidget *>("stackedWidget")->currentIndex(), 7);
        auto *local = m_window->findChild<QLabel *>("jc_nw_result");
        auto *remote = m_window->findChild<QLabel *>("jc_ww_result");
        QTRY_VERIFY_WITH_TIMEOUT(remote->text().startsWith(QStringLiteral("已成功连接到：")), 8000);
        QVERIFY2(local->text().startsWith(QStringLiteral("已成功连接到：")),
                 qPrintable(local->text()));
    }

    void createdTunnelWorksAfterTheConfirmedRestart()
    {
        QVERIFY(m_window);
        QTcpServer application; // echoes what a visitor sends
        QVERIFY(application.listen(QHostAddress::LocalHost));
        connect(&application, &QTcpServer::newConnection, &application, [&application] {
            QTcpSocket *peer = application.nextPendingConnection();
            connect(peer, &QTcpSocket::readyRead, peer, [peer] { peer->write(peer->readAll()); });
        });

        m_window->showPage(QStringLiteral("创建映射"));
        m_window->findChild<QLineEdit *>("create_name")->setText(QStringLiteral("回显服务 e2e"));
        m_window->findChild<QLineEdit *>("create_dst_address")
            ->setText(QStringLiteral("127.0.0.1"));
        m_window->findChild<QLineEdit *>("create_dst_port")
            ->setText(QString::number(application.serverPort()));
        m_questions.clear();
        m_window->findChild<QPushButton *>("btn_save1")->click();
        QTRY_VERIFY(m_questions.contains(QStringLiteral("操作提示")));

        const TunnelBean *created =
            tunnel(QStringLiteral("127.0.0.1"), QString::number(application.serverPort()));
        QVERIFY(created);
        const quint16 port = created->public_port().toUShort();
        QTRY_VERIFY_WITH_TIMEOUT(visit(port, "ping-through-the-tunnel", "tunnel") ==
                                     QByteArray("ping-through-the-tunnel"),
                                 20000);
    }

    void logoutStopsTheServiceAndThePublicPortRefuses()
    {
        QVERIFY(m_window);
        m_window->findChild<QPushButton *>("exit_login_btn")->click();
        QVERIFY(m_questions.contains(QStringLiteral("退出提示")));
        QPointer<MainDialog> window(m_window.release()); // goes for good
        QTRY_VERIFY_WITH_TIMEOUT(refuses(m_demoPort), 10000);
        QTRY_VERIFY(window.isNull());
    }

private:
    const TunnelBean *tunnel(const QString &address, const QString &port) const
    {
        for (const TunnelWidget *card : m_window->findChildren<TunnelWidget *>())
            if (const TunnelBean *bean = card->tunnelBean();
                bean && bean->dst_address() == address && bean->dst_port() == port)
                return bean;
        return nullptr;
    }

    QTemporaryDir m_dir;
    ProviderProcess m_provider;
    QTimer m_answers;
    QStringList m_questions;
    std::unique_ptr<LoginDialog> m_login;
    std::unique_ptr<MainDialog> m_window;
    quint16 m_demoPort = 0;
};

QTEST_MAIN(TestTunnelThroughTheClient)
#include "tst_tunnel_client.moc"
