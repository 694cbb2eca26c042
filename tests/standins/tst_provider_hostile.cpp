// The provider under hostile input, many clients at once and sudden death,
// judged by what a client or a browser receives from the real program.

#include "support/providerprocess.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const QByteArray kDemoUser = "demo";
const QByteArray kDemoPassword = "demo1234";
constexpr int kDemoQuota = 5;
constexpr int kSignUpQuota = 2;
// Below cpp-httplib's 5 s read timeout, which is what a server waiting for
// bytes that never come looks like.
constexpr qint64 kPromptMs = 4000;

// One HTTP exchange on its own connection, read the way a strict client
// would: a status line, headers, and exactly Content-Length bytes of body.
struct Reply
{
    bool complete = false;
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    qint64 milliseconds = 0;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &pair : headers) {
            if (pair.first.compare(name, Qt::CaseInsensitive) == 0) {
                return pair.second;
            }
        }
        return QByteArray();
    }
    QString text() const { return QString::fromUtf8(body); }
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

bool parseReply(const QByteArray &received, Reply *reply)
{
    const int end = received.indexOf("\r\n\r\n");
    if (end < 0) {
        return false;
    }
    const QList<QByteArray> lines = received.left(end).split('\n');
    static const QRegularExpression statusLine(
        QStringLiteral("^HTTP/1\\.[01] (\\d{3}) [^\\r]*\\r?$"));
    const auto match = statusLine.match(QString::fromLatin1(lines.value(0)));
    if (!match.hasMatch()) {
        return false;
    }
    reply->status = match.captured(1).toInt();
    reply->headers.clear();
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const int colon = line.indexOf(':');
        if (colon <= 0) {
            return false;
        }
        reply->headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    bool isNumber = false;
    const qint64 length = reply->header("Content-Length").toLongLong(&isNumber);
    if (!isNumber || received.size() - end - 4 < length) {
        return false;
    }
    reply->body = received.mid(end + 4, int(length));
    return true;
}

Reply exchange(quint16 port, const QByteArray &request, int timeoutMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    Reply reply;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    if (!socket.waitForConnected(5000)) {
        return reply;
    }
    socket.write(request);
    QByteArray received;
    while (timer.elapsed() < timeoutMs) {
        // Waiting for input also sends what is still buffered, so a server
        // that answers before reading everything is seen as it answers.
        socket.waitForReadyRead(50);
        received += socket.readAll();
        if (parseReply(received, &reply)) {
            reply.complete = true;
            break;
        }
        if (socket.state() != QAbstractSocket::ConnectedState) {
            received += socket.readAll();
            reply.complete = parseReply(received, &reply);
            break;
        }
    }
    reply.milliseconds = timer.elapsed();
    return reply;
}

QByteArray request(const QByteArray &verb, const QByteArray &target,
                   const QByteArray &body = QByteArray(), const QByteArray &headers = QByteArray())
{
    QByteArray bytes =
        verb + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers;
    if (verb != "GET" || !body.isEmpty()) {
        bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    }
    return bytes + "\r\n" + body;
}

const QByteArray kFormType = "Content-Type: application/x-www-form-urlencoded\r\n";

QByteArray enc(const QString &text)
{
    return QUrl::toPercentEncoding(text);
}

QByteArray enc(const QByteArray &utf8)
{
    return QUrl::toPercentEncoding(QString::fromUtf8(utf8));
}

using Pairs = QList<QPair<QByteArray, QByteArray>>; // values already percent-encoded

QByteArray joinPairs(const Pairs &pairs)
{
    QByteArray out;
    for (const auto &pair : pairs) {
        if (!out.isEmpty()) {
            out += '&';
        }
        out += pair.first + '=' + pair.second;
    }
    return out;
}

// A chunked body of the given size, in 4 KiB chunks.
QByteArray chunked(int size)
{
    QByteArray out;
    for (int left = size; left > 0; left -= 4096) {
        const int n = qMin(left, 4096);
        out += QByteArray::number(n, 16) + "\r\n" + QByteArray(n, 'x') + "\r\n";
    }
    return out + "0\r\n\r\n";
}

