// The account panel, its tiles, the personal centre and the three account
// calls (coupons, message prompt, announcement) of the main window, against a
// fake provider.
#include "app/globals.h"
#include "main/accountvalues.h"
#include "main/maindialog.h"
#include "platform/platform.h"
#include "support/browsersink.h"
#include "support/fakecommand.h"
#include "support/fakehttpserver.h"
#include "support/fakereplies.h"
#include "support/testenv.h"
#include "support/widgetlookup.h"
#include "support/windowfixture.h"
#include "tunnels/ctparamwidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QSysInfo>
#include <QUrlQuery>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

QString route(const char *method)
{
    return QStringLiteral("ClientUserAction?method=") + QLatin1String(method);
}

QString dateTimeDaysAgo(int days)
{
    return QDateTime(QDate::currentDate().addDays(-days), QTime(8, 30, 0))
        .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// Watches for modal dialogs: hands each to `answer`, which must close it.
class ModalWatcher : public QObject
{
public:
    explicit ModalWatcher(std::function<void(QWidget *)> answer) : m_answer(std::move(answer))
    {
        m_clock.start();
        connect(&m_poll, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || m_handled.contains(modal))
                return;
            m_handled.append(modal);
            seenAtMs.append(m_clock.elapsed());
            m_answer(modal);
        });
        m_poll.start(10);
    }
    QList<qint64> seenAtMs;

private:
    std::function<void(QWidget *)> m_answer;
    QList<QWidget *> m_handled;
    QElapsedTimer m_clock;
    QTimer m_poll;
};

void click(QWidget *dialog, const char *button)
{
    if (auto *answer = dialog->findChild<QPushButton *>(QLatin1String(button)))
        answer->click();
}

} // namespace

class TestAccountPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void daysSinceDate_data();
    void daysSinceDate();
    void bannerLink_data();
    void bannerLink();

    void panelTilesAndPersonalCentreShowTheAccount();
    void emptyAndFutureAccountValues();
    void accountCallsCarryTheAccount();
    void couponCount_data();
    void couponCount();
    void messagePrompt_data();
    void messagePrompt();
    void failedMessageShowsNothing_data();
    void failedMessageShowsNothing();
    void announcement_data();
    void announcement();

private:
    void makeWindow();
    qint64 arrivalMs(const char *method) const;

    template <typename T> T *child(const char *name) { return namedChild<T>(m_window.get(), name); }

    BrowserSink m_browser;
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<FakeCommand> m_sc;
    std::unique_ptr<MainDialog> m_window;
    QElapsedTimer m_sinceStart;
    QHash<QString, qint64> m_arrivals; // method -> ms after the window was started
};

void TestAccountPanel::initTestCase()
{
    initTestEnvironment();
    m_browser.install();
}

void TestAccountPanel::init()
{
    m_server = startFakeProvider();
    QVERIFY(m_server);
    connect(m_server.get(), &FakeHttpServer::requestReceived, this, [this] {
        const QString method = m_server->requests().last().queryValue(QStringLiteral("method"));
        if (!m_arrivals.contains(method))
            m_arrivals.insert(method, m_sinceStart.elapsed());
    });
    m_arrivals.clear();

    g_userId = QStringLiteral("10086");
    g_userName = QStringLiteral("alice");
    g_password = QStringLiteral("pw");
    g_userType = QStringLiteral("企业版");
    g_expireTime = QStringLiteral("2026-12-31 23:59:59");
    g_bandwidth = QStringLiteral("20");
    g_startTime = dateTimeDaysAgo(2);
    g_avatar = QString();
    g_clientIp = QStringLiteral("203.0.113.7");

    m_sc = runningServiceTool();
    platform::setOverrides(serviceOverrides(*m_sc));
    m_browser.urls.clear();
}

void TestAccountPanel::cleanup()
{
    m_window.reset();
    platform::clearOverrides();
}

void TestAccountPanel::makeWindow()
{
    m_sinceStart.start();
    m_window = std::make_unique<MainDialog>(nullptr);
}

