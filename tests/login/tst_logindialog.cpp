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
#include "support/clientprocess.h"
#include "support/fakecommand.h"
#include "support/fakehttpserver.h"
#include "support/modalanswer.h"
#include "support/testenv.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
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

FakeHttpServer::Response loginReply(const QString &userName, const QString &userId,
                                    const QString &avatar = QString())
{
    return reply(QJsonDocument(QJsonObject{{"code", 1},
                                           {"data", QJsonObject{{"userId", userId},
                                                                {"username", userName},
                                                                {"password", "pw"},
                                                                {"touxiang", avatar}}}})
                     .toJson());
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// The test web server's page at 127.0.0.1:port, empty when nothing answers.
QByteArray webPage(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QByteArray page;
    QElapsedTimer clock;
    clock.start();
    bool sent = false;
    while (clock.elapsed() < 3000 && !page.contains("</html>")) {
        if (!sent && socket.state() == QAbstractSocket::ConnectedState)
            sent = socket.write("GET / HTTP/1.1\r\nHost: x\r\n\r\n") > 0;
        if (socket.state() == QAbstractSocket::UnconnectedState)
            break;
        QTest::qWait(10);
        page += socket.readAll();
    }
    return page;
}

// The service tool's verbs (start, stop, query) from run `from` on.
QStringList serviceVerbs(const FakeCommand &sc, int from)
{
    QStringList verbs;
    const QList<QStringList> runs = sc.invocations();
    for (int i = from; i < runs.size(); ++i)
        verbs << runs.at(i).value(0);
    return verbs;
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

    void accountThatCannotBeStoredStopsTheSignIn()
    {
        // The service learns the account only from the store: without it, the
        // main window would restart the service with someone else's account.
        const QString store = platform::credentialStorePath();
        QVERIFY(QDir().mkpath(store)); // a folder where the file should be
        m_server->setResponse(
            QStringLiteral("ClientUserAction?method=login"),
            reply(R"({"code":1,"data":{"userId":"7","username":"carol","password":"pw"}})"));
        const int scRuns = m_sc.runCount();
        LoginDialog dialog;
        dialog.show();
        dialog.findChild<QLineEdit *>("lineEdit")->setText(QStringLiteral("carol"));
        dialog.findChild<QLineEdit *>("lineEdit_2")->setText(QStringLiteral("pw"));
        QString shown;
        answerNextModal("btn_ok", [&](QWidget *modal) { shown = text(modal, "label_2"); });
        dialog.findChild<QPushButton *>("loginBtn")->click();
        QDir(store).removeRecursively();

        QVERIFY2(shown.startsWith(QStringLiteral("账户信息无法保存到")), qPrintable(shown));
        QVERIFY(dialog.isVisible());
        QCOMPARE(text(&dialog, "loginBtn"), QStringLiteral("点击登录"));
        QVERIFY(mainDialogs().isEmpty());
        const QStringList verbs = serviceVerbs(m_sc, scRuns);
        QVERIFY2(!verbs.contains(QStringLiteral("start")) &&
                     !verbs.contains(QStringLiteral("stop")),
                 qPrintable(verbs.join(QLatin1Char(' '))));
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

    // With the real event loop: minimised, the client outlives every
    // question and window closed meanwhile, and ends only on a confirmed exit
    // once no other window is open. Without a tray (as here) the window goes
    // to the task bar rather than out of reach.
    void minimisedClientEndsOnlyOnAConfirmedExit()
    {
        // The account's message is open when the window is minimised
        // (commands reach the windows behind a question, as the tray does).
        m_server->setResponse(QStringLiteral("ClientUserAction?method=getmsg"),
                              reply(R"({"code":1,"msg":"news","page":"x"})"));
        ClientProcess client;
        QVERIFY(startClient(client));
        QVERIFY(signIn(client, "alice"));
        QTRY_COMPARE_WITH_TIMEOUT(modalTitle(client), QStringLiteral("消息提示"), 10000);
        QCOMPARE(client.command("click MainDialog label_min"), QByteArray("ok click"));
        QVERIFY(client.shows(QStringLiteral("MainDialog")));
        QVERIFY(minimised(client));
        client.command("answer btn_cance");
        QTRY_VERIFY(modalTitle(client).isEmpty());
        QVERIFY2(stillRuns(client), "ended by the answered message");
        client.command("answer btn_cance");
        QCOMPARE(client.command("tray 关闭客户端界面"), QByteArray("ok tray"));
        QVERIFY2(stillRuns(client), "ended by the declined exit");
        client.command("answer btn_cance");
        QCOMPARE(client.command("tray 退出账号和关闭服务"), QByteArray("ok tray"));
        QVERIFY2(stillRuns(client), "ended by the declined logout");
        client.command("tray 打开");
        QVERIFY(!minimised(client));
        client.command("click MainDialog btn_local_check");
        client.command("click MainDialog label_min");
        QCOMPARE(client.command("click CheckBoxFrame closeBtn"), QByteArray("ok click"));
        QVERIFY2(stillRuns(client), "ended by the closed toolbox");
        QCOMPARE(client.state().value(QStringLiteral("trayIcons")).toInt(), 1);
        QVERIFY(minimised(client));

        // Shown again, exited with a toolbox open: the toolbox keeps the
        // program until it is closed too.
        QCOMPARE(client.command("tray 打开"), QByteArray("ok tray"));
        QVERIFY(client.shows(QStringLiteral("MainDialog")));
        QVERIFY(!minimised(client));
        client.command("click MainDialog btn_local_check");
        client.command("answer btn_ok");
        QCOMPARE(client.command("click MainDialog label_close"), QByteArray("ok click"));
        QVERIFY(stillRuns(client));
        QVERIFY(!client.shows(QStringLiteral("MainDialog")));
        client.command("click CheckBoxFrame closeBtn");
        QVERIFY(client.waitForExit(5000));
        QCOMPARE(client.exitCode(), 0);
    }

    // After a logout and a new sign-in only the new account's window is
    // left: its test web server has port 18000's stand-in, there is one tray
    // icon, and the old window's delayed restart never runs.
    void logoutReleasesTheWindowForTheNextSignIn()
    {
        ClientProcess client;
        QVERIFY(startClient(client));
        QVERIFY(signIn(client, "alice"));
        QVERIFY(webPage(m_webPort).contains("Hi,1001"));

        client.command("answer btn_ok");
        QCOMPARE(client.command("click MainDialog exit_login_btn"), QByteArray("ok click"));
        const int afterLogout = m_sc.runCount();
        QVERIFY(client.shows(QStringLiteral("LoginDialog")));
        QTRY_COMPARE(client.state().value(QStringLiteral("mainWindows")).toInt(), 0);
        QVERIFY(webPage(m_webPort).isEmpty());
        // Later than the restart a sign-in ends with.
        QTest::qWait(MainDialog::RestartDelayMs + 500);
        QVERIFY2(!serviceVerbs(m_sc, afterLogout).contains(QStringLiteral("start")),
                 qPrintable(serviceVerbs(m_sc, afterLogout).join(QLatin1Char(' '))));

        QVERIFY(signIn(client, "bob"));
        const QJsonObject state = client.state();
        QCOMPARE(state.value(QStringLiteral("mainWindows")).toInt(), 1);
        QCOMPARE(state.value(QStringLiteral("trayIcons")).toInt(), 1);
        QVERIFY(webPage(m_webPort).contains("Hi,2002"));

        // Signed out again, closing the only login dialog ends the program.
        client.command("answer btn_ok");
        client.command("click MainDialog exit_login_btn");
        QCOMPARE(client.command("click LoginDialog closeBtn"), QByteArray("ok click"));
        QVERIFY(client.waitForExit(5000));
        QCOMPARE(client.exitCode(), 0);
    }

    // One client per user session. A second start brings the running
    // client's window forward (also out of the task bar) and ends with 0: no
    // login of its own, no tray icon, no restart. Another session has its
    // own client, and a killed client stops no later start.
    void secondStartBringsTheRunningClientForward()
    {
        auto first = std::make_unique<ClientProcess>();
        QVERIFY(startClient(*first));
        const ClientProcess::Setup setup{m_server->baseUrl(), m_sc.program(), m_childStore,
                                         m_webPort};
        QVERIFY(signIn(*first, "alice"));
        first->command("answer btn_cance"); // the account's message
        QCOMPARE(first->command("click MainDialog label_min"), QByteArray("ok click"));
        QVERIFY(minimised(*first));
        QTest::qWait(MainDialog::RestartDelayMs + 1500); // the sign-in's restart is over
        const int scRuns = m_sc.runCount();
        const int logins = m_server->requests().size();

        ClientProcess second;
        QVERIFY(!second.start(setup, 20000));
        QVERIFY(second.waitForExit(5000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(first->shows(QStringLiteral("MainDialog")));
        QVERIFY(!minimised(*first));
        const QJsonObject state = first->state();
        QCOMPARE(state.value(QStringLiteral("trayIcons")).toInt(), 1);
        QCOMPARE(state.value(QStringLiteral("mainWindows")).toInt(), 1);
        const QStringList verbs = serviceVerbs(m_sc, scRuns);
        QVERIFY2(!verbs.contains(QStringLiteral("start")) &&
                     !verbs.contains(QStringLiteral("stop")),
                 qPrintable(verbs.join(QLatin1Char(' '))));
        QCOMPARE(m_server->requests().size(), logins);
        QVERIFY(webPage(m_webPort).contains("Hi,1001"));

        first.reset(); // killed, as by a crash
        auto next = std::make_unique<ClientProcess>();
        QVERIFY(next->start(setup));
        QVERIFY(next->shows(QStringLiteral("LoginDialog")));

#ifndef Q_OS_WIN
        // Another session of the user has a client of its own. (Windows tells
        // sessions and users apart by session number and account, which one
        // Wine prefix cannot vary.)
        ClientProcess::Setup otherSession = setup;
        otherSession.webPort = freePort();
        ClientProcess other;
        other.addEnvironment(QStringLiteral("XDG_SESSION_ID=tessaro-test-other"));
        QVERIFY(other.start(otherSession));

        // Killed again, and its lock now names a process that lives and is
        // a client, but listens nowhere for this session: as when Windows
        // has handed the crashed client's process number out again.
        next.reset();
        const QString ownLock = platform::clientInstanceAddress().lockPath;
        const QByteArray session = qgetenv("XDG_SESSION_ID");
        qputenv("XDG_SESSION_ID", "tessaro-test-other");
        const QString otherLock = platform::clientInstanceAddress().lockPath;
        session.isNull() ? qunsetenv("XDG_SESSION_ID") : qputenv("XDG_SESSION_ID", session);
        QFile::remove(ownLock);
        QVERIFY(QFile::copy(otherLock, ownLock));
        ClientProcess afterReuse;
        QVERIFY(afterReuse.start(setup));
        QVERIFY(afterReuse.shows(QStringLiteral("LoginDialog")));
#endif
    }

    // Signing in and out again and again leaves nothing behind: no hidden
    // login dialogs, no hidden tips, no windows of earlier accounts.
    void signInCyclesLeaveNothingBehind()
    {
        m_server->setResponse(
            QStringLiteral("ClientTunnelAction?method=list"),
            reply(R"({"code":0,"data":[{"id":"1","name":"nas","domain":"d.example.test",)"
                  R"("public_port":"40001","dst_address":"127.0.0.1","dst_port":"5000"}]})"));
        ClientProcess client;
        QVERIFY(startClient(client));
        QList<int> widgets;
        for (int cycle = 1; cycle <= 4; ++cycle) {
            QVERIFY(signIn(client, "alice"));
            // A copy from the tunnel card, with its tip.
            QCOMPARE(client.command("click MainDialog pushButton_2"), QByteArray("ok click"));
            client.command("answer btn_ok");
            QCOMPARE(client.command("click MainDialog exit_login_btn"), QByteArray("ok click"));
            QTRY_VERIFY(client.shows(QStringLiteral("LoginDialog")));
            if (cycle % 2)
                continue;
            // Past every tip's three seconds.
            QTest::qWait(3500);
            const QJsonObject state = client.state();
            QCOMPARE(state.value(QStringLiteral("mainWindows")).toInt(), 0);
            // The program's first login dialog, hidden, and the one shown.
            int logins = 0;
            for (const QJsonValue window : state.value(QStringLiteral("windows")).toArray())
                logins +=
                    window[QStringLiteral("class")].toString() == QLatin1String("LoginDialog");
            QCOMPARE(logins, 2);
            widgets << state.value(QStringLiteral("widgets")).toInt();
        }
        QCOMPARE(widgets.size(), 2);
        QCOMPARE(widgets.last(), widgets.first());
    }

    // A logout from the tray while the window still waits for its last API
    // call leaves it closed, and the service stays stopped for the emptied
    // account.
    void trayLogoutDuringTheBuildKeepsTheServiceStopped()
    {
        FakeHttpServer::Response coupons = reply(R"({"code":1,"amount":0})");
        coupons.delayMs = 1500;
        m_server->setResponse(QStringLiteral("ClientUserAction?method=getDaijinquanNum"), coupons);
        ClientProcess client;
        QVERIFY(startClient(client));
        client.command("type LoginDialog lineEdit alice");
        client.command("type LoginDialog lineEdit_2 pw");
        client.send("click LoginDialog loginBtn"); // returns once the window is built
        QTRY_VERIFY_WITH_TIMEOUT(requested(QStringLiteral("getDaijinquanNum")), 15000);

        client.command("answer btn_ok");
        QCOMPARE(client.command("tray 退出账号和关闭服务"), QByteArray("ok tray"));
        const int afterLogout = m_sc.runCount();
        // Past the coupon count and the restart a finished build arms.
        QTest::qWait(coupons.delayMs + MainDialog::RestartDelayMs + 1000);
        QVERIFY2(stillRuns(client), client.log().right(3000).constData());
        QVERIFY(client.shows(QStringLiteral("LoginDialog")));
        QVERIFY(!client.shows(QStringLiteral("MainDialog")));
        QVERIFY2(!serviceVerbs(m_sc, afterLogout).contains(QStringLiteral("start")),
                 qPrintable(serviceVerbs(m_sc, afterLogout).join(QLatin1Char(' '))));
        QSettings store(m_childStore, QSettings::IniFormat);
        QCOMPARE(store.value(QStringLiteral("server/user")).toString(), QString());
        QVERIFY(webPage(m_webPort).isEmpty());
        QTRY_COMPARE(client.state().value(QStringLiteral("mainWindows")).toInt(), 0);
    }

private:
    bool startClient(ClientProcess &client)
    {
        m_server->setResponse(QStringLiteral("ClientUserAction?method=login&username=alice"),
                              loginReply(QStringLiteral("alice"), QStringLiteral("1001")));
        m_server->setResponse(QStringLiteral("ClientUserAction?method=login&username=bob"),
                              loginReply(QStringLiteral("bob"), QStringLiteral("2002")));
        m_webPort = freePort();
        m_childStore = testHomePath() + QStringLiteral("/child/user.ini");
        QFile::remove(m_childStore);
        return client.start({m_server->baseUrl(), m_sc.program(), m_childStore, m_webPort});
    }

    static bool signIn(ClientProcess &client, const QByteArray &user)
    {
        client.command("type LoginDialog lineEdit " + user);
        client.command("type LoginDialog lineEdit_2 pw");
        return client.command("click LoginDialog loginBtn") == "ok click" &&
               client.shows(QStringLiteral("MainDialog"));
    }

    // Still running its event loop a moment later: an ending program answers
    // no more.
    static bool stillRuns(ClientProcess &client)
    {
        QTest::qWait(300);
        return client.isRunning() && !client.state(3000).isEmpty();
    }

    // Whether the visible main window is minimised.
    static bool minimised(ClientProcess &client)
    {
        for (const QJsonValue window : client.state().value(QStringLiteral("windows")).toArray())
            if (window[QStringLiteral("class")].toString() == QLatin1String("MainDialog") &&
                window[QStringLiteral("visible")].toBool())
                return window[QStringLiteral("minimized")].toBool();
        return false;
    }

    static QString modalTitle(ClientProcess &client)
    {
        return client.state().value(QStringLiteral("modal")).toString();
    }

    bool requested(const QString &method) const
    {
        for (const auto &request : m_server->requests())
            if (request.queryValue(QStringLiteral("method")) == method)
                return true;
        return false;
    }

    QScopedPointer<FakeHttpServer> m_server;
    BrowserSink m_browser;
    FakeCommand m_sc{QStringLiteral("sc")};
    quint16 m_webPort = 0;
    QString m_childStore;
};

QTEST_MAIN(TestLoginDialog)
#include "tst_logindialog.moc"
