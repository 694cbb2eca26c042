// The provider's HTTP API, exercised over real HTTP against the real program.

#include "support/providerprocess.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>

namespace {

const QString kUser = QStringLiteral("demo");
const QString kPassword = QStringLiteral("demo1234");

struct HttpResult
{
    int status = 0;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// Builds "Action?method=m&k=v..." with every value percent-encoded as UTF-8,
// the way the client builds its paths.
QString path(const QString &action, const QList<QPair<QString, QString>> &pairs)
{
    QString result = action + QLatin1Char('?');
    for (int i = 0; i < pairs.size(); ++i) {
        if (i > 0) {
            result += QLatin1Char('&');
        }
        result += pairs.at(i).first + QLatin1Char('=') +
                  QString::fromLatin1(QUrl::toPercentEncoding(pairs.at(i).second));
    }
    return result;
}

HttpResult send(QNetworkAccessManager &manager, const QString &url, const QByteArray &verb,
                const QByteArray &body = QByteArray(),
                const QByteArray &contentType = QByteArrayLiteral("application/json"))
{
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = verb == "GET" ? manager.get(request) : manager.post(request, body);
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
    reply->abort();
    reply->deleteLater();
    return result;
}

bool allStrings(const QJsonObject &object)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString()) {
            return false;
        }
    }
    return true;
}

} // namespace

class TestProviderApi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void login();
    void loginRefusals_data();
    void loginRefusals();
    void callsRefuseWrongCredentials_data();
    void callsRefuseWrongCredentials();
    void tunnelList();
    void createRoundTripsEncodedValues();
    void createValidation_data();
    void createValidation();
    void createStopsAtQuota();
    void updateChangesOwnTunnelOnly();
    void updateValidation_data();
    void updateValidation();
    void scenesAndAddons();
    void couponsMessagesAnnouncements();
    void malformedRequests();

private:
    // POSTs an API path the way the client does and parses the reply.
    QJsonObject call(const QString &apiPath, int *status = nullptr);
    QJsonObject call(const QString &action, const QString &method,
                     const QList<QPair<QString, QString>> &keys, const QString &user = kUser,
                     const QString &password = kPassword);
    QJsonArray tunnels(const QString &user = kUser, const QString &password = kPassword);
    bool signUp(const QString &user, const QString &password);
    QImage picture(const QString &url);

    QNetworkAccessManager m_manager;
    QTemporaryDir *m_dir = nullptr;
    ProviderProcess *m_provider = nullptr;
};

void TestProviderApi::initTestCase()
{
    initTestEnvironment();
}

void TestProviderApi::init()
{
    // Every test starts from a fresh demo database.
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    m_provider = new ProviderProcess;
    QVERIFY2(m_provider->start(m_dir->filePath(QStringLiteral("provider.db"))),
             "tessaro-provider did not report that it listens");
}

void TestProviderApi::cleanup()
{
    // Idle keep-alive connections would hold up the server's shutdown.
    m_manager.clearConnectionCache();
    delete m_provider;
    m_provider = nullptr;
    delete m_dir;
    m_dir = nullptr;
}

QJsonObject TestProviderApi::call(const QString &apiPath, int *status)
{
    const HttpResult result = send(m_manager, m_provider->base() + apiPath, "POST");
    if (status) {
        *status = result.status;
    }
    return result.json();
}

QJsonObject TestProviderApi::call(const QString &action, const QString &method,
                                  const QList<QPair<QString, QString>> &keys, const QString &user,
                                  const QString &password)
{
    QList<QPair<QString, QString>> pairs{{QStringLiteral("method"), method},
                                         {QStringLiteral("username"), user},
                                         {QStringLiteral("password"), password}};
    pairs += keys;
    int status = 0;
    const QJsonObject reply = call(path(action, pairs), &status);
    if (status != 200) {
        qWarning() << "HTTP status" << status << "for" << action << method;
    }
    return reply;
}

QJsonArray TestProviderApi::tunnels(const QString &user, const QString &password)
{
    const QJsonObject reply =
        call(QStringLiteral("ClientTunnelAction"), QStringLiteral("list"), {}, user, password);
    return reply.value(QStringLiteral("code")).toInt(-1) == 0
               ? reply.value(QStringLiteral("data")).toArray()
               : QJsonArray();
}