qint64 TestAccountPanel::arrivalMs(const char *method) const
{
    return m_arrivals.value(QLatin1String(method), -1);
}

void TestAccountPanel::daysSinceDate_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("days");
    // Counted to 10 March 2024.
    QTest::newRow("today") << "2024-03-10 08:00:00" << 1;
    QTest::newRow("yesterday, late") << "2024-03-09 23:59:59" << 1;
    QTest::newRow("two days ago") << "2024-03-08 00:00:00" << 2;
    QTest::newRow("over a leap day") << "2023-03-10 12:00:00" << 366;
    QTest::newRow("tomorrow") << "2024-03-11 00:00:00" << -1;
    QTest::newRow("future") << "2024-03-13 10:00:00" << -3;
    QTest::newRow("date only") << "2024-03-01" << 1;
    QTest::newRow("slashes") << "2024/03/01 10:00:00" << 1;
    QTest::newRow("empty") << "" << 1;
    QTest::newRow("no such day") << "2024-02-30 10:00:00" << 1;
    QTest::newRow("hour 24") << "2024-03-01 24:00:00" << 1;
    QTest::newRow("trailing text") << "2024-03-01 10:00:00.000" << 1;
}

void TestAccountPanel::daysSinceDate()
{
    QFETCH(QString, text);
    QFETCH(int, days);
    QCOMPARE(::daysSinceDate(text, QDate(2024, 3, 10)), days);
}

void TestAccountPanel::bannerLink_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("kept");
    QTest::newRow("https") << "https://www.example.com/news?id=3" << true;
    QTest::newRow("http") << "http://www.example.com/" << true;
    QTest::newRow("upper-case scheme") << "HTTPS://www.example.com/" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("file") << "file:///C:/Windows/System32/calc.exe" << false;
    QTest::newRow("drive path") << "C:/Windows/System32/calc.exe" << false;
    QTest::newRow("relative") << "news/3.html" << false;
    QTest::newRow("javascript") << "javascript:alert(1)" << false;
    QTest::newRow("custom scheme") << "ms-settings:network" << false;
}

void TestAccountPanel::bannerLink()
{
    QFETCH(QString, url);
    QFETCH(bool, kept);
    QCOMPARE(::bannerLink(url), kept ? url : QString());
}

void TestAccountPanel::panelTilesAndPersonalCentreShowTheAccount()
{
    makeWindow();
    QCOMPARE(child<QPushButton>("buyBtn")->text(), QStringLiteral("企业版"));
    QCOMPARE(child<QLabel>("current_ip")->text(), QStringLiteral("203.0.113.7"));

    // The two account tiles beside the tunnel count.
    const auto tileAt = [this](QPoint pos) {
        QStringList texts;
        for (CTParamWidget *tile : child<QWidget>("page")->findChildren<CTParamWidget *>()) {
            if (tile->pos() != pos)
                continue;
            for (const char *name : {"label", "label_2", "label_3"})
                texts << tile->findChild<QLabel *>(QLatin1String(name))->text();
        }
        return texts;
    };
    QCOMPARE(tileAt(QPoint(320, 10)), (QStringList{"20", "M", "高速带宽"}));
    QCOMPARE(tileAt(QPoint(470, 10)), (QStringList{"不限", "G", "剩余流量"}));

    // The personal centre.
    QCOMPARE(child<QLabel>("p_userId")->text(),
             QStringLiteral("10086 （如需技术支持或者服务请提供此代码）"));
    QCOMPARE(child<QLabel>("p_username")->text(), QStringLiteral("alice"));
    QCOMPARE(child<QLabel>("p_register_time")->text(),
             g_startTime + QStringLiteral(" （Tessaro与您随行2天）"));
    QCOMPARE(child<QLabel>("p_login_ip")->text(), QStringLiteral("203.0.113.7"));
    QCOMPARE(child<QLabel>("p_sys")->text(),
             QSysInfo::prettyProductName() + QLatin1Char(' ') + QSysInfo::productVersion());
    const QString local = child<QLabel>("p_loacl_ip")->text();
    QVERIFY2(local.isEmpty() || QHostAddress(local).protocol() == QAbstractSocket::IPv4Protocol,
             qPrintable(local));
    QVERIFY(local != QLatin1String("127.0.0.1"));
    QCOMPARE(child<QLabel>("p_current_version")->text(), QStringLiteral("企业版"));
    QCOMPARE(child<QLabel>("p_daoqitime")->text(), QStringLiteral("2026-12-31 23:59:59"));

    // A sign-up today and one yesterday both count as one day.
    QCOMPARE(MainDialog::daysSince(dateTimeDaysAgo(0)), 1);
    QCOMPARE(MainDialog::daysSince(dateTimeDaysAgo(1)), 1);
    QCOMPARE(MainDialog::daysSince(dateTimeDaysAgo(30)), 30);
}