// Empty when the reply is the API's well-formed refusal of a call whose
// success code is successCode; otherwise what is wrong with it.
QString apiRefusalFault(const Reply &reply, int successCode)
{
    if (!reply.complete) {
        return QStringLiteral("no complete HTTP reply");
    }
    if (reply.milliseconds > kPromptMs) {
        return QStringLiteral("answered only after %1 ms").arg(reply.milliseconds);
    }
    if (reply.status != 200 && (reply.status < 400 || reply.status >= 500)) {
        return QStringLiteral("HTTP status %1").arg(reply.status);
    }
    if (!reply.header("Content-Type").startsWith("application/json")) {
        return QStringLiteral("not JSON: ") + QString::fromLatin1(reply.header("Content-Type"));
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(reply.body, &error);
    const QJsonObject object = document.object();
    if (error.error != QJsonParseError::NoError || !document.isObject() ||
        !object.value(QStringLiteral("code")).isDouble() ||
        object.value(QStringLiteral("msg")).toString().isEmpty()) {
        return QStringLiteral("not the API envelope: ") + reply.text().left(200);
    }
    if (object.value(QStringLiteral("code")).toInt() == successCode) {
        return QStringLiteral("accepted: ") + reply.text().left(200);
    }
    return QString();
}

bool isHtmlDocument(const Reply &reply)
{
    return reply.header("Content-Type").startsWith("text/html") &&
           reply.body.startsWith("<!DOCTYPE html>") && reply.body.trimmed().endsWith("</html>");
}

QString htmlDecode(QString text)
{
    text.replace(QLatin1String("&lt;"), QLatin1String("<"))
        .replace(QLatin1String("&gt;"), QLatin1String(">"))
        .replace(QLatin1String("&quot;"), QLatin1String("\""))
        .replace(QLatin1String("&#39;"), QLatin1String("'"))
        .replace(QLatin1String("&#x27;"), QLatin1String("'"));
    return text.replace(QLatin1String("&amp;"), QLatin1String("&"));
}

// Empty when every tag of the page is harmless markup of the provider's own
// and every attribute value is quoted; otherwise the first offending tag.
QString markupFault(const QString &html)
{
    static const QRegularExpression tag(QStringLiteral("<([A-Za-z][A-Za-z0-9]*)([^>]*)>"));
    static const QRegularExpression attribute(
        QStringLiteral("([^\\s=]+)(?:\\s*=\\s*(\"[^\"]*\"|[^\\s>]*))?"));
    const QSet<QString> forbidden{"script", "svg",  "iframe", "object",
                                  "embed",  "math", "base",   "link"};
    auto it = tag.globalMatch(html);
    while (it.hasNext()) {
        const auto match = it.next();
        const QString name = match.captured(1).toLower();
        if (forbidden.contains(name)) {
            return match.captured(0);
        }
        auto attributes = attribute.globalMatch(match.captured(2));
        while (attributes.hasNext()) {
            const auto a = attributes.next();
            const QString key = a.captured(1).toLower();
            if (key == QLatin1String("/")) {
                continue;
            }
            if (key.startsWith(QLatin1String("on")) || key.contains(QLatin1Char('"')) ||
                key.contains(QLatin1Char('\'')) ||
                (!a.captured(2).isEmpty() && !a.captured(2).startsWith(QLatin1Char('"')))) {
                return match.captured(0);
            }
            if (name == QLatin1String("img") && key == QLatin1String("src") &&
                !a.captured(2).startsWith(QLatin1String("\"/images/"))) {
                return match.captured(0);
            }
        }
    }
    return QString();
}

struct Credentials
{
    QByteArray user;
    QByteArray password;
};

Pairs signedIn(const char *method, const Credentials &who)
{
    return {{"method", method}, {"username", enc(who.user)}, {"password", enc(who.password)}};
}

Reply apiCall(quint16 port, const QByteArray &action, const Pairs &pairs)
{
    return exchange(port, request("POST", '/' + action + '?' + joinPairs(pairs)));
}

QJsonArray tunnelsOf(quint16 port, const Credentials &who, bool *ok = nullptr)
{
    const QJsonObject reply = apiCall(port, "ClientTunnelAction", signedIn("list", who)).json();
    if (ok) {
        *ok = reply.value(QStringLiteral("code")).toInt(-1) == 0;
    }
    return reply.value(QStringLiteral("data")).toArray();
}

Reply createTunnel(quint16 port, const Credentials &who, const QString &name, int dstPort = 8080)
{
    return apiCall(port, "ClientTunnelAction",
                   signedIn("create", who) + Pairs{{"name", enc(name)},
                                                   {"private_address", "127.0.0.1"},
                                                   {"private_port", QByteArray::number(dstPort)},
                                                   {"channel_type", "2"},
                                                   {"channel_model", "3"}});
}

Reply updateTunnel(quint16 port, const Credentials &who, const QString &id, const QString &name,
                   int dstPort = 8080)
{
    return apiCall(port, "ClientTunnelAction",
                   signedIn("update", who) + Pairs{{"id", enc(id)},
                                                   {"name", enc(name)},
                                                   {"private_address", "127.0.0.1"},
                                                   {"private_port", QByteArray::number(dstPort)}});
}

Reply signUp(quint16 port, const QByteArray &user, const QByteArray &password)
{
    const QByteArray form =
        "username=" + enc(user) + "&password=" + enc(password) + "&password2=" + enc(password);
    return exchange(port, request("POST", "/register/index.html", form, kFormType));
}

bool signedUp(const Reply &reply)
{
    return reply.complete && reply.status == 200 &&
           reply.text().contains(QStringLiteral("注册成功"));
}

int code(const Reply &reply)
{
    return reply.json().value(QStringLiteral("code")).toInt(-1);
}

QString field(const QJsonValue &tunnel, const char *key)
{
    return tunnel.toObject().value(QLatin1String(key)).toString();
}

// A browser session of the web console: its cookie and its form token.
struct ConsoleSession
{
    QByteArray cookie;
    QByteArray token;
    QByteArray header() const { return "Cookie: " + cookie + "\r\n"; }
};

ConsoleSession openConsole(quint16 port, const QByteArray &userId, const QByteArray &password)
{
    const Reply panel =
        exchange(port, request("GET", "/ClientAction?userid=" + userId +
                                          "&password=" + enc(password) + "&page=chuantou_panel"));
    ConsoleSession session;
    session.cookie = panel.header("Set-Cookie").split(';').value(0);
    static const QRegularExpression token(QStringLiteral("name=\"token\" value=\"([0-9a-f]+)\""));
    session.token = token.match(panel.text()).captured(1).toLatin1();
    return session;
}

QByteArray userIdOf(quint16 port, const Credentials &who)
{
    return apiCall(port, "ClientUserAction", signedIn("login", who))
        .json()
        .value(QStringLiteral("data"))
        .toObject()
        .value(QStringLiteral("userId"))
        .toString()
        .toLatin1();
}

// The notice key a console form's redirect names, or empty.
QByteArray noticeOf(const Reply &reply)
{
    const QByteArray location = reply.header("Location");
    const int at = location.indexOf("notice=");
    return reply.status == 303 && at >= 0 ? location.mid(at + 7) : QByteArray();
}

// Fills a request template: the given values, {1MB} and {10MB} (that many
// bytes of 'a'), and last {LENGTH}, the length of the body then in place.
QByteArray fill(QByteArray text, const QHash<QByteArray, QByteArray> &values)
{
    for (auto it = values.begin(); it != values.end(); ++it) {
        text.replace(it.key(), it.value());
    }
    text.replace("{1MB}", QByteArray(1 << 20, 'a'));
    text.replace("{10MB}", QByteArray(10 << 20, 'a'));
    const int headerEnd = text.indexOf("\r\n\r\n");
    if (headerEnd >= 0) {
        text.replace("{LENGTH}", QByteArray::number(text.size() - headerEnd - 4));
    }
    return text;
}

} // namespace

class TestProviderHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void apiRefusesMalformedCalls_data();
    void apiRefusesMalformedCalls();
    void tunnelNumbersAreChecked_data();
    void tunnelNumbersAreChecked();
    void consoleRefusesMalformedRequests_data();
    void consoleRefusesMalformedRequests();
    void siteRefusesMalformedRequests_data();
    void siteRefusesMalformedRequests();
    void sqlMetacharactersAreData_data();
    void sqlMetacharactersAreData();
    void markupIsShownAsText_data();
    void markupIsShownAsText();
    void concurrentClients();
    void survivesKillMidWrite();
    void lockedDatabaseRefusesAndRecovers();

private:
    quint16 port() const { return quint16(m_provider.port()); }
    // The fixed accounts' tunnels are what they were after set-up.
    void verifyUntouched();

    QTemporaryDir m_dir;
    ProviderProcess m_provider;
    const Credentials m_demo{kDemoUser, kDemoPassword};
    const Credentials m_api{"hostile_api", "api'pass\"1"};
    const Credentials m_console{"hostile_console", "console%pass_1"};
    const Credentials m_html{"hostile_html", "html;pass--1"};
    QByteArray m_apiTunnel;
    QByteArray m_consoleTunnel;
    QByteArray m_htmlTunnel;
    QByteArray m_consoleUserId;
    ConsoleSession m_session;
    QJsonArray m_demoTunnels;
    QJsonArray m_apiTunnels;
    QJsonArray m_consoleTunnels;
};

void TestProviderHostile::initTestCase()
{
    initTestEnvironment();
    QVERIFY(m_dir.isValid());
    QVERIFY2(m_provider.start(m_dir.filePath(QStringLiteral("provider.db")),
                              {QStringLiteral("--tunnel-port"), QStringLiteral("0")}),
             "tessaro-provider did not report that it listens");
    for (const Credentials *who : {&m_api, &m_console, &m_html}) {
        QVERIFY(signedUp(signUp(port(), who->user, who->password)));
        QCOMPARE(code(createTunnel(port(), *who, QStringLiteral("base"))), 1);
    }
    m_demoTunnels = tunnelsOf(port(), m_demo);
    m_apiTunnels = tunnelsOf(port(), m_api);
    m_consoleTunnels = tunnelsOf(port(), m_console);
    QCOMPARE(m_demoTunnels.size(), 2);
    m_apiTunnel = field(m_apiTunnels.at(0), "id").toLatin1();
    m_consoleTunnel = field(m_consoleTunnels.at(0), "id").toLatin1();
    m_htmlTunnel = field(tunnelsOf(port(), m_html).at(0), "id").toLatin1();
    m_consoleUserId = userIdOf(port(), m_console);
    m_session = openConsole(port(), m_consoleUserId, m_console.password);
    QVERIFY(!m_session.cookie.isEmpty());
    QVERIFY(!m_session.token.isEmpty());
}