bool TestProviderApi::signUp(const QString &user, const QString &password)
{
    const QByteArray form = "username=" + QUrl::toPercentEncoding(user) +
                            "&password=" + QUrl::toPercentEncoding(password) +
                            "&password2=" + QUrl::toPercentEncoding(password);
    const HttpResult result =
        send(m_manager, m_provider->base() + QStringLiteral("register/index.html"), "POST", form,
             "application/x-www-form-urlencoded");
    return result.status == 200;
}

QImage TestProviderApi::picture(const QString &url)
{
    const HttpResult result = send(m_manager, url, "GET");
    return result.status == 200 ? QImage::fromData(result.body) : QImage();
}

void TestProviderApi::login()
{
    const QJsonObject reply = call(path(QStringLiteral("ClientUserAction"),
                                        {{QStringLiteral("method"), QStringLiteral("login")},
                                         {QStringLiteral("username"), kUser},
                                         {QStringLiteral("password"), kPassword},
                                         {QStringLiteral("c_version"), "8.9.8"}}));
    QCOMPARE(reply.value(QStringLiteral("code")).toInt(), 1);
    QCOMPARE(reply.value(QStringLiteral("clientIp")).toString(), QStringLiteral("127.0.0.1"));

    const QJsonObject data = reply.value(QStringLiteral("data")).toObject();
    QStringList keys = data.keys();
    keys.sort();
    QCOMPARE(keys, QStringList({"daikuan", "daoqitime", "name", "num", "password", "stime",
                                "touxiang", "userId", "user_type", "username"}));
    QVERIFY2(allStrings(data), "every login value must be a JSON string");
    QCOMPARE(data.value(QStringLiteral("username")).toString(), kUser);
    QCOMPARE(data.value(QStringLiteral("password")).toString(), kPassword);
    QCOMPARE(data.value(QStringLiteral("num")).toString(), QStringLiteral("5"));
    QVERIFY(!data.value(QStringLiteral("userId")).toString().isEmpty());
    QVERIFY(!data.value(QStringLiteral("user_type")).toString().isEmpty());
    const QRegularExpression dateTime(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
    QVERIFY(dateTime.match(data.value(QStringLiteral("daoqitime")).toString()).hasMatch());
    QVERIFY(dateTime.match(data.value(QStringLiteral("stime")).toString()).hasMatch());
    const QImage avatar = picture(data.value(QStringLiteral("touxiang")).toString());
    QVERIFY2(!avatar.isNull(), "the avatar URL must serve a picture");
}

void TestProviderApi::loginRefusals_data()
{
    QTest::addColumn<QString>("query");
    QTest::newRow("wrong password") << QString("method=login&username=demo&password=demo12345");
    QTest::newRow("unknown user") << QString("method=login&username=nobody&password=demo1234");
    QTest::newRow("password differs in case")
        << QString("method=login&username=demo&password=DEMO1234");
    QTest::newRow("no password") << QString("method=login&username=demo");
    QTest::newRow("empty values") << QString("method=login&username=&password=");
    QTest::newRow("user given twice")
        << QString("method=login&username=demo&username=x&password=demo1234");
    // An unescaped "&" splits the password; the rest must not log in.
    QTest::newRow("split password") << QString("method=login&username=demo&password=demo&1234");
}

void TestProviderApi::loginRefusals()
{
    QFETCH(QString, query);
    int status = 0;
    const QJsonObject reply = call(QStringLiteral("ClientUserAction?") + query, &status);
    QCOMPARE(status, 200);
    QCOMPARE(reply.value(QStringLiteral("code")).toInt(-1), 0);
    QVERIFY(!reply.value(QStringLiteral("msg")).toString().isEmpty());
    QVERIFY(!reply.contains(QStringLiteral("data")));
}

void TestProviderApi::callsRefuseWrongCredentials_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("method");
    QTest::addColumn<int>("successCode");
    QTest::newRow("coupons") << QString("ClientUserAction") << QString("getDaijinquanNum") << 1;
    QTest::newRow("messages") << QString("ClientUserAction") << QString("getmsg") << 1;
    QTest::newRow("announcement") << QString("ClientUserAction") << QString("getGonggaomsg") << 1;
    QTest::newRow("tunnel list") << QString("ClientTunnelAction") << QString("list") << 0;
    QTest::newRow("create") << QString("ClientTunnelAction") << QString("create") << 1;
    QTest::newRow("update") << QString("ClientTunnelAction") << QString("update") << 1;
    QTest::newRow("scenes") << QString("ClientChangjingAction2") << QString("list") << 0;
    QTest::newRow("addons") << QString("ClientZengzhiAction") << QString("list") << 0;
}

