// The provider's web console, public pages and pictures, its command line and
// what survives a restart, exercised against the real program.

#include "support/providerprocess.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>

namespace {

const QString kUser = QStringLiteral("demo");
const QString kPassword = QStringLiteral("demo1234");
const QString kUserId = QStringLiteral("10001");

struct HttpResult
{
    int status = 0;
    QByteArray body;
    QByteArray location;
    QString text() const { return QString::fromUtf8(body); }
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

HttpResult send(QNetworkAccessManager &manager, const QString &url,
                const QByteArray &form = QByteArray(), bool post = false)
{
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = nullptr;
    if (post) {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/x-www-form-urlencoded"));
        reply = manager.post(request, form);
    } else {
        reply = manager.get(request);
    }
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    timeout.start(15000);
    loop.exec();
    HttpResult result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.location = reply->rawHeader("Location");
    reply->abort();
    reply->deleteLater();
    return result;
}

QByteArray form(const QList<QPair<QString, QString>> &pairs)
{
    QByteArray body;
    for (const auto &pair : pairs) {
        if (!body.isEmpty()) {
            body += '&';
        }
        body += pair.first.toUtf8() + '=' + QUrl::toPercentEncoding(pair.second);
    }
    return body;
}

QString consoleLink(const QString &base, const QString &userId, const QString &password,
                    const QString &page)
{
    return base + QStringLiteral("ClientAction?userid=") + QUrl::toPercentEncoding(userId) +
           QStringLiteral("&password=") + QUrl::toPercentEncoding(password) +
           QStringLiteral("&page=") + QUrl::toPercentEncoding(page);
}

// The per-session token of the forms on a console page.
QString formToken(const QString &html)
{
    static const QRegularExpression token(QStringLiteral("name=\"token\" value=\"([0-9a-f]+)\""));
    return token.match(html).captured(1);
}

} // namespace

class TestProviderConsole : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void everyPageKeyIsSignedIn_data();
    void everyPageKeyIsSignedIn();
    void wrongCredentialsShowSignInError_data();
    void wrongCredentialsShowSignInError();
    void sessionCarriesLinksWithoutPassword();
    void panelDeletesTunnel();
    void panelChangesDomain();
    void formsNeedSessionAndToken();
    void formsTouchOwnTunnelsOnly();
    void pagesEscapeStoredText();
    void signUp();
    void publicPagesAndPictures();
    void restartKeepsData();
    void resetRestoresDemoData();
    void commandLine();
    void stopRightAfterStart();

private:
    QJsonArray tunnels(const QString &user = kUser, const QString &password = kPassword);
    QString createTunnel(const QString &name);
    HttpResult openPanel(QNetworkAccessManager &manager, const QString &userId = kUserId,
                         const QString &password = kPassword);
    bool signUpAccount(const QString &user, const QString &password);

    QNetworkAccessManager *m_manager = nullptr;
    QTemporaryDir *m_dir = nullptr;
    ProviderProcess *m_provider = nullptr;
};

void TestProviderConsole::initTestCase()
{
    initTestEnvironment();
}

void TestProviderConsole::init()
{
    m_manager = new QNetworkAccessManager; // fresh cookies for every test
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    m_provider = new ProviderProcess;
    QVERIFY2(m_provider->start(m_dir->filePath(QStringLiteral("provider.db"))),
             "tessaro-provider did not report that it listens");
}

void TestProviderConsole::cleanup()
{
    // Idle keep-alive connections would hold up the server's shutdown.
    m_manager->clearConnectionCache();
    delete m_provider;
    m_provider = nullptr;
    delete m_manager;
    m_manager = nullptr;
    delete m_dir;
    m_dir = nullptr;
}

QJsonArray TestProviderConsole::tunnels(const QString &user, const QString &password)
{
    const HttpResult result =
        send(*m_manager,
             m_provider->base() + QStringLiteral("ClientTunnelAction?method=list&username=") +
                 QUrl::toPercentEncoding(user) + QStringLiteral("&password=") +
                 QUrl::toPercentEncoding(password),
             QByteArray(), true);
    return result.json().value(QStringLiteral("data")).toArray();
}

