// Signing in through the login dialog's widgets against the real stand-in
// provider, as a user of scripts/run does.
#include "app/globals.h"
#include "dialogs/mymsgdialog.h"
#include "login/logindialog.h"
#include "main/maindialog.h"
#include "platform/platform.h"
#include "support/fakecommand.h"
#include "support/providerprocess.h"
#include "support/testenv.h"
#include "tunnels/ctparamwidget.h"
#include "tunnels/tunnelwidget.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

std::unique_ptr<MainDialog> takeMainDialog()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *main = qobject_cast<MainDialog *>(widget))
            return std::unique_ptr<MainDialog>(main);
    return nullptr;
}

void typeAndSubmit(LoginDialog &dialog, const QString &user, const QString &password)
{
    auto *name = dialog.findChild<QLineEdit *>(QStringLiteral("lineEdit"));
    auto *pass = dialog.findChild<QLineEdit *>(QStringLiteral("lineEdit_2"));
    name->clear();
    pass->clear();
    QTest::keyClicks(name, user);
    QTest::keyClicks(pass, password);
    QTest::keyClick(pass, Qt::Key_Return);
}

} // namespace

class TestSignInEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        initTestEnvironment();
        QVERIFY(m_dir.isValid());
        QVERIFY2(m_provider.start(m_dir.filePath(QStringLiteral("provider.db")), {}, true),
                 m_provider.output().constData());
        g_apiBaseUrl = m_provider.base();
        g_webBaseUrl = m_provider.base();
        // The window opened after sign-in restarts the service; a fake tool
        // keeps the real stand-in service out of this test.
        platform::Overrides overrides;
        overrides.serviceControlProgram = m_sc.program();
        platform::setOverrides(overrides);
    }

    void wrongPasswordShowsTheProvidersReason()
    {
        LoginDialog dialog;
        dialog.show();
        QCOMPARE(dialog.findChild<QLabel *>("label_connect_state")->text(), QString());
        QString shown;
        // Answers the message dialog once it runs; polling, since the dialog
        // opens inside the login call's own wait.
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&shown, &poll] {
            auto *message = qobject_cast<MyMsgDialog *>(QApplication::activeModalWidget());
            if (!message)
                return;
            poll.stop();
            shown = message->findChild<QLabel *>("label_2")->text();
            message->findChild<QPushButton *>("btn_ok")->click();
        });
        poll.start(20);
        typeAndSubmit(dialog, QStringLiteral("demo"), QStringLiteral("not-the-password"));
        QVERIFY(!shown.isEmpty());
        QVERIFY(shown != QStringLiteral("您当前网络或环境未初始化，请重新登录！"));
        QVERIFY(dialog.isVisible());
        QVERIFY(!takeMainDialog());
    }

    void demoAccountSignsInAndSeesItsTunnels()
    {
        // The demo account has an unread message: its prompt may open while
        // the main window is still being built, and is declined.
        QTimer decline;
        connect(&decline, &QTimer::timeout, [] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            auto *button = modal->findChild<QPushButton *>("btn_cance");
            if (!button)
                button = modal->findChild<QPushButton *>("btn_ok");
            if (button)
                button->click();
        });
        decline.start(20);
        LoginDialog dialog;
        dialog.show();
        typeAndSubmit(dialog, QStringLiteral("demo"), QStringLiteral("demo1234"));

        // What the provider saw.
        const QString log = QString::fromUtf8(m_provider.output());
        QVERIFY2(log.contains(QStringLiteral("POST /ClientUserAction login -> 200")),
                 qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("POST /ClientTunnelAction list -> 200")),
                 qPrintable(log));

        // The sign-in values come from the provider's reply.
        QCOMPARE(g_userName, QStringLiteral("demo"));
        QCOMPARE(g_password, QStringLiteral("demo1234"));
        QVERIFY(!g_userId.isEmpty());
        QCOMPARE(g_num, QStringLiteral("5"));
        QCOMPARE(g_clientIp, QStringLiteral("127.0.0.1"));
        QVERIFY(
            QDateTime::fromString(g_expireTime, QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid());

        QSettings store(platform::credentialStorePath(), QSettings::IniFormat);
        QCOMPARE(store.value("server/user").toString(), QStringLiteral("demo"));
        QCOMPARE(store.value("server/pass").toString(), QStringLiteral("demo1234"));
        QCOMPARE(store.value("server/userId").toString(), g_userId);

        // The hand-over: the login dialog hides, the main window lists the
        // demo account's two tunnels.
        QVERIFY(!dialog.isVisible());
        std::unique_ptr<MainDialog> window = takeMainDialog();
        QVERIFY(window);
        QVERIFY(window->isVisible());
        const auto cards = window->findChildren<TunnelWidget *>();
        QCOMPARE(cards.size(), 2);
        const auto tiles = window->findChild<QWidget *>("page")->findChildren<CTParamWidget *>();
        QVERIFY(!tiles.isEmpty());
        QCOMPARE(tiles.first()->findChild<QLabel *>("label")->text(), QStringLiteral("2/5"));
        // The service is queried and, when not running, started.
        QVERIFY(m_sc.runCount() >= 1);
        QCOMPARE(m_sc.invocations().first(), (QStringList{"query", g_serviceName}));
    }

private:
    QTemporaryDir m_dir;
    ProviderProcess m_provider;
    FakeCommand m_sc{QStringLiteral("sc")};
};

QTEST_MAIN(TestSignInEndToEnd)
#include "tst_signin_e2e.moc"