void TestProviderHostile::cleanupTestCase()
{
    QCOMPARE(m_provider.stop(), 0);
}

void TestProviderHostile::verifyUntouched()
{
    QCOMPARE(exchange(port(), request("GET", "/")).status, 200);
    QCOMPARE(tunnelsOf(port(), m_demo), m_demoTunnels);
    QCOMPARE(tunnelsOf(port(), m_api), m_apiTunnels);
    QCOMPARE(tunnelsOf(port(), m_console), m_consoleTunnels);
}

namespace {

// An API request in parts that a malformation changes.
struct ApiRequest
{
    QByteArray verb = "POST";
    QByteArray path;
    Pairs pairs;
    bool pairsInBody = false;
    QByteArray body;
    QByteArray headers;
    bool withLength = true;

    QByteArray bytes() const
    {
        QByteArray target = path;
        QByteArray content = body;
        if (pairsInBody) {
            content = joinPairs(pairs);
        } else if (!pairs.isEmpty()) {
            target += '?' + joinPairs(pairs);
        }
        if (withLength) {
            return request(verb, target, content, headers);
        }
        return verb + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
               headers + "\r\n" + content;
    }
    QByteArray *value(const QByteArray &key)
    {
        for (auto &pair : pairs) {
            if (pair.first == key) {
                return &pair.second;
            }
        }
        return nullptr;
    }
    void remove(const QByteArray &key)
    {
        pairs.erase(std::remove_if(pairs.begin(), pairs.end(),
                                   [&](const auto &pair) { return pair.first == key; }),
                    pairs.end());
    }
    void repeat(const QByteArray &key, const QByteArray &value) { pairs.append({key, value}); }
};

struct Malformation
{
    const char *name;
    void (*apply)(ApiRequest &);
};

const Malformation kMalformations[] = {
    {"no method", [](ApiRequest &r) { r.remove("method"); }},
    {"empty method", [](ApiRequest &r) { *r.value("method") = ""; }},
    {"unknown method", [](ApiRequest &r) { *r.value("method") = "drop%20table"; }},
    {"second method", [](ApiRequest &r) { r.repeat("method", "nosuch"); }},
    {"no user name", [](ApiRequest &r) { r.remove("username"); }},
    {"no password", [](ApiRequest &r) { r.remove("password"); }},
    {"empty password", [](ApiRequest &r) { *r.value("password") = ""; }},
    {"second password", [](ApiRequest &r) { r.repeat("password", "other"); }},
    {"second user name", [](ApiRequest &r) { r.repeat("username", "demo"); }},
    {"NUL in user name", [](ApiRequest &r) { *r.value("username") += "%00"; }},
    {"NUL in password", [](ApiRequest &r) { *r.value("password") += "%00x"; }},
    {"invalid UTF-8", [](ApiRequest &r) { *r.value("password") += "%FF%FE"; }},
    {"overlong UTF-8", [](ApiRequest &r) { *r.value("username") += "%C0%AF"; }},
    {"encoded surrogate", [](ApiRequest &r) { *r.value("username") += "%ED%A0%80"; }},
    {"broken escapes", [](ApiRequest &r) { *r.value("password") += "%G1%"; }},
    {"escape character", [](ApiRequest &r) { *r.value("password") += "%1B"; }},
    {"1 MB value in the query",
     [](ApiRequest &r) { *r.value("username") = QByteArray(1 << 20, 'a'); }},
    {"1 MB value in a form body",
     [](ApiRequest &r) {
         *r.value("password") = QByteArray(1 << 20, 'a');
         r.pairsInBody = true;
         r.headers = kFormType;
     }},
    {"10 MB body",
     [](ApiRequest &r) {
         r.body = QByteArray(10 << 20, 'x');
         r.headers = "Content-Type: application/octet-stream\r\n";
     }},
    {"chunked body over the limit",
     [](ApiRequest &r) {
         r.body = chunked(256 * 1024);
         r.headers = "Transfer-Encoding: chunked\r\n";
         r.withLength = false;
     }},
    {"body without a length", [](ApiRequest &r) { r.withLength = false; }},
    {"unknown action", [](ApiRequest &r) { r.path = "/ClientNoSuchAction"; }},
    {"NUL in the path", [](ApiRequest &r) { r.path += "%00"; }},
    {"PUT", [](ApiRequest &r) { r.verb = "PUT"; }},
    {"DELETE", [](ApiRequest &r) { r.verb = "DELETE"; }},
    {"PATCH", [](ApiRequest &r) { r.verb = "PATCH"; }},
    {"OPTIONS", [](ApiRequest &r) { r.verb = "OPTIONS"; }},
    {"unknown verb", [](ApiRequest &r) { r.verb = "BREW"; }},
};

struct ApiCall
{
    const char *action;
    const char *method;
    int successCode;
};

const ApiCall kApiCalls[] = {
    {"ClientUserAction", "login", 1},    {"ClientUserAction", "getDaijinquanNum", 1},
    {"ClientUserAction", "getmsg", 1},   {"ClientUserAction", "getGonggaomsg", 1},
    {"ClientTunnelAction", "list", 0},   {"ClientTunnelAction", "create", 1},
    {"ClientTunnelAction", "update", 1}, {"ClientChangjingAction2", "list", 0},
    {"ClientZengzhiAction", "list", 0},
};

} // namespace

void TestProviderHostile::apiRefusesMalformedCalls_data()
{
    QTest::addColumn<int>("malformation");
    for (int i = 0; i < int(std::size(kMalformations)); ++i) {
        QTest::newRow(kMalformations[i].name) << i;
    }
}

void TestProviderHostile::apiRefusesMalformedCalls()
{
    QFETCH(int, malformation);
    // Each call would succeed as it is; every malformation must turn it into
    // a refusal in the API's own envelope, promptly.
    for (const ApiCall &call : kApiCalls) {
        ApiRequest r;
        r.path = QByteArray("/") + call.action;
        r.pairs = signedIn(call.method, m_api);
        if (QByteArray(call.method) == "create") {
            r.pairs += Pairs{{"name", "hostile"},
                             {"private_address", "127.0.0.1"},
                             {"private_port", "8080"},
                             {"channel_type", "2"},
                             {"channel_model", "3"}};
        } else if (QByteArray(call.method) == "update") {
            r.pairs += Pairs{{"id", m_apiTunnel},
                             {"name", "hostile"},
                             {"private_address", "127.0.0.1"},
                             {"private_port", "8080"}};
        }
        kMalformations[malformation].apply(r);
        const Reply reply = exchange(port(), r.bytes());
        const QString fault = apiRefusalFault(reply, call.successCode);
        QVERIFY2(fault.isEmpty(), qPrintable(QStringLiteral("%1 %2: %3")
                                                 .arg(QLatin1String(call.action),
                                                      QLatin1String(call.method), fault)));
    }
    verifyUntouched();
}