QString TestProviderConsole::createTunnel(const QString &name)
{
    const HttpResult result =
        send(*m_manager,
             m_provider->base() +
                 QStringLiteral("ClientTunnelAction?method=create&username=demo&password=demo1234"
                                "&name=") +
                 QUrl::toPercentEncoding(name) +
                 QStringLiteral("&private_address=127.0.0.1&private_port=8080&channel_type=2"
                                "&channel_model=3"),
             QByteArray(), true);
    if (result.json().value(QStringLiteral("code")).toInt() != 1) {
        return QString();
    }
    for (const QJsonValue &tunnel : tunnels()) {
        if (tunnel.toObject().value(QStringLiteral("name")).toString() == name) {
            return tunnel.toObject().value(QStringLiteral("id")).toString();
        }
    }
    return QString();
}

HttpResult TestProviderConsole::openPanel(QNetworkAccessManager &manager, const QString &userId,
                                          const QString &password)
{
    return send(manager, consoleLink(m_provider->base(), userId, password,
                                     QStringLiteral("chuantou_panel")));
}

bool TestProviderConsole::signUpAccount(const QString &user, const QString &password)
{
    const HttpResult result =
        send(*m_manager, m_provider->base() + QStringLiteral("register/index.html"),
             form({{QStringLiteral("username"), user},
                   {QStringLiteral("password"), password},
                   {QStringLiteral("password2"), password}}),
             true);
    return result.status == 200 && result.text().contains(QStringLiteral("注册成功"));
}

void TestProviderConsole::everyPageKeyIsSignedIn_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("expected");
    QTest::newRow("changjing_panel")
        << QStringLiteral("changjing_panel") << QStringLiteral("场景映射");
    QTest::newRow("chuantou_panel")
        << QStringLiteral("chuantou_panel") << QStringLiteral("映射管理");
    QTest::newRow("dingzhi") << QStringLiteral("dingzhi") << QStringLiteral("定制");
    QTest::newRow("kaipiao") << QStringLiteral("kaipiao") << QStringLiteral("发票");
    QTest::newRow("gongdan") << QStringLiteral("gongdan") << QStringLiteral("工单");
    QTest::newRow("jiaocheng") << QStringLiteral("jiaocheng") << QStringLiteral("教程");
    QTest::newRow("daijinquan") << QStringLiteral("daijinquan") << QStringLiteral("代金券");
    QTest::newRow("haohuaban") << QStringLiteral("haohuaban") << QStringLiteral("豪华版");
    QTest::newRow("price") << QStringLiteral("price") << QStringLiteral("套餐");
    QTest::newRow("vip") << QStringLiteral("vip") << QStringLiteral("VIP");
    QTest::newRow("c750") << QStringLiteral("c750") << QStringLiteral("client_bg.png");
    QTest::newRow("paicha1") << QStringLiteral("paicha1") << QStringLiteral("内网");
    QTest::newRow("paicha2") << QStringLiteral("paicha2") << QStringLiteral("公网");
    QTest::newRow("paicha3") << QStringLiteral("paicha3") << QStringLiteral("服务");
    QTest::newRow("no page key") << QString() << QStringLiteral("控制台首页");
}

void TestProviderConsole::everyPageKeyIsSignedIn()
{
    QFETCH(QString, page);
    QFETCH(QString, expected);
    const HttpResult result =
        send(*m_manager, consoleLink(m_provider->base(), kUserId, kPassword, page));
    QCOMPARE(result.status, 200);
    const QString html = result.text();
    QVERIFY(html.contains(expected));
    QVERIFY2(html.contains(QStringLiteral("演示用户（demo）")), "the page shows who is signed in");
    QVERIFY2(!html.contains(kPassword), "the password must not be echoed into the page");
}

void TestProviderConsole::wrongCredentialsShowSignInError_data()
{
    QTest::addColumn<QString>("query");
    QTest::newRow("wrong password") << QStringLiteral("userid=10001&password=wrong&page=gongdan");
    QTest::newRow("unknown id") << QStringLiteral("userid=99999&password=demo1234&page=gongdan");
    QTest::newRow("id not a number")
        << QStringLiteral("userid=demo&password=demo1234&page=gongdan");
    QTest::newRow("empty id") << QStringLiteral("userid=&password=demo1234&page=price");
    QTest::newRow("no password") << QStringLiteral("userid=10001&page=price");
    QTest::newRow("no credentials") << QStringLiteral("page=price");
}