void TestProviderApi::callsRefuseWrongCredentials()
{
    QFETCH(QString, action);
    QFETCH(QString, method);
    QFETCH(int, successCode);
    const QList<QPair<QString, QString>> tunnelKeys{
        {"name", "x"},         {"private_address", "127.0.0.1"}, {"private_port", "80"},
        {"channel_type", "2"}, {"channel_model", "3"},           {"id", "1"}};
    for (const QString &password : {QStringLiteral("wrong"), QString()}) {
        const QJsonObject reply = call(action, method, tunnelKeys, kUser, password);
        QVERIFY(reply.contains(QStringLiteral("code")));
        QVERIFY(reply.value(QStringLiteral("code")).toInt() != successCode);
        QVERIFY(!reply.value(QStringLiteral("msg")).toString().isEmpty());
    }
    // Nothing was created or changed by the refused calls.
    const QJsonArray list = tunnels();
    QCOMPARE(list.size(), 2);
    for (const QJsonValue &tunnel : list) {
        QVERIFY(tunnel.toObject().value(QStringLiteral("name")).toString() != QLatin1String("x"));
    }
}

void TestProviderApi::tunnelList()
{
    const QJsonObject reply =
        call(QStringLiteral("ClientTunnelAction"), QStringLiteral("list"), {});
    QCOMPARE(reply.value(QStringLiteral("code")).toInt(-1), 0);
    const QJsonArray data = reply.value(QStringLiteral("data")).toArray();
    QCOMPARE(data.size(), 2);
    const QStringList fifteen{"name",          "id",
                              "domain",        "dst_address",
                              "dst_port",      "public_address",
                              "public_port",   "public_port2",
                              "domain_type",   "channel_type",
                              "channel_state", "channel_model",
                              "model",         "domain_auth",
                              "daikuan"};
    bool pointsAtTestServer = false;
    for (const QJsonValue &value : data) {
        const QJsonObject tunnel = value.toObject();
        for (const QString &key : fifteen) {
            QVERIFY2(tunnel.value(key).isString(), qPrintable(key + " must be a JSON string"));
        }
        QCOMPARE(tunnel.keys().size(), fifteen.size());
        QCOMPARE(tunnel.value(QStringLiteral("public_address")).toString(),
                 QStringLiteral("127.0.0.1"));
        QCOMPARE(tunnel.value(QStringLiteral("daikuan")).toString(), QStringLiteral("4"));
        QVERIFY(!tunnel.value(QStringLiteral("domain")).toString().isEmpty());
        const int publicPort = tunnel.value(QStringLiteral("public_port")).toString().toInt();
        QVERIFY(publicPort >= 20000 && publicPort <= 20999);
        if (tunnel.value(QStringLiteral("dst_address")).toString() == QLatin1String("127.0.0.1") &&
            tunnel.value(QStringLiteral("dst_port")).toString() == QLatin1String("18000")) {
            pointsAtTestServer = true;
        }
    }
    QVERIFY2(pointsAtTestServer, "one demo tunnel points at the local test web server");
}