void TestProviderHostile::tunnelNumbersAreChecked_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    for (const char *port : {"%2B80", "0x50", "80.0", "1e3", "99999999999999999999",
                             "18446744073709551697", "%EF%BC%98%EF%BC%90", "80%00"}) {
        QTest::addRow("port %s", port) << QByteArray("private_port") << QByteArray(port);
    }
    for (const char *id : {"0", "1.5", "99999999999999999999", "-9223372036854775808", "0x1"}) {
        QTest::addRow("id %s", id) << QByteArray("id") << QByteArray(id);
    }
    for (const char *model : {"3%20", "03", "-3", "4294967299"}) {
        QTest::addRow("engine %s", model) << QByteArray("channel_model") << QByteArray(model);
    }
}

void TestProviderHostile::tunnelNumbersAreChecked()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    // Create when the value belongs to a new tunnel, update for the id.
    const bool update = key == "id";
    Pairs pairs = signedIn(update ? "update" : "create", m_api) +
                  Pairs{{"name", "numbers"}, {"private_address", "127.0.0.1"}};
    pairs += update ? Pairs{{"private_port", "8080"}, {"id", value}}
                    : Pairs{{"private_port", key == "private_port" ? value : "8080"},
                            {"channel_type", "2"},
                            {"channel_model", key == "channel_model" ? value : "3"}};
    const Reply reply = apiCall(port(), "ClientTunnelAction", pairs);
    const QString fault = apiRefusalFault(reply, 1);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    verifyUntouched();
}

void TestProviderHostile::consoleRefusesMalformedRequests_data()
{
    QTest::addColumn<QByteArray>("raw");
    const QByteArray get = "GET /ClientAction?";
    const QByteArray tail = " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    const QByteArray signIn = "userid={UID}&password={PASSWORD}";
    auto page = [&](const QByteArray &query, const QByteArray &headers = QByteArray()) {
        return get + query + tail + headers + "\r\n";
    };
    auto post = [&](const QByteArray &form, const QByteArray &headers = "{COOKIE}" + kFormType) {
        return "POST /ClientAction" + tail + headers + "Content-Length: {LENGTH}\r\n\r\n" + form;
    };
    const QByteArray token = "&token={TOKEN}";
    QTest::newRow("no credentials") << page("page=chuantou_panel");
    QTest::newRow("user id not a number") << page("userid=abc&password={PASSWORD}");
    QTest::newRow("negative user id") << page("userid=-{UID}&password={PASSWORD}");
    QTest::newRow("huge user id") << page("userid=99999999999999999999999&password={PASSWORD}");
    QTest::newRow("user id with SQL") << page("userid={UID}%20OR%201%3D1&password=x");
    QTest::newRow("user id twice") << page(signIn + "&userid=1");
    QTest::newRow("empty password") << page("userid={UID}&password=");
    QTest::newRow("wildcard password") << page("userid={UID}&password=%25");
    QTest::newRow("SQL password") << page("userid={UID}&password=%27%20OR%20%271%27%3D%271");
    QTest::newRow("NUL in password") << page("userid={UID}&password={PASSWORD}%00");
    QTest::newRow("invalid UTF-8 page key") << page(signIn + "&page=%FF%FE");
    QTest::newRow("page key twice") << page(signIn + "&page=price&page=vip");
    QTest::newRow("1 MB page key") << page(signIn + "&page={1MB}");
    QTest::newRow("unknown page key") << page("page=%zz%", "{COOKIE}");
    QTest::newRow("garbage session cookie")
        << page("page=price", "Cookie: tessaro_session=%00;;=;tessaro_session\r\n");
    QTest::newRow("forged session")
        << page("page=price", "Cookie: tessaro_session=00000000000000000000000000000000\r\n");
    QTest::newRow("oversized cookie")
        << page("page=price", "Cookie: tessaro_session=" + QByteArray(20000, 'a') + "\r\n");
    for (const char *verb : {"PUT", "DELETE", "PATCH", "OPTIONS"}) {
        QTest::addRow("%s", verb) << QByteArray(verb) + " /ClientAction" + tail +
                                         "{COOKIE}Content-Length: 0\r\n\r\n";
    }
    QTest::newRow("form without session")
        << post("action=delete&id={ID}&confirm=1" + token, kFormType);
    QTest::newRow("form without token") << post("action=delete&id={ID}&confirm=1");
    QTest::newRow("wrong token") << post("action=delete&id={ID}&confirm=1&token=00");
    QTest::newRow("second token") << post("action=delete&id={ID}&confirm=1&token=00" + token);
    QTest::newRow("second id") << post("action=delete&id={ID}&id={DEMO_ID}&confirm=1" + token);
    QTest::newRow("id not a number") << post("action=delete&id=abc&confirm=1" + token);
    QTest::newRow("negative id") << post("action=delete&id=-{ID}&confirm=1" + token);
    QTest::newRow("huge id") << post("action=delete&id=99999999999999999999&confirm=1" + token);
    QTest::newRow("id with SQL") << post("action=delete&id={ID}%20OR%201%3D1&confirm=1" + token);
    QTest::newRow("another account's tunnel")
        << post("action=delete&id={DEMO_ID}&confirm=1" + token);
    QTest::newRow("unknown action") << post("action=drop&id={ID}&confirm=1" + token);
    QTest::newRow("no confirmation") << post("action=delete&id={ID}" + token);
    QTest::newRow("NUL in prefix") << post("action=domain&id={ID}&prefix=ab%00cd" + token);
    QTest::newRow("SQL in prefix")
        << post("action=domain&id={ID}&prefix=x%27%20OR%20%271%27%3D%271" + token);
    QTest::newRow("wildcard prefix") << post("action=domain&id={ID}&prefix=%25_%25" + token);
    QTest::newRow("1 MB prefix") << post("action=domain&id={ID}&prefix={1MB}" + token);
    QTest::newRow("10 MB body") << post("action=delete&id={ID}&confirm=1" + token + "&x={10MB}");
    QTest::newRow("multipart form")
        << post("--b\r\nContent-Disposition: form-data; name=\"action\"\r\n\r\ndelete\r\n--b--\r\n",
                "{COOKIE}Content-Type: multipart/form-data; boundary=b\r\n");
    QTest::newRow("chunked form") << "POST /ClientAction" + tail + "{COOKIE}" + kFormType +
                                         "Transfer-Encoding: chunked\r\n\r\n" + chunked(256 * 1024);
    QTest::newRow("form without a length")
        << "POST /ClientAction" + tail + "{COOKIE}" + kFormType + "\r\n";
}