void TestProviderConsole::wrongCredentialsShowSignInError()
{
    QFETCH(QString, query);
    const HttpResult result =
        send(*m_manager, m_provider->base() + QStringLiteral("ClientAction?") + query);
    QCOMPARE(result.status, 403);
    QVERIFY(result.text().contains(QStringLiteral("无法进入控制台")));
    QVERIFY(!result.text().contains(QStringLiteral("演示用户")));
    QVERIFY(m_manager->cookieJar()->cookiesForUrl(QUrl(m_provider->base())).isEmpty());
}

void TestProviderConsole::sessionCarriesLinksWithoutPassword()
{
    // Before signing in, a link without credentials is refused ...
    QCOMPARE(
        send(*m_manager, m_provider->base() + QStringLiteral("ClientAction?page=price")).status,
        403);
    // ... after the client's signed-in link, the console's own links work.
    QCOMPARE(openPanel(*m_manager).status, 200);
    const HttpResult price =
        send(*m_manager, m_provider->base() + QStringLiteral("ClientAction?page=price"));
    QCOMPARE(price.status, 200);
    QVERIFY(price.text().contains(QStringLiteral("套餐价格")));
    // A message's page key outside the fixed list shows the messages.
    const HttpResult messages =
        send(*m_manager, m_provider->base() + QStringLiteral("ClientAction?page=xiaoxi"));
    QCOMPARE(messages.status, 200);
    QVERIFY(messages.text().contains(QStringLiteral("欢迎")));
    const HttpResult unknown =
        send(*m_manager, m_provider->base() + QStringLiteral("ClientAction?page=nosuchpage"));
    QCOMPARE(unknown.status, 404);
    QVERIFY(unknown.text().contains(QStringLiteral("nosuchpage")));
}

void TestProviderConsole::panelDeletesTunnel()
{
    const HttpResult panel = openPanel(*m_manager);
    QCOMPARE(panel.status, 200);
    const QJsonArray before = tunnels();
    QCOMPARE(before.size(), 2);
    for (const QJsonValue &tunnel : before) {
        QVERIFY(
            panel.text().contains(tunnel.toObject().value(QStringLiteral("domain")).toString()));
    }
    const QString id = before.at(1).toObject().value(QStringLiteral("id")).toString();
    const QString token = formToken(panel.text());
    QVERIFY(!token.isEmpty());
    const QString action = m_provider->base() + QStringLiteral("ClientAction");

    // Without the confirmation tick nothing is deleted.
    HttpResult result =
        send(*m_manager, action, form({{"action", "delete"}, {"id", id}, {"token", token}}), true);
    QCOMPARE(result.status, 303);
    QVERIFY(result.location.contains("notice=confirm_missing"));
    QCOMPARE(tunnels().size(), 2);

    result =
        send(*m_manager, action,
             form({{"action", "delete"}, {"id", id}, {"confirm", "1"}, {"token", token}}), true);
    QCOMPARE(result.status, 303);
    QVERIFY(result.location.contains("notice=deleted"));
    const QJsonArray after = tunnels();
    QCOMPARE(after.size(), 1);
    QVERIFY(after.at(0).toObject().value(QStringLiteral("id")).toString() != id);

    // The redirect target reports the outcome.
    const HttpResult shown =
        send(*m_manager, m_provider->base() + QString::fromLatin1(result.location).mid(1));
    QCOMPARE(shown.status, 200);
    QVERIFY(shown.text().contains(QStringLiteral("映射已删除")));

    // Deleting it again finds nothing.
    result =
        send(*m_manager, action,
             form({{"action", "delete"}, {"id", id}, {"confirm", "1"}, {"token", token}}), true);
    QVERIFY(result.location.contains("notice=not_found"));
}