void TestProviderApi::createRoundTripsEncodedValues()
{
    const QString name = QStringLiteral("测试 a&b=c+d#e%");
    const QJsonObject reply = call(QStringLiteral("ClientTunnelAction"), QStringLiteral("create"),
                                   {{"name", name},
                                    {"private_address", "127.0.0.1"},
                                    {"private_port", "8080"},
                                    {"channel_type", "2"},
                                    {"channel_model", "4"}});
    QCOMPARE(reply.value(QStringLiteral("code")).toInt(), 1);
    QVERIFY(!reply.value(QStringLiteral("msg")).toString().isEmpty());

    const QJsonArray list = tunnels();
    QCOMPARE(list.size(), 3);
    QSet<QString> ports;
    QSet<QString> domains;
    QSet<QString> ids;
    QJsonObject created;
    for (const QJsonValue &value : list) {
        const QJsonObject tunnel = value.toObject();
        ports.insert(tunnel.value(QStringLiteral("public_port")).toString());
        domains.insert(tunnel.value(QStringLiteral("domain")).toString());
        ids.insert(tunnel.value(QStringLiteral("id")).toString());
        if (tunnel.value(QStringLiteral("name")).toString() == name) {
            created = tunnel;
        }
    }
    QVERIFY2(!created.isEmpty(), "the name must come back exactly as sent");
    QCOMPARE(ports.size(), 3);
    QCOMPARE(domains.size(), 3);
    QCOMPARE(ids.size(), 3);
    QCOMPARE(created.value(QStringLiteral("dst_address")).toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(created.value(QStringLiteral("dst_port")).toString(), QStringLiteral("8080"));
    QCOMPARE(created.value(QStringLiteral("channel_type")).toString(), QStringLiteral("2"));
    QCOMPARE(created.value(QStringLiteral("channel_model")).toString(), QStringLiteral("4"));
    QCOMPARE(created.value(QStringLiteral("public_address")).toString(),
             QStringLiteral("127.0.0.1"));
    QCOMPARE(created.value(QStringLiteral("daikuan")).toString(), QStringLiteral("4"));
    const int port = created.value(QStringLiteral("public_port")).toString().toInt();
    QVERIFY(port >= 20000 && port <= 20999);
    // The success message tells the user where the tunnel is reached.
    QVERIFY(reply.value(QStringLiteral("msg"))
                .toString()
                .contains(created.value(QStringLiteral("domain")).toString()));
}

void TestProviderApi::createValidation_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("model");
    QTest::newRow("empty name") << QString("") << QString("127.0.0.1") << QString("80")
                                << QString("2") << QString("3");
    QTest::newRow("blank name") << QString("   ") << QString("127.0.0.1") << QString("80")
                                << QString("2") << QString("3");
    QTest::newRow("empty address")
        << QString("web") << QString("") << QString("80") << QString("2") << QString("3");
    QTest::newRow("address with space") << QString("web") << QString("127.0.0.1 x") << QString("80")
                                        << QString("2") << QString("3");
    QTest::newRow("address with markup")
        << QString("web") << QString("<b>") << QString("80") << QString("2") << QString("3");
    QTest::newRow("empty port") << QString("web") << QString("127.0.0.1") << QString("")
                                << QString("2") << QString("3");
    QTest::newRow("port 0") << QString("web") << QString("127.0.0.1") << QString("0")
                            << QString("2") << QString("3");
    QTest::newRow("port 65536") << QString("web") << QString("127.0.0.1") << QString("65536")
                                << QString("2") << QString("3");
    QTest::newRow("port with letters")
        << QString("web") << QString("127.0.0.1") << QString("80a") << QString("2") << QString("3");
    QTest::newRow("negative port")
        << QString("web") << QString("127.0.0.1") << QString("-1") << QString("2") << QString("3");
    QTest::newRow("engine 5") << QString("web") << QString("127.0.0.1") << QString("80")
                              << QString("2") << QString("5");
    QTest::newRow("empty engine") << QString("web") << QString("127.0.0.1") << QString("80")
                                  << QString("2") << QString("");
    QTest::newRow("other type") << QString("web") << QString("127.0.0.1") << QString("80")
                                << QString("1") << QString("3");
    QTest::newRow("name too long") << QString(33, QLatin1Char('n')) << QString("127.0.0.1")
                                   << QString("80") << QString("2") << QString("3");
    QTest::newRow("oversized name") << QString(100, QChar(0x6d4b)) << QString("127.0.0.1")
                                    << QString("80") << QString("2") << QString("3");
    QTest::newRow("control character") << QStringLiteral("a\001b") << QString("127.0.0.1")
                                       << QString("80") << QString("2") << QString("3");
}