void TestProviderHostile::consoleRefusesMalformedRequests()
{
    QFETCH(QByteArray, raw);
    const QByteArray bytes = fill(raw, {{"{UID}", m_consoleUserId},
                                        {"{PASSWORD}", enc(m_console.password)},
                                        {"{ID}", m_consoleTunnel},
                                        {"{DEMO_ID}", field(m_demoTunnels.at(0), "id").toLatin1()},
                                        {"{TOKEN}", m_session.token},
                                        {"{COOKIE}", m_session.header()}});
    const Reply reply = exchange(port(), bytes);
    QVERIFY2(reply.complete, "no complete HTTP reply");
    QVERIFY2(reply.milliseconds <= kPromptMs, qPrintable(QString::number(reply.milliseconds)));
    if (reply.status == 303) {
        // A form refused with a notice on the panel, never a success.
        const QByteArray notice = noticeOf(reply);
        QVERIFY2(
            QList<QByteArray>({"not_found", "confirm_missing", "domain_invalid", "bad_request"})
                .contains(notice),
            notice.constData());
    } else {
        QVERIFY2(reply.status >= 400 && reply.status < 500,
                 qPrintable(QString::number(reply.status)));
        // A request line too long to read has no path to say it was a page.
        QVERIFY2(isHtmlDocument(reply) || (reply.status == 414 && !reply.json().isEmpty()),
                 qPrintable(reply.text().left(200)));
        QVERIFY(!reply.text().contains(QStringLiteral("映射管理</h1>")));
    }
    QVERIFY(reply.header("Set-Cookie").isEmpty());
    verifyUntouched();
}

void TestProviderHostile::siteRefusesMalformedRequests_data()
{
    QTest::addColumn<QByteArray>("raw");
    // Pages that take no input may ignore it; a Range header may be ignored.
    QTest::addColumn<bool>("mayServe");
    const QByteArray tail = " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    auto signUpForm = [&](const QByteArray &form, const QByteArray &headers = kFormType) {
        return "POST /register/index.html" + tail + headers + "Content-Length: {LENGTH}\r\n\r\n" +
               form;
    };
    const QByteArray password = "&password=secret99&password2=secret99";
    QTest::newRow("sign-up without confirmation")
        << signUpForm("username=site_a&password=secret99") << false;
    QTest::newRow("user name twice")
        << signUpForm("username=site_b&username=site_c" + password) << false;
    QTest::newRow("empty values") << signUpForm("username=&password=&password2=") << false;
    QTest::newRow("NUL in user name") << signUpForm("username=site%00d" + password) << false;
    QTest::newRow("invalid UTF-8 user name")
        << signUpForm("username=site%C3%28" + password) << false;
    QTest::newRow("SQL user name") << signUpForm("username=x%27%3B--" + password) << false;
    QTest::newRow("wildcard user name") << signUpForm("username=%25%25%25" + password) << false;
    QTest::newRow("1 MB user name") << signUpForm("username={1MB}" + password) << false;
    QTest::newRow("10 MB body") << signUpForm("username=site_e" + password + "&x={10MB}") << false;
    QTest::newRow("multipart sign-up")
        << signUpForm("--b\r\nContent-Disposition: form-data; name=\"username\"\r\n\r\nsite_f"
                      "\r\n--b--\r\n",
                      "Content-Type: multipart/form-data; boundary=b\r\n")
        << false;
    QTest::newRow("chunked sign-up")
        << "POST /register/index.html" + tail + kFormType + "Transfer-Encoding: chunked\r\n\r\n" +
               chunked(256 * 1024)
        << false;
    QTest::newRow("sign-up without a length")
        << "POST /register/index.html" + tail + kFormType + "\r\n"
        << false;
    QTest::newRow("junk query on a page") << "GET /forget/index.html?%zz=%00&%FF" + tail + "\r\n"
                                          << true;
    QTest::newRow("1 MB query on a page") << "GET /notice/index.html?q={1MB}" + tail + "\r\n"
                                          << false;
    QTest::newRow("many ranges of a page")
        << "GET /register/index.html" + tail + "Range: bytes=0-" +
               QByteArray(600, ',').replace(",", ",0-") + "\r\n\r\n"
        << true;
    QTest::newRow("many ranges of an API reply")
        << "GET /ClientTunnelAction?method=list" + tail + "Range: bytes=0-" +
               QByteArray(600, ',').replace(",", ",0-") + "\r\n\r\n"
        << true;
    QTest::newRow("picture outside its folder") << "GET /images/..%2Fprovider.db" + tail + "\r\n"
                                                << false;
    QTest::newRow("picture with NUL") << "GET /images/touxiang.png%00.png" + tail + "\r\n" << false;
    QTest::newRow("1 MB picture name") << "GET /images/{1MB}.png" + tail + "\r\n" << false;
    QTest::newRow("many ranges of a picture")
        << "GET /images/client_bg.png" + tail + "Range: bytes=0-" +
               QByteArray(600, ',').replace(",", ",0-") + "\r\n\r\n"
        << true;
    QTest::newRow("PUT on a page")
        << "PUT /register/index.html" + tail + "Content-Length: 0\r\n\r\n"
        << false;
    QTest::newRow("POST on a page")
        << "POST /forget/index.html" + tail + "Content-Length: 0\r\n\r\n"
        << false;
    QTest::newRow("DELETE on a page") << "DELETE /" + tail + "\r\n" << false;
    QTest::newRow("not HTTP") << QByteArray("\x16\x03\x01\x02\x01\x01\x01\x01\xfc\x03\x03\r\n\r\n")
                              << false;
}

void TestProviderHostile::siteRefusesMalformedRequests()
{
    QFETCH(QByteArray, raw);
    QFETCH(bool, mayServe);
    const Reply reply = exchange(port(), fill(raw, {}));
    QVERIFY2(reply.complete, "no complete HTTP reply");
    QVERIFY2(reply.milliseconds <= kPromptMs, qPrintable(QString::number(reply.milliseconds)));
    if (mayServe && reply.status == 200) {
        // Whole: never a slice or a run of slices under a status of success.
        const bool png =
            reply.body.startsWith("\x89PNG") && reply.body.endsWith("IEND\xae\x42\x60\x82");
        QVERIFY2(isHtmlDocument(reply) || png || reply.json().contains(QStringLiteral("code")),
                 qPrintable(reply.text().left(200)));
    } else {
        QVERIFY2(reply.status >= 400 && reply.status < 500,
                 qPrintable(QString::number(reply.status)));
        QVERIFY(!reply.text().contains(QStringLiteral("注册成功")));
        if (reply.header("Content-Type").startsWith("text/html")) {
            QVERIFY(isHtmlDocument(reply));
        }
    }
    // Whatever the refused sign-ups named, none of them became an account.
    for (const char *user : {"site_a", "site_b", "site_c", "site_d", "site_e", "site_f"}) {
        QCOMPARE(code(apiCall(port(), "ClientUserAction", signedIn("login", {user, "secret99"}))),
                 0);
    }
    QCOMPARE(exchange(port(), request("GET", "/")).status, 200);
}

void TestProviderHostile::sqlMetacharactersAreData_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("quote") << QStringLiteral("it's");
    QTest::newRow("double quote") << QStringLiteral("say \"x\"");
    QTest::newRow("semicolon and comment") << QStringLiteral("a;b--c");
    QTest::newRow("always true") << QStringLiteral("' OR '1'='1");
    QTest::newRow("wildcards") << QStringLiteral("100%_done");
    QTest::newRow("backslash") << QStringLiteral("C:\\x\\'y");
    QTest::newRow("drop table") << QStringLiteral("x'); DROP TABLE tunnels;--");
    QTest::newRow("union") << QStringLiteral("\" UNION SELECT 1 --");
}