void TestProviderConsole::panelChangesDomain()
{
    const HttpResult panel = openPanel(*m_manager);
    const QString token = formToken(panel.text());
    const QJsonArray before = tunnels();
    const QString first = before.at(0).toObject().value(QStringLiteral("id")).toString();
    const QString secondDomain = before.at(1).toObject().value(QStringLiteral("domain")).toString();
    const QString action = m_provider->base() + QStringLiteral("ClientAction");
    auto change = [&](const QString &prefix) {
        return send(
                   *m_manager, action,
                   form(
                       {{"action", "domain"}, {"id", first}, {"prefix", prefix}, {"token", token}}),
                   true)
            .location;
    };
    auto domainOfFirst = [&] {
        return tunnels().at(0).toObject().value(QStringLiteral("domain")).toString();
    };

    QVERIFY(change(QStringLiteral("My-Shop")).contains("notice=domain_changed"));
    const QString changed = domainOfFirst();
    QVERIFY2(changed.startsWith(QStringLiteral("my-shop.")), qPrintable(changed));
    QCOMPARE(tunnels().at(0).toObject().value(QStringLiteral("domain_type")).toString(),
             QStringLiteral("1"));

    for (const QString &bad :
         {QStringLiteral("-bad"), QStringLiteral("a"), QStringLiteral("has space"),
          QStringLiteral("x<y>z"), QString(40, QLatin1Char('a'))}) {
        QVERIFY2(change(bad).contains("notice=domain_invalid"), qPrintable(bad));
    }
    const QString takenPrefix = secondDomain.section(QLatin1Char('.'), 0, 0);
    QVERIFY(change(takenPrefix).contains("notice=domain_taken"));
    QCOMPARE(domainOfFirst(), changed);
}

void TestProviderConsole::formsNeedSessionAndToken()
{
    const HttpResult panel = openPanel(*m_manager);
    const QString token = formToken(panel.text());
    const QString id = tunnels().at(0).toObject().value(QStringLiteral("id")).toString();
    const QString action = m_provider->base() + QStringLiteral("ClientAction");

    // A form posted from elsewhere carries the cookie but not the token.
    HttpResult result = send(
        *m_manager, action,
        form({{"action", "delete"}, {"id", id}, {"confirm", "1"}, {"token", QString(32, '0')}}),
        true);
    QCOMPARE(result.status, 403);
    // Without a session the token alone is worthless.
    QNetworkAccessManager stranger;
    result =
        send(stranger, action,
             form({{"action", "delete"}, {"id", id}, {"confirm", "1"}, {"token", token}}), true);
    QCOMPARE(result.status, 403);
    stranger.clearConnectionCache();
    // The password in the query string does not replace the session either.
    result =
        send(stranger, action + QStringLiteral("?userid=10001&password=demo1234"),
             form({{"action", "delete"}, {"id", id}, {"confirm", "1"}, {"token", token}}), true);
    QCOMPARE(result.status, 403);
    stranger.clearConnectionCache();
    QCOMPARE(tunnels().size(), 2);
}