void TestAccountPanel::emptyAndFutureAccountValues()
{
    for (QString *value : {&g_userId, &g_userName, &g_userType, &g_expireTime, &g_bandwidth,
                           &g_startTime, &g_clientIp})
        value->clear();
    makeWindow();
    QCOMPARE(child<QPushButton>("buyBtn")->text(), QString());
    QCOMPARE(child<QLabel>("current_ip")->text(), QString());
    QCOMPARE(child<QLabel>("p_register_time")->text(), QStringLiteral(" （Tessaro与您随行1天）"));
    QCOMPARE(child<QLabel>("p_userId")->text(),
             QStringLiteral(" （如需技术支持或者服务请提供此代码）"));
    for (const char *name : {"p_username", "p_login_ip", "p_current_version", "p_daoqitime"})
        QVERIFY2(child<QLabel>(name)->text().isEmpty(), name);
    m_window.reset();

    // A clock behind the server's shows the count as it comes out.
    g_startTime = dateTimeDaysAgo(-3);
    makeWindow();
    QCOMPARE(child<QLabel>("p_register_time")->text(),
             g_startTime + QStringLiteral(" （Tessaro与您随行-3天）"));
}

void TestAccountPanel::accountCallsCarryTheAccount()
{
    // Characters that would split a query reach the provider as they are.
    g_userName = QStringLiteral("a&b=c");
    g_password = QStringLiteral("p+w #1");
    makeWindow();
    QTRY_VERIFY_WITH_TIMEOUT(arrivalMs("getmsg") >= 0, 5000);
    QTest::qWait(100);

    QStringList methods;
    for (const FakeHttpServer::Request &request : m_server->requests()) {
        if (request.path != QLatin1String("ClientUserAction"))
            continue;
        methods << request.queryValue(QStringLiteral("method"));
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.queryKeys(), (QStringList{"method", "username", "password"}));
        QCOMPARE(request.queryValue(QStringLiteral("username")), g_userName);
        QCOMPARE(request.queryValue(QStringLiteral("password")), g_password);
    }
    // The coupons during construction, then the timers: banner, message.
    QCOMPARE(methods, (QStringList{"getDaijinquanNum", "getGonggaomsg", "getmsg"}));
    // Construction may already take part of the wait, but never shortens it.
    QVERIFY2(arrivalMs("getGonggaomsg") >= 475,
             qPrintable(QString::number(arrivalMs("getGonggaomsg"))));
    QVERIFY2(arrivalMs("getmsg") >= 950, qPrintable(QString::number(arrivalMs("getmsg"))));

    // Each is asked once per window.
    QTest::qWait(1200);
    int asked = 0;
    for (const FakeHttpServer::Request &request : m_server->requests())
        if (request.path == QLatin1String("ClientUserAction"))
            ++asked;
    QCOMPARE(asked, 3);
}