void TestProviderHostile::sqlMetacharactersAreData()
{
    QFETCH(QString, text);
    static int counter = 0;
    const QByteArray user = "sql_" + QByteArray::number(++counter);
    QByteArray password = text.toUtf8();
    while (password.size() < 6) {
        password += '!';
    }
    const Credentials who{user, password};

    // As a password: stored and compared byte for byte, never as a pattern.
    QVERIFY(signedUp(signUp(port(), user, password)));
    const Reply login = apiCall(port(), "ClientUserAction", signedIn("login", who));
    QCOMPARE(code(login), 1);
    const QJsonObject data = login.json().value(QStringLiteral("data")).toObject();
    QCOMPARE(data.value(QStringLiteral("password")).toString().toUtf8(), password);
    QCOMPARE(data.value(QStringLiteral("username")).toString().toUtf8(), user);
    for (const QByteArray &wrong :
         {QByteArray("' OR '1'='1' --"), QByteArray("%"), password.left(password.size() - 1)}) {
        QCOMPARE(code(apiCall(port(), "ClientUserAction", signedIn("login", {user, wrong}))), 0);
    }

    // As part of a user name: no account is made and none is reached.
    QCOMPARE(signUp(port(), user + text.toUtf8(), password).status, 400);
    QCOMPARE(code(apiCall(port(), "ClientUserAction",
                          signedIn("login", {kDemoUser + text.toUtf8(), kDemoPassword}))),
             0);

    // As a tunnel name, through create and update.
    QCOMPARE(code(createTunnel(port(), who, text)), 1);
    QJsonArray list = tunnelsOf(port(), who);
    QCOMPARE(list.size(), 1);
    QCOMPARE(field(list.at(0), "name"), text);
    const QString renamed = QLatin1Char('2') + text;
    QCOMPARE(code(updateTunnel(port(), who, field(list.at(0), "id"), renamed)), 1);
    list = tunnelsOf(port(), who);
    QCOMPARE(list.size(), 1);
    QCOMPARE(field(list.at(0), "name"), renamed);
    verifyUntouched();
}

void TestProviderHostile::markupIsShownAsText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("script") << QStringLiteral("<script>alert(1)</script>");
    QTest::newRow("attribute break-out") << QStringLiteral("\"><img src=x onerror=alert(1)>");
    QTest::newRow("single-quoted break-out") << QStringLiteral("'><svg onload=alert(1)>");
    QTest::newRow("entity") << QStringLiteral("&amp;&lt;b&gt;");
    QTest::newRow("closing tags") << QStringLiteral("</h2></main><a href=//x>");
    QTest::newRow("event attribute") << QStringLiteral("x\" autofocus onfocus=\"alert(1)");
}

void TestProviderHostile::markupIsShownAsText()
{
    QFETCH(QString, text);
    const Credentials who = m_html;
    QCOMPARE(code(updateTunnel(port(), who, QString::fromLatin1(m_htmlTunnel), text)), 1);
    const QByteArray userId = userIdOf(port(), who);

    // The tunnel panel shows the name as text, in a page whose own markup is intact.
    const Reply panel = exchange(port(), request("GET", "/ClientAction?userid=" + userId +
                                                            "&password=" + enc(who.password) +
                                                            "&page=chuantou_panel"));
    QCOMPARE(panel.status, 200);
    const QString html = panel.text();
    static const QRegularExpression heading(QStringLiteral("<h2>(.*?) <span class=\"muted\">ID "));
    QCOMPARE(htmlDecode(heading.match(html).captured(1)), text);
    QVERIFY2(!html.contains(text), "the name appears unescaped");
    QVERIFY2(markupFault(html).isEmpty(), qPrintable(markupFault(html)));

    // A page key is shown back on the not-found page the same way.
    const Reply missing = exchange(port(), request("GET", "/ClientAction?userid=" + userId +
                                                              "&password=" + enc(who.password) +
                                                              "&page=" + enc(text)));
    QCOMPARE(missing.status, 404);
    QVERIFY(!missing.text().contains(text));
    QVERIFY(htmlDecode(missing.text()).contains(text));
    QVERIFY2(markupFault(missing.text()).isEmpty(), qPrintable(markupFault(missing.text())));

    // A refused sign-up shows the name back in the form field's quoted value.
    const Reply form = signUp(port(), text.toUtf8(), "secret99");
    QCOMPARE(form.status, 400);
    QVERIFY(!form.text().contains(text));
    static const QRegularExpression value(
        QStringLiteral("<input type=\"text\" name=\"username\"[^>]* value=\"([^\"]*)\">"));
    QCOMPARE(htmlDecode(value.match(form.text()).captured(1)), text);
    QVERIFY2(markupFault(form.text()).isEmpty(), qPrintable(markupFault(form.text())));
}

namespace {

// What many clients at once did, for the sums after they end.
struct Tally
{
    std::mutex mutex;
    QStringList faults;
    QHash<QByteArray, int> created;
    QHash<QByteArray, int> deleted;
    QSet<QString> names;

    void fault(const QString &what)
    {
        std::lock_guard<std::mutex> lock(mutex);
        faults.append(what);
    }
};

struct Account
{
    Credentials credentials;
    QByteArray userId;
    int quota = 0;
};

void runClient(quint16 port, const Account &account, const ConsoleSession &session, int client,
               int rounds, Tally *tally)
{
    const QByteArray user = account.credentials.user;
    QRandomGenerator random(quint32(client) * 7919u + 1u);
    QStringList ids;
    auto where = [&](int round, const char *what) {
        return QStringLiteral("client %1 round %2 %3: ").arg(client).arg(round).arg(what);
    };
    for (int round = 0; round < rounds; ++round) {
        const int operation = ids.isEmpty() ? 0 : int(random.bounded(5));
        const QString id = ids.isEmpty() ? QString() : ids.at(int(random.bounded(ids.size())));
        switch (operation) {
        case 0: {
            const Reply reply =
                apiCall(port, "ClientTunnelAction", signedIn("list", account.credentials));
            const QJsonArray list = reply.json().value(QStringLiteral("data")).toArray();
            if (!reply.complete || code(reply) != 0) {
                tally->fault(where(round, "list") + reply.text().left(120));
                break;
            }
            if (list.size() > account.quota) {
                tally->fault(where(round, "list") + QStringLiteral("%1 tunnels").arg(list.size()));
            }
            ids.clear();
            for (const QJsonValue &tunnel : list) {
                ids.append(field(tunnel, "id"));
            }
            if (QSet<QString>(ids.begin(), ids.end()).size() != ids.size()) {
                tally->fault(where(round, "list") + QStringLiteral("an id twice"));
            }
            break;
        }
        case 1: {
            const QString name = QStringLiteral("c%1-%2").arg(client).arg(round);
            const Reply reply = createTunnel(port, account.credentials, name);
            const QString message = reply.json().value(QStringLiteral("msg")).toString();
            if (code(reply) == 1) {
                std::lock_guard<std::mutex> lock(tally->mutex);
                ++tally->created[user];
                tally->names.insert(name);
            } else if (code(reply) != 0 || !message.contains(QStringLiteral("上限"))) {
                tally->fault(where(round, "create") + reply.text().left(120));
            }
            break;
        }
        case 2: {
            const QString name = QStringLiteral("u%1-%2").arg(client).arg(round);
            {
                // Recorded first: another client may list it before the answer arrives.
                std::lock_guard<std::mutex> lock(tally->mutex);
                tally->names.insert(name);
            }
            const Reply reply = updateTunnel(port, account.credentials, id, name);
            const QString message = reply.json().value(QStringLiteral("msg")).toString();
            if (code(reply) != 1 &&
                (code(reply) != 0 || !message.contains(QStringLiteral("不存在")))) {
                tally->fault(where(round, "update") + reply.text().left(120));
            }
            break;
        }
        case 3: {
            const Reply reply =
                exchange(port, request("POST", "/ClientAction",
                                       "action=delete&confirm=1&id=" + id.toLatin1() +
                                           "&token=" + session.token,
                                       kFormType + session.header()));
            const QByteArray notice = noticeOf(reply);
            if (notice == "deleted") {
                std::lock_guard<std::mutex> lock(tally->mutex);
                ++tally->deleted[user];
            } else if (notice != "not_found") {
                tally->fault(where(round, "delete") + reply.text().left(120) + notice);
            }
            ids.removeAll(id);
            break;
        }
        default: {
            // Some clients race for one domain; only one of them may get it.
            const QByteArray prefix =
                random.bounded(2)
                    ? "shared-" + user.toLower().replace('_', '-')
                    : "p" + QByteArray::number(client) + "x" + QByteArray::number(round);
            const Reply reply =
                exchange(port, request("POST", "/ClientAction",
                                       "action=domain&id=" + id.toLatin1() + "&prefix=" + prefix +
                                           "&token=" + session.token,
                                       kFormType + session.header()));
            const QByteArray notice = noticeOf(reply);
            if (notice != "domain_changed" && notice != "not_found" && notice != "domain_taken") {
                tally->fault(where(round, "domain") + reply.text().left(120) + notice);
            }
            break;
        }
        }
    }
}

} // namespace