void TestProviderApi::createValidation()
{
    QFETCH(QString, name);
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, type);
    QFETCH(QString, model);
    const QJsonObject reply = call(QStringLiteral("ClientTunnelAction"), QStringLiteral("create"),
                                   {{"name", name},
                                    {"private_address", address},
                                    {"private_port", port},
                                    {"channel_type", type},
                                    {"channel_model", model}});
    QCOMPARE(reply.value(QStringLiteral("code")).toInt(-1), 0);
    QVERIFY(!reply.value(QStringLiteral("msg")).toString().isEmpty());
    QCOMPARE(tunnels().size(), 2);
}

void TestProviderApi::createStopsAtQuota()
{
    // The demo account holds two of its five tunnels.
    for (int i = 0; i < 3; ++i) {
        const QJsonObject reply =
            call(QStringLiteral("ClientTunnelAction"), QStringLiteral("create"),
                 {{"name", QStringLiteral("t%1").arg(i)},
                  {"private_address", "localhost"},
                  {"private_port", QString::number(9000 + i)},
                  {"channel_type", "2"},
                  {"channel_model", "3"}});
        QCOMPARE(reply.value(QStringLiteral("code")).toInt(), 1);
    }
    const QJsonObject refused = call(QStringLiteral("ClientTunnelAction"), QStringLiteral("create"),
                                     {{"name", "sixth"},
                                      {"private_address", "localhost"},
                                      {"private_port", "9100"},
                                      {"channel_type", "2"},
                                      {"channel_model", "3"}});
    QCOMPARE(refused.value(QStringLiteral("code")).toInt(-1), 0);
    QVERIFY(refused.value(QStringLiteral("msg")).toString().contains(QStringLiteral("上限")));
    QCOMPARE(tunnels().size(), 5);

    // Another account's tunnels never share a public port with these.
    QVERIFY(signUp(QStringLiteral("second"), QStringLiteral("secret99")));
    const QJsonObject other = call(QStringLiteral("ClientTunnelAction"), QStringLiteral("create"),
                                   {{"name", "mine"},
                                    {"private_address", "127.0.20.2"},
                                    {"private_port", "22"},
                                    {"channel_type", "2"},
                                    {"channel_model", "3"}},
                                   QStringLiteral("second"), QStringLiteral("secret99"));
    QCOMPARE(other.value(QStringLiteral("code")).toInt(), 1);
    QSet<QString> ports;
    for (const QJsonArray &list :
         {tunnels(), tunnels(QStringLiteral("second"), QStringLiteral("secret99"))}) {
        for (const QJsonValue &tunnel : list) {
            ports.insert(tunnel.toObject().value(QStringLiteral("public_port")).toString());
        }
    }
    QCOMPARE(ports.size(), 6);
}

void TestProviderApi::updateChangesOwnTunnelOnly()
{
    const QJsonObject before = tunnels().at(0).toObject();
    const QString id = before.value(QStringLiteral("id")).toString();
    const QJsonObject reply = call(QStringLiteral("ClientTunnelAction"), QStringLiteral("update"),
                                   {{"name", "新名字 & more"},
                                    {"private_address", "127.0.10.9"},
                                    {"private_port", "8443"},
                                    {"id", id}});
    QCOMPARE(reply.value(QStringLiteral("code")).toInt(), 1);
    QVERIFY(!reply.value(QStringLiteral("msg")).toString().isEmpty());

    const QJsonObject after = tunnels().at(0).toObject();
    QCOMPARE(after.value(QStringLiteral("id")).toString(), id);
    QCOMPARE(after.value(QStringLiteral("name")).toString(), QStringLiteral("新名字 & more"));
    QCOMPARE(after.value(QStringLiteral("dst_address")).toString(), QStringLiteral("127.0.10.9"));
    QCOMPARE(after.value(QStringLiteral("dst_port")).toString(), QStringLiteral("8443"));
    for (const char *kept :
         {"domain", "public_port", "public_address", "channel_model", "channel_type", "daikuan"}) {
        QCOMPARE(after.value(QLatin1String(kept)), before.value(QLatin1String(kept)));
    }

    // Unknown ids and other people's tunnels are refused with a reason.
    QVERIFY(signUp(QStringLiteral("intruder"), QStringLiteral("secret99")));
    for (const QString &badId : {QStringLiteral("999999"), id}) {
        const QJsonObject refused =
            call(QStringLiteral("ClientTunnelAction"), QStringLiteral("update"),
                 {{"name", "stolen"},
                  {"private_address", "1.2.3.4"},
                  {"private_port", "1"},
                  {"id", badId}},
                 QStringLiteral("intruder"), QStringLiteral("secret99"));
        QCOMPARE(refused.value(QStringLiteral("code")).toInt(-1), 0);
        QVERIFY(!refused.value(QStringLiteral("msg")).toString().isEmpty());
    }
    QCOMPARE(tunnels().at(0).toObject(), after);
    QCOMPARE(tunnels(QStringLiteral("intruder"), QStringLiteral("secret99")).size(), 0);
}