void TestAccountPanel::couponCount_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("caption"); // empty: the deluxe button as the form has it
    QTest::newRow("three") << QByteArray(R"({"code":1,"amount":3})") << 200 << "代金券 (3)";
    QTest::newRow("many") << QByteArray(R"({"code":1,"amount":120,"msg":"ok"})") << 200
                          << "代金券 (120)";
    QTest::newRow("none") << QByteArray(R"({"code":1,"amount":0})") << 200 << "";
    QTest::newRow("negative") << QByteArray(R"({"code":1,"amount":-2})") << 200 << "";
    QTest::newRow("amount missing") << QByteArray(R"({"code":1})") << 200 << "";
    QTest::newRow("amount as text") << QByteArray(R"({"code":1,"amount":"3"})") << 200 << "";
    QTest::newRow("failure code") << QByteArray(R"({"code":0,"amount":3})") << 200 << "";
    QTest::newRow("code 2") << QByteArray(R"({"code":2,"amount":3})") << 200 << "";
    QTest::newRow("code as text") << QByteArray(R"({"code":"1","amount":3})") << 200 << "";
    QTest::newRow("server error") << QByteArray(R"({"code":1,"amount":3})") << 500 << "";
    QTest::newRow("not JSON") << QByteArray("<html>busy</html>") << 200 << "";
}

void TestAccountPanel::couponCount()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, caption);
    FakeHttpServer::Response response;
    response.body = body;
    response.status = status;
    m_server->setResponse(route("getDaijinquanNum"), response);
    makeWindow();

    auto *button = child<QPushButton>("btn_high");
    if (caption.isEmpty()) {
        QCOMPARE(button->text(), QStringLiteral("开通豪华版"));
        QVERIFY(button->icon().isNull());
        QVERIFY(button->styleSheet().contains(QLatin1String("#8c560b")));
        QVERIFY(!button->styleSheet().contains(QLatin1String("#ff4242")));
    } else {
        QCOMPARE(button->text(), caption);
        QVERIFY(!button->icon().isNull());
        const QString style = button->styleSheet();
        for (const char *part : {"1px solid #ff4242", "border-radius:3px", "color:#ff4242",
                                 "12px \"微软雅黑\"", "hover{background-color:#fcf3e7;}"})
            QVERIFY2(style.contains(QString::fromUtf8(part)), part);
        QVERIFY(!style.contains(QLatin1String("#8c560b")));
    }
    // Whatever its caption, the button leads to the coupons.
    button->click();
    QCOMPARE(m_browser.urls.size(), 1);
    QCOMPARE(QUrlQuery(m_browser.urls.first()).queryItemValue(QStringLiteral("page")),
             QStringLiteral("daijinquan"));
}

void TestAccountPanel::messagePrompt_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("confirm");
    QTest::newRow("confirmed") << "daijinquan" << true;
    QTest::newRow("declined") << "daijinquan" << false;
    QTest::newRow("confirmed, no page") << "" << true;
}

void TestAccountPanel::messagePrompt()
{
    QFETCH(QString, page);
    QFETCH(bool, confirm);
    const QString text = QStringLiteral("您有一张新的代金券，点击确定查看");
    m_server->setResponse(route("getmsg"), jsonReply({{"code", 1}, {"msg", text}, {"page", page}}));

    QString title, shown;
    QWidget *owner = nullptr;
    ModalWatcher watcher([&](QWidget *dialog) {
        title = dialog->windowTitle();
        if (auto *label = dialog->findChild<QLabel *>(QStringLiteral("label_2")))
            shown = label->text();
        owner = dialog->parentWidget();
        click(dialog, confirm ? "btn_ok" : "btn_cance");
    });
    makeWindow();
    QVERIFY(m_browser.urls.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(watcher.seenAtMs.size(), 1, 5000);
    QVERIFY2(watcher.seenAtMs.first() >= 950, "prompted before the message was due");
    QCOMPARE(title, QStringLiteral("消息提示"));
    QCOMPARE(shown, text);
    QCOMPARE(owner, m_window.get());

    if (confirm) {
        QTRY_COMPARE(m_browser.urls.size(), 1);
        const QUrl url = m_browser.urls.first();
        QVERIFY2(url.toString().startsWith(g_webBaseUrl + QStringLiteral("ClientAction?")),
                 qPrintable(url.toString()));
        const QUrlQuery query(url);
        QCOMPARE(query.queryItemValue(QStringLiteral("userid")), QStringLiteral("10086"));
        QCOMPARE(query.hasQueryItem(QStringLiteral("page")), true);
        QCOMPARE(query.queryItemValue(QStringLiteral("page")), page);
    }
    // Shown once per window, and a decline opens nothing.
    QTest::qWait(1500);
    QCOMPARE(watcher.seenAtMs.size(), 1);
    QCOMPARE(m_browser.urls.size(), confirm ? 1 : 0);
}

void TestAccountPanel::failedMessageShowsNothing_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::newRow("code 0") << QByteArray(R"({"code":0,"msg":"x","page":"gongdan"})") << 200;
    QTest::newRow("code -1") << QByteArray(R"({"code":-1,"msg":"x","page":"gongdan"})") << 200;
    QTest::newRow("code as text") << QByteArray(R"({"code":"1","msg":"x"})") << 200;
    QTest::newRow("empty object") << QByteArray("{}") << 200;
    QTest::newRow("server error") << QByteArray(R"({"code":1,"msg":"x"})") << 503;
    QTest::newRow("not JSON") << QByteArray("ok") << 200;
}