void TestProviderHostile::concurrentClients()
{
    QList<Account> accounts{{m_demo, userIdOf(port(), m_demo), kDemoQuota}};
    for (const char *user : {"many_a", "many_b"}) {
        const Credentials who{user, "many-secret"};
        QVERIFY(signedUp(signUp(port(), who.user, who.password)));
        // The console hands out a form token only with a tunnel to show.
        QCOMPARE(code(createTunnel(port(), who, QStringLiteral("first"))), 1);
        accounts.append({who, userIdOf(port(), who), kSignUpQuota});
    }
    for (const Account &account : accounts) {
        QVERIFY2(!account.userId.isEmpty(), account.credentials.user.constData());
    }
    QHash<QByteArray, QJsonArray> before;
    Tally tally;
    for (const Account &account : accounts) {
        before.insert(account.credentials.user, tunnelsOf(port(), account.credentials));
        for (const QJsonValue &tunnel : before.value(account.credentials.user)) {
            tally.names.insert(field(tunnel, "name"));
        }
    }

    constexpr int kClients = 16;
    constexpr int kRounds = 10;
    QElapsedTimer timer;
    timer.start();
    // Sessions first: the console gives a form token only while there is a tunnel.
    QList<ConsoleSession> sessions;
    for (int client = 0; client < kClients; ++client) {
        const Account &account = accounts.at(client % accounts.size());
        sessions.append(openConsole(port(), account.userId, account.credentials.password));
        QVERIFY(!sessions.last().token.isEmpty());
    }
    std::vector<std::thread> clients;
    for (int client = 0; client < kClients; ++client) {
        clients.emplace_back(runClient, port(), std::cref(accounts.at(client % accounts.size())),
                             std::cref(sessions.at(client)), client, kRounds, &tally);
    }
    for (std::thread &client : clients) {
        client.join();
    }
    qInfo("%d clients x %d requests: %lld ms", kClients, kRounds, timer.elapsed());
    QVERIFY2(tally.faults.isEmpty(), qPrintable(tally.faults.join(QLatin1Char('\n'))));

    // Every tunnel is accounted for: what was there, plus what was created,
    // less what was deleted; within quota; ports and domains never shared.
    QSet<QString> ports;
    QSet<QString> domains;
    int total = 0;
    for (const Account &account : accounts) {
        bool ok = false;
        const QJsonArray after = tunnelsOf(port(), account.credentials, &ok);
        QVERIFY(ok);
        const QByteArray user = account.credentials.user;
        QCOMPARE(after.size(),
                 before.value(user).size() + tally.created.value(user) - tally.deleted.value(user));
        QVERIFY(after.size() <= account.quota);
        for (const QJsonValue &tunnel : after) {
            QVERIFY2(tally.names.contains(field(tunnel, "name")),
                     qPrintable(field(tunnel, "name")));
            ports.insert(field(tunnel, "public_port"));
            domains.insert(field(tunnel, "domain"));
        }
        total += after.size();
    }
    QCOMPARE(ports.size(), total);
    QCOMPARE(domains.size(), total);
    // Reset the demo account's baseline for the checks of later tests.
    m_demoTunnels = tunnelsOf(port(), m_demo);
}

namespace {

// A provider the test can kill outright; ProviderProcess only stops it politely.
bool startProvider(QProcess &process, const QString &database, quint16 *port)
{
    process.setProgram(ProviderProcess::program());
    process.setArguments({QStringLiteral("--db"), database, QStringLiteral("--port"),
                          QStringLiteral("0"), QStringLiteral("--tunnel-port"), QStringLiteral("0"),
                          QStringLiteral("--quiet")});
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start();
    static const QRegularExpression listening(
        QStringLiteral("(?:^|\\n)listening on 127\\.0\\.0\\.1:(\\d+)"));
    QByteArray output;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 30000 && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(100);
        output += process.readAllStandardOutput();
        const auto match = listening.match(QString::fromUtf8(output));
        if (match.hasMatch()) {
            *port = quint16(match.captured(1).toInt());
            return true;
        }
    }
    return false;
}

// What the writers were told, and what they asked without hearing back.
struct Journal
{
    struct Entry
    {
        Credentials credentials;
        bool signUpAnswered = false;
        bool welcomeChecked = false;
        QSet<QString> answered; // tunnel names whose create or update succeeded
        QSet<QString> asked;    // every name a create or update carried
    };
    std::mutex mutex;
    QList<Entry> entries;
};

// Signs up accounts and gives each two tunnels, then renames one, until the
// provider stops answering. Names and ports go together so that a torn
// write would show.
void runWriter(quint16 port, int writer, int life, Journal *journal)
{
    for (int i = 0;; ++i) {
        const Credentials who{QByteArray("k") + QByteArray::number(life) + "w" +
                                  QByteArray::number(writer) + "n" + QByteArray::number(i),
                              "p'%;--" + QByteArray::number(i)};
        int index = 0;
        {
            std::lock_guard<std::mutex> lock(journal->mutex);
            index = journal->entries.size();
            journal->entries.append({who, false, false, {}, {}});
        }
        auto record = [&](const QString &name, const Reply *reply) {
            std::lock_guard<std::mutex> lock(journal->mutex);
            Journal::Entry &entry = journal->entries[index];
            if (!reply) {
                entry.asked.insert(name);
            } else if (code(*reply) == 1) {
                entry.answered.insert(name);
            }
        };
        const Reply account = signUp(port, who.user, who.password);
        if (!account.complete) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(journal->mutex);
            journal->entries[index].signUpAnswered = signedUp(account);
        }
        for (const char *suffix : {"a", "b"}) {
            const QString name = QString::fromLatin1(who.user) + QLatin1String(suffix);
            record(name, nullptr);
            const Reply created = createTunnel(port, who, name, 10000 + i);
            if (!created.complete) {
                return;
            }
            record(name, &created);
        }
        const QJsonArray list = tunnelsOf(port, who);
        if (list.isEmpty()) {
            return;
        }
        const QString renamed = field(list.at(0), "name") + QLatin1String("-u");
        record(renamed, nullptr);
        const Reply updated = updateTunnel(port, who, field(list.at(0), "id"), renamed, 30000 + i);
        if (!updated.complete) {
            return;
        }
        record(renamed, &updated);
    }
}

} // namespace