void TestProviderConsole::formsTouchOwnTunnelsOnly()
{
    const QString victim = tunnels().at(0).toObject().value(QStringLiteral("id")).toString();
    QVERIFY(signUpAccount(QStringLiteral("mallory"), QStringLiteral("secret99")));
    // Sign in as the new account through a console link: its id comes from login.
    const HttpResult login =
        send(*m_manager,
             m_provider->base() +
                 QStringLiteral("ClientUserAction?method=login&username=mallory&password=secret99"),
             QByteArray(), true);
    const QString userId = login.json()
                               .value(QStringLiteral("data"))
                               .toObject()
                               .value(QStringLiteral("userId"))
                               .toString();
    QVERIFY(!userId.isEmpty());
    HttpResult panel = openPanel(*m_manager, userId, QStringLiteral("secret99"));
    QCOMPARE(panel.status, 200);
    QVERIFY(panel.text().contains(QStringLiteral("还没有映射")));
    // With a tunnel of her own the panel carries forms, and so a form token.
    const HttpResult created = send(
        *m_manager,
        m_provider->base() +
            QStringLiteral("ClientTunnelAction?method=create&username=mallory&password=secret99"
                           "&name=own&private_address=127.0.20.1&private_port=22&channel_type=2"
                           "&channel_model=3"),
        QByteArray(), true);
    QCOMPARE(created.json().value(QStringLiteral("code")).toInt(), 1);
    panel =
        send(*m_manager, m_provider->base() + QStringLiteral("ClientAction?page=chuantou_panel"));
    QVERIFY(!panel.text().contains(
        tunnels().at(0).toObject().value(QStringLiteral("domain")).toString()));
    const QString token = formToken(panel.text());
    const QString action = m_provider->base() + QStringLiteral("ClientAction");
    HttpResult result = send(
        *m_manager, action,
        form({{"action", "delete"}, {"id", victim}, {"confirm", "1"}, {"token", token}}), true);
    QVERIFY(result.location.contains("notice=not_found"));
    result = send(
        *m_manager, action,
        form({{"action", "domain"}, {"id", victim}, {"prefix", "stolen"}, {"token", token}}), true);
    QVERIFY(result.location.contains("notice=not_found"));
    QCOMPARE(tunnels().size(), 2);
    QVERIFY(!tunnels()
                 .at(0)
                 .toObject()
                 .value(QStringLiteral("domain"))
                 .toString()
                 .startsWith(QStringLiteral("stolen")));
}

void TestProviderConsole::pagesEscapeStoredText()
{
    QVERIFY(!createTunnel(QStringLiteral("<script>x</script>&\"'")).isEmpty());
    const HttpResult panel = openPanel(*m_manager);
    QCOMPARE(panel.status, 200);
    QVERIFY(!panel.text().contains(QStringLiteral("<script>x")));
    QVERIFY(
        panel.text().contains(QStringLiteral("&lt;script&gt;x&lt;/script&gt;&amp;&quot;&#39;")));
    // A page key is shown back on the not-found page, escaped.
    const HttpResult missing = send(
        *m_manager, m_provider->base() + QStringLiteral("ClientAction?page=%3Cimg%20src%3Dx%3E"));
    QCOMPARE(missing.status, 404);
    QVERIFY(!missing.text().contains(QStringLiteral("<img src=x>")));
    QVERIFY(missing.text().contains(QStringLiteral("&lt;img src=x&gt;")));
}

void TestProviderConsole::signUp()
{
    const QString page = m_provider->base() + QStringLiteral("register/index.html");
    const HttpResult formPage = send(*m_manager, page);
    QCOMPARE(formPage.status, 200);
    QVERIFY(formPage.text().contains(QStringLiteral("name=\"username\"")));
    QVERIFY(formPage.text().contains(QStringLiteral("method=\"post\"")));

    struct Refusal
    {
        const char *user;
        const char *password;
        const char *again;
    };
    const Refusal refusals[] = {
        {"demo", "whatever1", "whatever1"},   // taken
        {"ab", "secret99", "secret99"},       // name too short
        {"bad name", "secret99", "secret99"}, // blank in name
        {"newuser", "123", "123"},            // password too short
        {"newuser", "secret99", "secret98"},  // confirmation differs
    };
    for (const Refusal &r : refusals) {
        const HttpResult result = send(*m_manager, page,
                                       form({{"username", QString::fromUtf8(r.user)},
                                             {"password", QString::fromUtf8(r.password)},
                                             {"password2", QString::fromUtf8(r.again)}}),
                                       true);
        QCOMPARE(result.status, 400);
        QVERIFY(result.text().contains(QStringLiteral("notice error")));
    }
    // The demo account is untouched by the refused "demo" sign-up.
    QCOMPARE(tunnels().size(), 2);

    const QString password = QStringLiteral("p&ss=w+rd 密码");
    QVERIFY(signUpAccount(QStringLiteral("new_user1"), password));
    const HttpResult login =
        send(*m_manager,
             m_provider->base() +
                 QStringLiteral("ClientUserAction?method=login&username=new_user1&password=") +
                 QUrl::toPercentEncoding(password),
             QByteArray(), true);
    QCOMPARE(login.json().value(QStringLiteral("code")).toInt(), 1);
    const QJsonObject data = login.json().value(QStringLiteral("data")).toObject();
    QCOMPARE(data.value(QStringLiteral("username")).toString(), QStringLiteral("new_user1"));
    QVERIFY(data.value(QStringLiteral("num")).toString().toInt() > 0);
    QCOMPARE(tunnels(QStringLiteral("new_user1"), password).size(), 0);
}