void TestAccountPanel::failedMessageShowsNothing()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    FakeHttpServer::Response response;
    response.body = body;
    response.status = status;
    m_server->setResponse(route("getmsg"), response);
    ModalWatcher watcher([](QWidget *dialog) { click(dialog, "btn_cance"); });
    makeWindow();
    QTRY_VERIFY_WITH_TIMEOUT(arrivalMs("getmsg") >= 0, 5000);
    QTest::qWait(500);
    QCOMPARE(watcher.seenAtMs.size(), 0);
    QVERIFY(m_browser.urls.isEmpty());
}

void TestAccountPanel::announcement_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text");  // of the banner afterwards
    QTest::addColumn<QString>("opens"); // on a press; "default": the private-line page
    const QString defaultText = QStringLiteral("NEXL虚拟专线已发布，助您快速访问本地私有云");
    QTest::newRow("announcement")
        << QByteArray(R"({"code":1,"msg":"春节期间客服安排","url":"https://www.example.com/n/8"})")
        << "春节期间客服安排"
        << "https://www.example.com/n/8";
    QTest::newRow("no text") << QByteArray(R"({"code":1,"url":"http://www.example.com/"})") << ""
                             << "http://www.example.com/";
    QTest::newRow("no link") << QByteArray(R"({"code":1,"msg":"维护通知"})") << "维护通知"
                             << "";
    QTest::newRow("local program as link")
        << QByteArray(R"({"code":1,"msg":"维护通知","url":"file:///C:/Windows/System32/calc.exe"})")
        << "维护通知"
        << "";
    QTest::newRow("failure") << QByteArray(R"({"code":0,"msg":"x","url":"https://a.example/"})")
                             << defaultText << "default";
    QTest::newRow("not JSON") << QByteArray("<html/>") << defaultText << "default";
}

void TestAccountPanel::announcement()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, text);
    QFETCH(QString, opens);
    FakeHttpServer::Response response;
    response.body = body;
    m_server->setResponse(route("getGonggaomsg"), response);
    makeWindow();
    QTRY_VERIFY_WITH_TIMEOUT(arrivalMs("getGonggaomsg") >= 0, 5000);
    QTest::qWait(200); // the reply is read after the request arrived
    auto *banner = child<QLabel>("label_8");
    QCOMPARE(banner->text(), text);
    QVERIFY(arrivalMs("getGonggaomsg") >= 475);

    QTest::mousePress(banner, Qt::LeftButton);
    if (opens.isEmpty()) {
        QVERIFY(m_browser.urls.isEmpty());
    } else {
        const QString expected = opens == QLatin1String("default")
                                     ? g_webBaseUrl + QStringLiteral("nexl/index.html")
                                     : opens;
        QCOMPARE(m_browser.urls, QList<QUrl>{QUrl(expected)});
    }
}

QTEST_MAIN(TestAccountPanel)
#include "tst_accountpanel.moc"