void TestProviderHostile::survivesKillMidWrite()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString database = dir.filePath(QStringLiteral("crash.db"));
    Journal journal;
    constexpr int kLives = 4;
    constexpr int kWriters = 3;
    for (int life = 0; life <= kLives; ++life) {
        QProcess provider;
        quint16 port = 0;
        QVERIFY2(startProvider(provider, database, &port),
                 qPrintable(QStringLiteral("no start after kill %1").arg(life)));
        QCOMPARE(exchange(port, request("GET", "/")).status, 200);
        QCOMPARE(code(apiCall(port, "ClientUserAction", signedIn("login", m_demo))), 1);

        // Everything answered before any earlier kill is there, whole.
        QSet<QString> ports;
        int tunnels = 0;
        for (Journal::Entry &entry : journal.entries) {
            const Reply login =
                apiCall(port, "ClientUserAction", signedIn("login", entry.credentials));
            if (entry.signUpAnswered) {
                QVERIFY2(code(login) == 1, entry.credentials.user.constData());
            }
            if (code(login) != 1) {
                QVERIFY2(entry.answered.isEmpty(), entry.credentials.user.constData());
                continue;
            }
            if (!entry.welcomeChecked) {
                // The account and its welcome message were written together.
                QCOMPARE(
                    code(apiCall(port, "ClientUserAction", signedIn("getmsg", entry.credentials))),
                    1);
                entry.welcomeChecked = true;
            }
            bool ok = false;
            const QJsonArray list = tunnelsOf(port, entry.credentials, &ok);
            QVERIFY(ok);
            QVERIFY(list.size() <= kSignUpQuota);
            QSet<QString> names;
            for (const QJsonValue &tunnel : list) {
                const QString name = field(tunnel, "name");
                names.insert(name);
                QVERIFY2(entry.asked.contains(name), qPrintable(name));
                const int dstPort = field(tunnel, "dst_port").toInt();
                QVERIFY2(name.endsWith(QLatin1String("-u")) == (dstPort >= 30000),
                         qPrintable(name + QLatin1Char(' ') + QString::number(dstPort)));
                QVERIFY(!field(tunnel, "domain").isEmpty());
                ports.insert(field(tunnel, "public_port"));
                ++tunnels;
            }
            for (const QString &name : entry.answered) {
                // A created tunnel may since have been renamed.
                const bool renamed = entry.answered.contains(name + QLatin1String("-u")) ||
                                     names.contains(name + QLatin1String("-u"));
                QVERIFY2(names.contains(name) || renamed, qPrintable(name));
                if (name.endsWith(QLatin1String("-u"))) {
                    QVERIFY2(!names.contains(name.chopped(2)), qPrintable(name));
                }
            }
        }
        QCOMPARE(ports.size(), tunnels);
        if (life == kLives) {
            QCOMPARE(provider.state(), QProcess::Running);
            provider.terminate();
            QVERIFY(provider.waitForFinished(10000));
            break;
        }

        std::vector<std::thread> writers;
        for (int writer = 0; writer < kWriters; ++writer) {
            writers.emplace_back(runWriter, port, writer, life, &journal);
        }
        const int delay = 300 + int(QRandomGenerator::global()->bounded(900));
        QThread::msleep(ulong(delay));
        provider.kill();
        const bool ended = provider.waitForFinished(10000);
        for (std::thread &writer : writers) {
            writer.join();
        }
        QVERIFY(ended);
        qInfo("life %d: killed after %d ms, %lld accounts so far", life, delay,
              qint64(journal.entries.size()));
    }
    int answered = 0;
    for (const Journal::Entry &entry : journal.entries) {
        answered += entry.answered.size();
    }
    QVERIFY2(answered > 0, "the writers never got a tunnel written");
}

namespace {

// Holds a read lock on SQLite's shared-lock bytes of a database file, as
// another program reading the database would, so the provider cannot commit.
class ReadLock
{
public:
    explicit ReadLock(const QString &path) : m_fd(::open(path.toLocal8Bit().constData(), O_RDWR))
    {
        struct flock lock = {};
        lock.l_type = F_RDLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = 0x40000002; // after SQLite's pending and reserved bytes
        lock.l_len = 510;
        m_locked = m_fd >= 0 && ::fcntl(m_fd, F_SETLK, &lock) == 0;
    }
    ~ReadLock() { release(); }
    ReadLock(const ReadLock &) = delete;
    ReadLock &operator=(const ReadLock &) = delete;

    bool isLocked() const { return m_locked; }
    void release()
    {
        if (m_fd >= 0) {
            ::close(m_fd); // closing drops the process's locks on the file
            m_fd = -1;
        }
        m_locked = false;
    }

private:
    int m_fd = -1;
    bool m_locked = false;
};

} // namespace

void TestProviderHostile::lockedDatabaseRefusesAndRecovers()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString database = dir.filePath(QStringLiteral("locked.db"));
    QProcess provider;
    quint16 port = 0;
    QVERIFY(startProvider(provider, database, &port));
    const QString first = field(tunnelsOf(port, m_demo).at(0), "id");

    // While another reader holds the file, writes fail and say so.
    ReadLock lock(database);
    QVERIFY(lock.isLocked());
    QCOMPARE(code(createTunnel(port, m_demo, QStringLiteral("while locked"))), 0);
    QCOMPARE(code(updateTunnel(port, m_demo, first, QStringLiteral("while locked"))), 0);
    lock.release();

    // Afterwards writes succeed, and what was refused never appears.
    QCOMPARE(code(createTunnel(port, m_demo, QStringLiteral("after"))), 1);
    QCOMPARE(code(updateTunnel(port, m_demo, first, QStringLiteral("after update"))), 1);
    provider.kill();
    QVERIFY(provider.waitForFinished(10000));
    QVERIFY(startProvider(provider, database, &port));
    QStringList names;
    for (const QJsonValue &tunnel : tunnelsOf(port, m_demo)) {
        names.append(field(tunnel, "name"));
    }
    QCOMPARE(names.size(), 3);
    QVERIFY2(names.contains(QStringLiteral("after")), qPrintable(names.join(',')));
    QVERIFY2(names.contains(QStringLiteral("after update")), qPrintable(names.join(',')));
    QVERIFY(!names.contains(QStringLiteral("while locked")));
    provider.terminate();
    QVERIFY(provider.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestProviderHostile)
#include "tst_provider_hostile.moc"
