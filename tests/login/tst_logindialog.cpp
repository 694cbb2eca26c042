// The login dialog driven through its widgets against a fake provider.
#include "app/globals.h"
#include "app/messagefilter.h"
#include "app/myoperatorutil.h"
#include "dialogs/msgtipwidget.h"
#include "dialogs/mymsgdialog.h"
#include "login/logindialog.h"
#include "main/maindialog.h"
#include "platform/platform.h"
#include "support/browsersink.h"
#include "support/fakecommand.h"
#include "support/fakehttpserver.h"
#include "support/modalanswer.h"
#include "support/testenv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTcpServer>
#include <QtTest>

#include <memory>

namespace {

FakeHttpServer::Response reply(const QByteArray &body, int delayMs = 0)
{
    FakeHttpServer::Response response;
    response.body = body;
    response.delayMs = delayMs;
    return response;
}

QString text(QWidget *root, const char *name)
{
    if (auto *edit = root->findChild<QLineEdit *>(QLatin1String(name)))
        return edit->text();
    if (auto *label = root->findChild<QLabel *>(QLatin1String(name)))
        return label->text();
    if (auto *button = root->findChild<QPushButton *>(QLatin1String(name)))
        return button->text();
    return QStringLiteral("<no widget %1>").arg(QLatin1String(name));
}

QString newestToast(QWidget *dialog)
{
    const auto tips = dialog->findChildren<MsgTipWidget *>();
    return tips.isEmpty() ? QString() : text(tips.last(), "label_2");
}

// The login requests among everything the fake provider saw.
QList<FakeHttpServer::Request> loginRequests(const FakeHttpServer &server)
{
    QList<FakeHttpServer::Request> logins;
    for (const auto &request : server.requests())
        if (request.path == QStringLiteral("ClientUserAction") &&
            request.queryValue(QStringLiteral("method")) == QStringLiteral("login"))
            logins.append(request);
    return logins;
}

QList<MainDialog *> mainDialogs()
{
    QList<MainDialog *> found;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *main = qobject_cast<MainDialog *>(widget))
            found.append(main);
    return found;
}

} // namespace

class TestLoginDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        initTestEnvironment();
        m_browser.install({"http", "https"});
    }

    void init()
    {
        m_server.reset(new FakeHttpServer);
        QVERIFY(m_server->listen());
        m_server->setDefaultResponse(reply("{}")); // the start-up probe
        g_apiBaseUrl = m_server->baseUrl();
        g_webBaseUrl = QStringLiteral("https://web.example.test/");
        QFile::remove(platform::credentialStorePath());
        g_userId = g_userName = g_password = g_clientIp = QString();
        m_browser.urls.clear();
        // The main window opened by a successful login queries and restarts
        // the service: a fake tool stands in for it.
        platform::Overrides overrides;
        overrides.serviceControlProgram = m_sc.program();
        platform::setOverrides(overrides);
    }

    void cleanup() { qDeleteAll(mainDialogs()); }

    void startsWithTheSavedAccountAndAReachableHost()
    {
        {
            MyOperatorUtil store;
            store.setValue(QStringLiteral("server/user"), QStringLiteral("saved"));
            store.setValue(QStringLiteral("server/pass"), QStringLiteral("savedpw"));
        }
        LoginDialog dialog;
        QCOMPARE(text(&dialog, "lineEdit"), QStringLiteral("saved"));
        QCOMPARE(text(&dialog, "lineEdit_2"), QStringLiteral("savedpw"));
        QCOMPARE(text(&dialog, "label_connect_state"), QString());
        QCOMPARE(text(&dialog, "loginBtn"), QStringLiteral("点击登录"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Tessaro登录"));
        QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(dialog.size(), QSize(800, 550));
        // The probe is a GET on the API base URL.
        QCOMPARE(m_server->requests().first().method, QByteArray("GET"));
    }

    void noStoreGivesEmptyFields()
    {
        LoginDialog dialog;
        QCOMPARE(text(&dialog, "lineEdit"), QString());
        QCOMPARE(text(&dialog, "lineEdit_2"), QString());
    }

    void unreachableOrFailingHostShowsTheNetworkWarning_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("refused") << 0;
        QTest::newRow("server error") << 1;
        QTest::newRow("never answers") << 2;
    }

    void unreachableOrFailingHostShowsTheNetworkWarning()
    {
        QFETCH(int, kind);
        if (kind == 0) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            g_apiBaseUrl = QStringLiteral("http://127.0.0.1:%1/").arg(probe.serverPort());
        } else {
            FakeHttpServer::Response response;
            response.status = 500;
            response.neverAnswer = kind == 2;
            m_server->setDefaultResponse(response);
        }
        QElapsedTimer clock;
        clock.start();
        LoginDialog dialog;
        QVERIFY2(clock.elapsed() < 6500, "the probe must give up after 5 s");
        QCOMPARE(text(&dialog, "label_connect_state"),
                 QStringLiteral("网络异常，请检查此电脑是否可以正常联网"));
        // The dialog still works: an empty name is still caught.
        dialog.findChild<QPushButton *>("loginBtn")->click();
        QCOMPARE(newestToast(&dialog), QStringLiteral("请填写登录名"));
    }

    void emptyFieldsAskForInputAndMoveTheFocus()
    {
        LoginDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        auto *name = dialog.findChild<QLineEdit *>("lineEdit");
        auto *password = dialog.findChild<QLineEdit *>("lineEdit_2");
        password->setFocus();

        QTest::keyClick(&dialog, Qt::Key_Return);
        QCOMPARE(newestToast(&dialog), QStringLiteral("请填写登录名"));
        QTRY_VERIFY(name->hasFocus());

        name->setText(QStringLiteral("bob"));
        QTest::keyClick(&dialog, Qt::Key_Enter);
        QCOMPARE(newestToast(&dialog), QStringLiteral("请填写密码"));
        QTRY_VERIFY(password->hasFocus());
        QCOMPARE(dialog.findChildren<MsgTipWidget *>().size(), 2);
        QCOMPARE(dialog.findChildren<MsgTipWidget *>().last()->pos(), QPoint(300, 2));
        QCOMPARE(m_server->requestCount(), 1); // the probe only

        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible()); // Escape does not close it

        // Whatever widget Tab reaches, Return there signs in and never closes
        // the dialog (a focused dialog button would take it otherwise).
        name->clear();
        QWidget *widget = name;
        do {
            if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisibleTo(&dialog)) {
                widget->setFocus();
                const int toasts = dialog.findChildren<MsgTipWidget *>().size();
                QTest::keyClick(widget, Qt::Key_Return);
                QVERIFY2(dialog.isVisible(), qPrintable(widget->objectName()));
                QCOMPARE(dialog.findChildren<MsgTipWidget *>().size(), toasts + 1);
            }
            widget = widget->nextInFocusChain();
        } while (widget != name);
        QCOMPARE(m_server->requestCount(), 1);
    }

    void userNameStopsAtTwentyCharacters()
    {
        LoginDialog dialog;
        auto *name = dialog.findChild<QLineEdit *>("lineEdit");
        QTest::keyClicks(name, QStringLiteral("abcdefghijklmnopqrstu"));
        QCOMPARE(name->text(), QStringLiteral("abcdefghijklmnopqrst"));
        QCOMPARE(dialog.findChild<QLineEdit *>("lineEdit_2")->echoMode(), QLineEdit::Password);
    }

    void successfulLoginFillsTheAccountAndOpensTheMainWindow()
    {
        m_server->setResponse(
            QStringLiteral("ClientUserAction?method=login"),
            reply(
                QJsonDocument(QJsonObject{{"code", 1},
                                          {"clientIp", "203.0.113.9"},
                                          {"data", QJsonObject{{"userId", "1001"},
                                                               {"username", "alice"},
                                                               {"password", "server-side"},
                                                               {"user_type", "高级版"},
                                                               {"name", "Alice"},
                                                               {"num", "5"},
                                                               {"daoqitime", "2027-01-01 00:00:00"},
                                                               {"daikuan", "4"},
                                                               {"stime", "2026-01-01 08:00:00"},
                                                               {"touxiang", "http://x/a.png"},
                                                               {"clientIp", "10.9.9.9"}}}})
                    .toJson()));
        LoginDialog dialog;
        dialog.show();
        dialog.findChild<QLineEdit *>("lineEdit")->setText(QStringLiteral(" alice "));
        dialog.findChild<QLineEdit *>("lineEdit_2")->setText(QStringLiteral("typed&pw=1"));
        dialog.findChild<QPushButton *>("loginBtn")->click();

        QCOMPARE(loginRequests(*m_server).size(), 1);
        const auto login = loginRequests(*m_server).first();
        QCOMPARE(login.method, QByteArray("POST"));
        QCOMPARE(login.path, QStringLiteral("ClientUserAction"));
        QCOMPARE(login.header("content-type"), QByteArray("application/json"));
        QCOMPARE(login.queryKeys(), (QStringList{"method", "username", "password", "c_version"}));
        QCOMPARE(login.queryValue("method"), QStringLiteral("login"));
        QCOMPARE(login.queryValue("username"), QStringLiteral(" alice "));    // not trimmed
        QCOMPARE(login.queryValue("password"), QStringLiteral("typed&pw=1")); // arrives whole
        QCOMPARE(login.queryValue("c_version"), QStringLiteral("8.9.8"));

        QCOMPARE(g_userId, QStringLiteral("1001"));
        QCOMPARE(g_userName, QStringLiteral("alice"));
        QCOMPARE(g_password, QStringLiteral("server-side")); // the reply's, not the typed one
        QCOMPARE(g_userType, QStringLiteral("高级版"));
        QCOMPARE(g_name, QStringLiteral("Alice"));
        QCOMPARE(g_num, QStringLiteral("5"));
        QCOMPARE(g_expireTime, QStringLiteral("2027-01-01 00:00:00"));
        QCOMPARE(g_bandwidth, QStringLiteral("4"));
        QCOMPARE(g_startTime, QStringLiteral("2026-01-01 08:00:00"));
        QCOMPARE(g_avatar, QStringLiteral("http://x/a.png"));
        QCOMPARE(g_clientIp, QStringLiteral("203.0.113.9")); // top level, not data

        QSettings store(platform::credentialStorePath(), QSettings::IniFormat);
        QCOMPARE(store.value("server/user").toString(), QStringLiteral("alice"));
        QCOMPARE(store.value("server/pass").toString(), QStringLiteral("server-side"));
        QCOMPARE(store.value("server/userId").toString(), QStringLiteral("1001"));

        QVERIFY(!dialog.isVisible());
        QCOMPARE(text(&dialog, "loginBtn"), QStringLiteral("登录成功"));
        QVERIFY(dialog.findChild<QPushButton *>("loginBtn")->isEnabled());
        QCOMPARE(newestToast(&dialog), QStringLiteral("登录成功，跳转中..."));
        const auto mains = mainDialogs();
        QCOMPARE(mains.size(), 1);
        QVERIFY(mains.first()->isVisible());
        QCOMPARE(mains.first()->windowTitle(), QStringLiteral(" Tessaro"));
        QCOMPARE(mains.first()->size(), QSize(800, 550));
    }

    void loginWithoutDataStoresEmptyValuesAndKeepsClientIp()
    {
        g_userName = QStringLiteral("previous");
        m_server->setResponse(QStringLiteral("ClientUserAction?method=login"),
                              reply(R"({"code":1,"clientIp":"198.51.100.2"})"));
        LoginDialog dialog;
        dialog.findChild<QLineEdit *>("lineEdit")->setText(QStringLiteral("u"));
        dialog.findChild<QLineEdit *>("lineEdit_2")->setText(QStringLiteral("p"));
        dialog.findChild<QPushButton *>("loginBtn")->click();
        QCOMPARE(g_userName, QString());
        QCOMPARE(g_clientIp, QStringLiteral("198.51.100.2"));
        QSettings store(platform::credentialStorePath(), QSettings::IniFormat);
        QVERIFY(store.contains("server/user"));
        QCOMPARE(store.value("server/user").toString(), QString());
        QCOMPARE(mainDialogs().size(), 1);
    }

    void failedLoginShowsTheReasonTwiceAndKeepsTheFields_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<QString>("shown");
        QTest::newRow("server message") << QByteArray(R"({"code":0,"msg":"用户名或密码错误"})") << 0
                                        << QStringLiteral("用户名或密码错误");
        QTest::newRow("code as a string")
            << QByteArray(R"({"code":"1","msg":"坏的代码","data":{"username":"x"}})") << 0
            << QStringLiteral("坏的代码");
        QTest::newRow("empty message") << QByteArray(R"({"code":2,"msg":""})") << 0
                                       << QStringLiteral("您当前网络或环境未初始化，请重新登录！");
        QTest::newRow("not JSON") << QByteArray("oops") << 0
                                  << QStringLiteral("您当前网络或环境未初始化，请重新登录！");
        QTest::newRow("time-out") << QByteArray(R"({"code":1})") << 3000
                                  << QStringLiteral("连接超时");
    }

    void failedLoginShowsTheReasonTwiceAndKeepsTheFields()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, delayMs);
        QFETCH(QString, shown);
        m_server->setResponse(QStringLiteral("ClientUserAction?method=login"),
                              reply(body, delayMs));
        LoginDialog dialog;
        dialog.show();
        dialog.findChild<QLineEdit *>("lineEdit")->setText(QStringLiteral("bob"));
        dialog.findChild<QLineEdit *>("lineEdit_2")->setText(QStringLiteral("wrong"));

        QString dialogText, dialogTitle;
        bool wasMsgDialog = false;
        answerNextModal("btn_ok", [&](QWidget *modal) {
            wasMsgDialog = qobject_cast<MyMsgDialog *>(modal) != nullptr;
            dialogText = text(modal, "label_2");
            dialogTitle = modal->windowTitle();
        });
        dialog.findChild<QPushButton *>("loginBtn")->click();

        QVERIFY(wasMsgDialog);
        QCOMPARE(dialogTitle, QStringLiteral("操作提示"));
        QCOMPARE(dialogText, shown);
        QCOMPARE(newestToast(&dialog), shown);
        QCOMPARE(text(&dialog, "loginBtn"), QStringLiteral("点击登录"));
        QVERIFY(dialog.findChild<QPushButton *>("loginBtn")->isEnabled());
        QCOMPARE(text(&dialog, "lineEdit"), QStringLiteral("bob"));
        QCOMPARE(text(&dialog, "lineEdit_2"), QStringLiteral("wrong"));
        QVERIFY(dialog.isVisible());
        QVERIFY(mainDialogs().isEmpty());
        QCOMPARE(g_userName, QString());
        QVERIFY(!QSettings(platform::credentialStorePath(), QSettings::IniFormat)
                     .contains("server/user"));
    }

    void returnDuringAPendingLoginStartsNoSecondRequest()
    {
        m_server->setResponse(QStringLiteral("ClientUserAction?method=login"),
                              reply(R"({"code":1,"data":{"username":"bob"}})", 800));
        LoginDialog dialog;
        dialog.show();
        dialog.findChild<QLineEdit *>("lineEdit")->setText(QStringLiteral("bob"));
        dialog.findChild<QLineEdit *>("lineEdit_2")->setText(QStringLiteral("pw"));
        QString textWhileWaiting;
        bool enabledWhileWaiting = true;
        QTimer::singleShot(300, &dialog, [&] {
            textWhileWaiting = text(&dialog, "loginBtn");
            enabledWhileWaiting = dialog.findChild<QPushButton *>("loginBtn")->isEnabled();
            QTest::keyClick(&dialog, Qt::Key_Return);
            QTest::keyClick(&dialog, Qt::Key_Enter);
        });
        dialog.findChild<QPushButton *>("loginBtn")->click();
        QCOMPARE(textWhileWaiting, QStringLiteral("正在登录中..."));
        QVERIFY(!enabledWhileWaiting);
        QTest::qWait(300);
        QCOMPARE(loginRequests(*m_server).size(), 1);
        QCOMPARE(mainDialogs().size(), 1);
    }

    void linkLabelsOpenTheAccountPages()
    {
        LoginDialog dialog;
        dialog.show();
        QTest::mouseClick(dialog.findChild<QLabel *>("forgetPass"), Qt::RightButton);
        QTest::mouseClick(dialog.findChild<QLabel *>("register_2"), Qt::LeftButton);
        QCOMPARE(m_browser.urls.size(), 2);
        QCOMPARE(m_browser.urls.at(0), QUrl("https://web.example.test/forget/index.html"));
        QCOMPARE(m_browser.urls.at(1), QUrl("https://web.example.test/register/index.html"));
    }

    void closeButtonClosesTheDialog()
    {
        LoginDialog dialog;
        dialog.show();
        dialog.findChild<QPushButton *>("closeBtn")->click();
        QVERIFY(!dialog.isVisible());
    }

    // Neither the saved password's debug line nor Qt's own warning about a
    // link no program could open (no browser, as on a server) shows it.
    void passwordNeverReachesAnyOutput()
    {
        static QStringList messages;
        messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &text) { messages << text; });
        installSecretFilter(); // as the program's entry does, in front of the capture

        const QString secret = QStringLiteral("pw&Secret9");
        MyOperatorUtil store;
        store.setValue(QStringLiteral("server/user"), QStringLiteral("bob"));
        store.setValue(QStringLiteral("server/pass"), secret);
        {
            LoginDialog dialog;
        }

        const QString webBase = g_webBaseUrl;
        g_webBaseUrl = QStringLiteral("ftp://web.example.test/"); // no handler: openUrl fails
        g_userId = QStringLiteral("7");
        g_password = secret;
        MyOperatorUtil::jumpToPage(QStringLiteral("ticket"));
        g_webBaseUrl = webBase;
        g_password.clear();
        qInstallMessageHandler(previous);

        const QString all = messages.join(QLatin1Char('\n'));
        QVERIFY2(!all.contains(QLatin1String("Secret9")), qPrintable(all));
        QVERIFY2(all.contains(QLatin1String("iniConfigFile cfg_pass=***")), qPrintable(all));
        QVERIFY2(all.contains(QLatin1String("web.example.test/ClientAction?userid=7&password=***")),
                 qPrintable(all));
    }

private:
    QScopedPointer<FakeHttpServer> m_server;
    BrowserSink m_browser;
    FakeCommand m_sc{QStringLiteral("sc")};
};

QTEST_MAIN(TestLoginDialog)
#include "tst_logindialog.moc"