void TestProviderConsole::publicPagesAndPictures()
{
    // The client probes the API base URL and needs a 2xx answer.
    QCOMPARE(send(*m_manager, m_provider->base()).status, 200);
    const HttpResult recovery =
        send(*m_manager, m_provider->base() + QStringLiteral("forget/index.html"));
    QCOMPARE(recovery.status, 200);
    QVERIFY(recovery.text().contains(QStringLiteral("忘记密码")));
    QVERIFY(recovery.text().contains(QStringLiteral("register/index.html")));
    QCOMPARE(send(*m_manager, m_provider->base() + QStringLiteral("notice/index.html")).status,
             200);
    QCOMPARE(send(*m_manager, m_provider->base() + QStringLiteral("nexl/index.html")).status, 200);

    const HttpResult device =
        send(*m_manager, m_provider->base() + QStringLiteral("images/client_bg.png"));
    QCOMPARE(device.status, 200);
    const QImage devicePicture = QImage::fromData(device.body, "PNG");
    QVERIFY(!devicePicture.isNull());
    QCOMPARE(devicePicture.size(), QSize(620, 515)); // fills the smart-device page unscaled
    const HttpResult avatar =
        send(*m_manager, m_provider->base() + QStringLiteral("images/touxiang.png"));
    QVERIFY(!QImage::fromData(avatar.body, "PNG").isNull());

    QCOMPARE(send(*m_manager, m_provider->base() + QStringLiteral("images/nothing.png")).status,
             404);
    QCOMPARE(send(*m_manager, m_provider->base() + QStringLiteral("images/../provider.db")).status,
             404);
    QCOMPARE(send(*m_manager, m_provider->base() + QStringLiteral("no/such/page.html")).status,
             404);
}

void TestProviderConsole::restartKeepsData()
{
    const QString id = createTunnel(QStringLiteral("kept"));
    QVERIFY(!id.isEmpty());
    QVERIFY(signUpAccount(QStringLiteral("keeper"), QStringLiteral("secret99")));
    // Reading the message marks it read; that survives too.
    send(*m_manager,
         m_provider->base() +
             QStringLiteral("ClientUserAction?method=getmsg&username=demo&password=demo1234"),
         QByteArray(), true);
    const QJsonArray before = tunnels();

    m_manager->clearConnectionCache();
    QCOMPARE(m_provider->stop(), 0);
    delete m_provider;
    m_provider = new ProviderProcess;
    QVERIFY(m_provider->start(m_dir->filePath(QStringLiteral("provider.db"))));

    QCOMPARE(tunnels(), before);
    QCOMPARE(tunnels(QStringLiteral("keeper"), QStringLiteral("secret99")).size(), 0);
    const HttpResult login =
        send(*m_manager,
             m_provider->base() +
                 QStringLiteral("ClientUserAction?method=login&username=keeper&password=secret99"),
             QByteArray(), true);
    QCOMPARE(login.json().value(QStringLiteral("code")).toInt(), 1);
    const HttpResult message =
        send(*m_manager,
             m_provider->base() +
                 QStringLiteral("ClientUserAction?method=getmsg&username=demo&password=demo1234"),
             QByteArray(), true);
    QVERIFY(message.json().value(QStringLiteral("code")).toInt() != 1);
}