void TestProviderApi::updateValidation_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("id");
    QTest::newRow("empty name") << QString("") << QString("80") << QString("first");
    QTest::newRow("port out of range") << QString("web") << QString("70000") << QString("first");
    QTest::newRow("empty id") << QString("web") << QString("80") << QString("");
    QTest::newRow("id not a number") << QString("web") << QString("80") << QString("1 OR 1=1");
    QTest::newRow("negative id") << QString("web") << QString("80") << QString("-1");
}

void TestProviderApi::updateValidation()
{
    QFETCH(QString, name);
    QFETCH(QString, port);
    QFETCH(QString, id);
    const QJsonArray before = tunnels();
    if (id == QLatin1String("first")) {
        id = before.at(0).toObject().value(QStringLiteral("id")).toString();
    }
    const QJsonObject reply = call(
        QStringLiteral("ClientTunnelAction"), QStringLiteral("update"),
        {{"name", name}, {"private_address", "127.0.0.1"}, {"private_port", port}, {"id", id}});
    QCOMPARE(reply.value(QStringLiteral("code")).toInt(-1), 0);
    QVERIFY(!reply.value(QStringLiteral("msg")).toString().isEmpty());
    QCOMPARE(tunnels(), before);
}

void TestProviderApi::scenesAndAddons()
{
    const QJsonObject scenes =
        call(QStringLiteral("ClientChangjingAction2"), QStringLiteral("list"), {});
    QCOMPARE(scenes.value(QStringLiteral("code")).toInt(-1), 0);
    const QJsonArray sceneList = scenes.value(QStringLiteral("data")).toArray();
    QVERIFY(sceneList.size() >= 3);
    for (const QJsonValue &value : sceneList) {
        const QJsonObject scene = value.toObject();
        for (const char *key : {"id", "name", "title", "content", "icon"}) {
            QVERIFY2(!scene.value(QLatin1String(key)).toString().isEmpty(), key);
        }
        QVERIFY(!picture(scene.value(QStringLiteral("icon")).toString()).isNull());
    }

    const QJsonObject addons =
        call(QStringLiteral("ClientZengzhiAction"), QStringLiteral("list"), {});
    QCOMPARE(addons.value(QStringLiteral("code")).toInt(-1), 0);
    QSet<QString> tabs;
    QSet<QString> ids;
    int withAd = 0;
    for (const QJsonValue &value : addons.value(QStringLiteral("data")).toArray()) {
        const QJsonObject addon = value.toObject();
        QVERIFY(allStrings(addon));
        for (const char *key : {"id", "name", "title", "content", "icon", "state", "stype"}) {
            QVERIFY2(!addon.value(QLatin1String(key)).toString().isEmpty(), key);
        }
        QVERIFY(addon.contains(QStringLiteral("ad_url")));
        tabs.insert(addon.value(QStringLiteral("stype")).toString());
        ids.insert(addon.value(QStringLiteral("id")).toString());
        QVERIFY(!picture(addon.value(QStringLiteral("icon")).toString()).isNull());
        const QString ad = addon.value(QStringLiteral("ad_url")).toString();
        if (!ad.isEmpty()) {
            ++withAd;
            QVERIFY(!picture(ad).isNull());
        }
    }
    QCOMPARE(tabs, QSet<QString>({QStringLiteral("映射配置"), QStringLiteral("参数配置"),
                                  QStringLiteral("安全配置"), QStringLiteral("特殊配置")}));
    QCOMPARE(ids.size(), addons.value(QStringLiteral("data")).toArray().size());
    QVERIFY(withAd > 0);
}

void TestProviderApi::couponsMessagesAnnouncements()
{
    const QJsonObject coupons =
        call(QStringLiteral("ClientUserAction"), QStringLiteral("getDaijinquanNum"), {});
    QCOMPARE(coupons.value(QStringLiteral("code")).toInt(), 1);
    QVERIFY(coupons.value(QStringLiteral("amount")).isDouble());
    QVERIFY(coupons.value(QStringLiteral("amount")).toInt() > 0);

    // The unread message is handed out once.
    const QJsonObject message =
        call(QStringLiteral("ClientUserAction"), QStringLiteral("getmsg"), {});
    QCOMPARE(message.value(QStringLiteral("code")).toInt(), 1);
    QVERIFY(!message.value(QStringLiteral("msg")).toString().isEmpty());
    QVERIFY(!message.value(QStringLiteral("page")).toString().isEmpty());
    const QJsonObject again =
        call(QStringLiteral("ClientUserAction"), QStringLiteral("getmsg"), {});
    QVERIFY(again.value(QStringLiteral("code")).toInt() != 1);

    const QJsonObject announcement =
        call(QStringLiteral("ClientUserAction"), QStringLiteral("getGonggaomsg"), {});
    QCOMPARE(announcement.value(QStringLiteral("code")).toInt(), 1);
    QVERIFY(!announcement.value(QStringLiteral("msg")).toString().isEmpty());
    const QString url = announcement.value(QStringLiteral("url")).toString();
    QVERIFY(url.startsWith(m_provider->base()));
    QCOMPARE(send(m_manager, url, "GET").status, 200);
}

void TestProviderApi::malformedRequests()
{
    struct Case
    {
        const char *what;
        QString apiPath;
        QByteArray verb;
        QByteArray body;
    };
    const QString credentials = QStringLiteral("&username=demo&password=demo1234");
    const QList<Case> cases{
        {"unknown action", QStringLiteral("ClientFooAction?method=list") + credentials, "POST", {}},
        {"unknown method",
         QStringLiteral("ClientTunnelAction?method=drop") + credentials,
         "POST",
         {}},
        {"method of another action",
         QStringLiteral("ClientZengzhiAction?method=login") + credentials,
         "POST",
         {}},
        {"no method", QStringLiteral("ClientUserAction?username=demo"), "POST", {}},
        {"no query", QStringLiteral("ClientTunnelAction"), "GET", {}},
        {"two methods",
         QStringLiteral("ClientTunnelAction?method=list&method=create") + credentials,
         "POST",
         {}},
        {"broken escapes",
         QStringLiteral("ClientTunnelAction?method=list&username=%zz&password=%"),
         "POST",
         {}},
        {"invalid UTF-8",
         QStringLiteral("ClientTunnelAction?method=list&username=%FF%FE&password=x"),
         "POST",
         {}},
        {"very long query",
         QStringLiteral("ClientTunnelAction?method=list&username=") + QString(20000, 'a'),
         "POST",
         {}},
        {"oversized body", QStringLiteral("ClientTunnelAction?method=list") + credentials, "POST",
         QByteArray(200 * 1024, 'x')},
    };
    for (const Case &c : cases) {
        const HttpResult result = send(m_manager, m_provider->base() + c.apiPath, c.verb, c.body);
        QVERIFY2(result.status >= 200 && result.status < 500, c.what);
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(result.body, &error);
        QVERIFY2(error.error == QJsonParseError::NoError && document.isObject(), c.what);
        const int code = document.object().value(QStringLiteral("code")).toInt(0);
        QVERIFY2(code != 0 && code != 1, c.what); // a failure under both conventions
        QVERIFY2(!document.object().value(QStringLiteral("msg")).toString().isEmpty(), c.what);
    }
    // GET answers like POST, and the server is still serving.
    const HttpResult list = send(
        m_manager,
        m_provider->base() + QStringLiteral("ClientTunnelAction?method=list") + credentials, "GET");
    QCOMPARE(list.json().value(QStringLiteral("code")).toInt(-1), 0);
    QCOMPARE(list.json().value(QStringLiteral("data")).toArray().size(), 2);
}

QTEST_GUILESS_MAIN(TestProviderApi)
#include "tst_provider_api.moc"