void TestProviderConsole::resetRestoresDemoData()
{
    QVERIFY(!createTunnel(QStringLiteral("gone after reset")).isEmpty());
    QVERIFY(signUpAccount(QStringLiteral("gone_user"), QStringLiteral("secret99")));
    send(*m_manager,
         m_provider->base() +
             QStringLiteral("ClientUserAction?method=getmsg&username=demo&password=demo1234"),
         QByteArray(), true);

    m_manager->clearConnectionCache();
    QCOMPARE(m_provider->stop(), 0);
    delete m_provider;
    m_provider = new ProviderProcess;
    QVERIFY(m_provider->start(m_dir->filePath(QStringLiteral("provider.db")),
                              {QStringLiteral("--reset")}));

    const QJsonArray list = tunnels();
    QCOMPARE(list.size(), 2);
    for (const QJsonValue &tunnel : list) {
        QVERIFY(tunnel.toObject().value(QStringLiteral("name")).toString() !=
                QLatin1String("gone after reset"));
    }
    const HttpResult login = send(
        *m_manager,
        m_provider->base() +
            QStringLiteral("ClientUserAction?method=login&username=gone_user&password=secret99"),
        QByteArray(), true);
    QCOMPARE(login.json().value(QStringLiteral("code")).toInt(-1), 0);
    const HttpResult message =
        send(*m_manager,
             m_provider->base() +
                 QStringLiteral("ClientUserAction?method=getmsg&username=demo&password=demo1234"),
             QByteArray(), true);
    QCOMPARE(message.json().value(QStringLiteral("code")).toInt(), 1);
}

void TestProviderConsole::commandLine()
{
    QProcess help;
    help.start(ProviderProcess::program(), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(20000));
    QCOMPARE(help.exitCode(), 0);
    const QString text = QString::fromUtf8(help.readAllStandardOutput());
    for (const char *option : {"--address", "--port", "--db", "--reset", "--base-url"}) {
        QVERIFY2(text.contains(QLatin1String(option)), option);
    }

    // Refusals: bad values, and a port that is already taken.
    QTcpServer occupier;
    QVERIFY(occupier.listen(QHostAddress::LocalHost));
    const QString database = m_dir->filePath(QStringLiteral("other.db"));
    const QList<QStringList> refused{
        {QStringLiteral("--port"), QStringLiteral("abc"), QStringLiteral("--db"), database},
        {QStringLiteral("--port"), QStringLiteral("70000"), QStringLiteral("--db"), database},
        {QStringLiteral("--address"), QStringLiteral("not-an-address"), QStringLiteral("--db"),
         database},
        {QStringLiteral("--port"), QString::number(occupier.serverPort()), QStringLiteral("--db"),
         database},
        {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"),
         m_dir->path()}, // a folder, not a file
        {QStringLiteral("--db"), database, QStringLiteral("stray")},
    };
    for (const QStringList &arguments : refused) {
        QProcess process;
        process.start(ProviderProcess::program(), arguments);
        QVERIFY(process.waitForFinished(20000));
        QVERIFY2(process.exitCode() != 0, qPrintable(arguments.join(QLatin1Char(' '))));
        QVERIFY(!process.readAllStandardError().isEmpty());
    }

    // A file that is not a database is refused rather than overwritten.
    const QString notes = m_dir->filePath(QStringLiteral("notes.txt"));
    QFile file(notes);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    QProcess process;
    process.start(ProviderProcess::program(),
                  {QStringLiteral("--db"), notes, QStringLiteral("--port"), "0"});
    QVERIFY(process.waitForFinished(20000));
    QVERIFY(process.exitCode() != 0);
    QCOMPARE(QFileInfo(notes).size(), qint64(4096));

    // An explicit address and port are used as given.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    ProviderProcess chosen;
    QVERIFY(chosen.start(m_dir->filePath(QStringLiteral("chosen.db")),
                         {QStringLiteral("--address"), QStringLiteral("127.0.0.1"),
                          QStringLiteral("--port"), QString::number(port)}));
    QCOMPARE(chosen.port(), int(port));
    QCOMPARE(chosen.stop(), 0);
}

void TestProviderConsole::stopRightAfterStart()
{
    // A stop sent the moment the provider says it listens ends it as well.
    for (int i = 0; i < 10; ++i) {
        ProviderProcess provider;
        QVERIFY(provider.start(m_dir->filePath(QStringLiteral("quick.db")),
                               {QStringLiteral("--tunnel-port"), QStringLiteral("0")}));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(provider.stop(), 0);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    }
}

QTEST_GUILESS_MAIN(TestProviderConsole)
#include "tst_provider_console.moc"
