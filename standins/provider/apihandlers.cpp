#include "apihandlers.h"

#include "pictures.h"
#include "webutil.h"

#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

namespace {
// Failure codes: the 1-success calls fail with 0, the list calls with 2.
constexpr int kSuccess = 1;
constexpr int kFailure = 0;
constexpr int kListSuccess = 0;
constexpr int kListFailure = 2;

const QString kWrongCredentials = QStringLiteral("用户名或密码错误");
constexpr int kMaxTunnelName = 32;
constexpr int kMaxAddress = 64;

QJsonObject envelope(int code, const QString &message)
{
    return QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("msg"), message}};
}

// The user's part of a tunnel, checked the same way for create and update.
bool readTunnelInput(const QHash<QString, QString> &values, bool withEngine, TunnelInput *input,
                     QString *error)
{
    input->name = values.value(QStringLiteral("name")).trimmed();
    input->dstAddress = values.value(QStringLiteral("private_address")).trimmed();
    const QString port = values.value(QStringLiteral("private_port")).trimmed();
    if (input->name.isEmpty()) {
        *error = QStringLiteral("请填写映射名称");
        return false;
    }
    if (input->name.size() > kMaxTunnelName) {
        *error = QStringLiteral("映射名称不能超过%1个字").arg(kMaxTunnelName);
        return false;
    }
    if (input->dstAddress.isEmpty()) {
        *error = QStringLiteral("请填写映射内网地址信息");
        return false;
    }
    // A host name, an IPv4 or an IPv6 address.
    static const QRegularExpression address(QStringLiteral("^[A-Za-z0-9.:\\-\\[\\]]+$"));
    if (input->dstAddress.size() > kMaxAddress || !address.match(input->dstAddress).hasMatch()) {
        *error = QStringLiteral("内网地址格式不正确，请填写IP地址或主机名");
        return false;
    }
    if (port.isEmpty()) {
        *error = QStringLiteral("请填写映射内网端口信息");
        return false;
    }
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    const int portNumber = port.toInt();
    if (!digits.match(port).hasMatch() || portNumber < 1 || portNumber > 65535) {
        *error = QStringLiteral("内网端口必须是1到65535之间的数字");
        return false;
    }
    input->dstPort = portNumber;
    if (withEngine) {
        input->channelType = values.value(QStringLiteral("channel_type"));
        input->channelModel = values.value(QStringLiteral("channel_model"));
        // The client creates HTCP tunnels only; other types are not offered here.
        if (input->channelType != QLatin1String("2")) {
            *error = QStringLiteral("暂只支持创建HTCP类型的映射");
            return false;
        }
        if (input->channelModel != QLatin1String("3") &&
            input->channelModel != QLatin1String("4")) {
            *error = QStringLiteral("穿透模式无效，请选择极速8.0或极速9.0");
            return false;
        }
    }
    return true;
}

QString text(int number)
{
    return QString::number(number);
}
} // namespace

ApiHandlers::ApiHandlers(Database &database, const QString &baseUrl)
    : m_database(database), m_baseUrl(baseUrl)
{
}

void ApiHandlers::install(httplib::Server &server)
{
    const char *const actions[] = {"ClientUserAction", "ClientTunnelAction",
                                   "ClientChangjingAction2", "ClientZengzhiAction"};
    for (const char *action : actions) {
        const QString name = QString::fromLatin1(action);
        auto handler = [this, name](const httplib::Request &request, httplib::Response &response) {
            dispatch(request, response, name);
        };
        const std::string pattern = std::string("/") + action;
        server.Get(pattern, handler);
        server.Post(pattern, handler);
    }
}

void ApiHandlers::dispatch(const httplib::Request &request, httplib::Response &response,
                           const QString &action)
{
    struct Route
    {
        const char *action;
        const char *method;
        Handler handler;
    };
    static const Route routes[] = {
        {"ClientUserAction", "login", &ApiHandlers::login},
        {"ClientUserAction", "getDaijinquanNum", &ApiHandlers::couponCount},
        {"ClientUserAction", "getmsg", &ApiHandlers::nextMessage},
        {"ClientUserAction", "getGonggaomsg", &ApiHandlers::announcement},
        {"ClientTunnelAction", "list", &ApiHandlers::tunnelList},
        {"ClientTunnelAction", "create", &ApiHandlers::tunnelCreate},
        {"ClientTunnelAction", "update", &ApiHandlers::tunnelUpdate},
        {"ClientChangjingAction2", "list", &ApiHandlers::sceneList},
        {"ClientZengzhiAction", "list", &ApiHandlers::addonList},
    };

    QJsonObject reply;
    QHash<QString, QString> values;
    QString error;
    if (!webutil::readValues(request, {QStringLiteral("method")}, {}, &values, &error)) {
        reply = envelope(kBadRequest, error);
    } else {
        const QString method = values.value(QStringLiteral("method"));
        reply = envelope(kBadRequest, QStringLiteral("未知的接口方法：") + method);
        for (const Route &route : routes) {
            if (action == QLatin1String(route.action) && method == QLatin1String(route.method)) {
                reply = (this->*route.handler)(request);
                break;
            }
        }
    }
    response.status = 200;
    response.set_content(QJsonDocument(reply).toJson(QJsonDocument::Compact).toStdString(),
                         "application/json; charset=utf-8");
}

std::optional<Account> ApiHandlers::signedIn(const httplib::Request &request, QString *error)
{
    QHash<QString, QString> values;
    if (!webutil::readValues(request, {QStringLiteral("username"), QStringLiteral("password")}, {},
                             &values, error)) {
        return std::nullopt;
    }
    auto account = m_database.authenticate(values.value(QStringLiteral("username")),
                                           values.value(QStringLiteral("password")));
    if (!account) {
        *error = kWrongCredentials;
    }
    return account;
}

QString ApiHandlers::absoluteUrl(const QString &path) const
{
    if (path.isEmpty() || path.startsWith(QLatin1String("http://")) ||
        path.startsWith(QLatin1String("https://"))) {
        return path;
    }
    return m_baseUrl + path;
}

QJsonObject ApiHandlers::login(const httplib::Request &request)
{
    QHash<QString, QString> values;
    QString error;
    if (!webutil::readValues(request, {QStringLiteral("username"), QStringLiteral("password")},
                             {QStringLiteral("c_version")}, &values, &error)) {
        return envelope(kFailure, error);
    }
    const QString password = values.value(QStringLiteral("password"));
    const auto account =
        m_database.authenticate(values.value(QStringLiteral("username")), password);
    if (!account) {
        return envelope(kFailure, kWrongCredentials);
    }
    const QString avatar =
        account->avatar.isEmpty() ? QString::fromLatin1(Pictures::kDefaultAvatar) : account->avatar;
    // Every value is a JSON string: the client reads numbers as empty text.
    QJsonObject data{
        {QStringLiteral("userId"), QString::number(account->id)},
        {QStringLiteral("username"), account->username},
        {QStringLiteral("password"), password},
        {QStringLiteral("user_type"), account->userType},
        {QStringLiteral("name"), account->displayName},
        {QStringLiteral("num"), text(account->quota)},
        {QStringLiteral("daoqitime"), account->expires},
        {QStringLiteral("daikuan"), text(account->bandwidth)},
        {QStringLiteral("stime"), account->registered},
        {QStringLiteral("touxiang"), absoluteUrl(avatar)},
    };
    QJsonObject reply = envelope(kSuccess, QStringLiteral("登录成功"));
    reply.insert(QStringLiteral("data"), data);
    reply.insert(QStringLiteral("clientIp"), QString::fromStdString(request.remote_addr));
    return reply;
}

QJsonObject ApiHandlers::couponCount(const httplib::Request &request)
{
    QString error;
    const auto account = signedIn(request, &error);
    if (!account) {
        return envelope(kFailure, error);
    }
    QJsonObject reply = envelope(kSuccess, QString());
    reply.insert(QStringLiteral("amount"), account->coupons);
    return reply;
}

QJsonObject ApiHandlers::nextMessage(const httplib::Request &request)
{
    QString error;
    const auto account = signedIn(request, &error);
    if (!account) {
        return envelope(kFailure, error);
    }
    const auto message = m_database.takeUnreadMessage(account->id);
    if (!message) {
        return envelope(kFailure, QStringLiteral("暂无新消息"));
    }
    QJsonObject reply = envelope(kSuccess, message->text);
    reply.insert(QStringLiteral("page"), message->page);
    return reply;
}

QJsonObject ApiHandlers::announcement(const httplib::Request &request)
{
    QString error;
    const auto account = signedIn(request, &error);
    if (!account) {
        return envelope(kFailure, error);
    }
    const auto latest = m_database.latestAnnouncement();
    if (!latest) {
        return envelope(kFailure, QStringLiteral("暂无公告"));
    }
    QJsonObject reply = envelope(kSuccess, latest->text);
    reply.insert(QStringLiteral("url"), absoluteUrl(latest->url));
    return reply;
}

QJsonObject ApiHandlers::tunnelList(const httplib::Request &request)
{
    QString error;
    const auto account = signedIn(request, &error);
    if (!account) {
        return envelope(kListFailure, error);
    }
    QJsonArray data;
    for (const Tunnel &tunnel : m_database.tunnels(account->id)) {
        data.append(QJsonObject{
            {QStringLiteral("name"), tunnel.name},
            {QStringLiteral("id"), QString::number(tunnel.id)},
            {QStringLiteral("domain"), tunnel.domain},
            {QStringLiteral("dst_address"), tunnel.dstAddress},
            {QStringLiteral("dst_port"), text(tunnel.dstPort)},
            {QStringLiteral("public_address"), tunnel.publicAddress},
            {QStringLiteral("public_port"), text(tunnel.publicPort)},
            {QStringLiteral("public_port2"), tunnel.publicPort2},
            {QStringLiteral("domain_type"), tunnel.domainType},
            {QStringLiteral("channel_type"), tunnel.channelType},
            {QStringLiteral("channel_state"), tunnel.channelState},
            {QStringLiteral("channel_model"), tunnel.channelModel},
            {QStringLiteral("model"), tunnel.model},
            {QStringLiteral("domain_auth"), tunnel.domainAuth},
            {QStringLiteral("daikuan"), text(tunnel.bandwidth)},
        });
    }
    QJsonObject reply = envelope(kListSuccess, QString());
    reply.insert(QStringLiteral("data"), data);
    return reply;
}

QJsonObject ApiHandlers::tunnelCreate(const httplib::Request &request)
{
    QString error;
    const auto account = signedIn(request, &error);
    if (!account) {
        return envelope(kFailure, error);
    }
    QHash<QString, QString> values;
    TunnelInput input;
    if (!webutil::readValues(request,
                             {QStringLiteral("name"), QStringLiteral("private_address"),
                              QStringLiteral("private_port"), QStringLiteral("channel_type"),
                              QStringLiteral("channel_model")},
                             {}, &values, &error) ||
        !readTunnelInput(values, true, &input, &error)) {
        return envelope(kFailure, error);
    }
    Tunnel created;
    switch (m_database.createTunnel(*account, input, &created)) {
    case Database::Outcome::Ok:
        return envelope(kSuccess, QStringLiteral("创建成功，访问地址：%1:%2")
                                      .arg(created.domain)
                                      .arg(created.publicPort));
    case Database::Outcome::QuotaReached:
        return envelope(kFailure,
                        QStringLiteral("映射数量已达上限（%1条），请升级套餐或删除不用的映射")
                            .arg(account->quota));
    case Database::Outcome::NoFreePort:
        return envelope(kFailure, QStringLiteral("公网端口已分配完，请稍后再试"));
    default:
        return envelope(kFailure, QStringLiteral("创建失败，请稍后再试"));
    }
}

QJsonObject ApiHandlers::tunnelUpdate(const httplib::Request &request)
{
    QString error;
    const auto account = signedIn(request, &error);
    if (!account) {
        return envelope(kFailure, error);
    }
    QHash<QString, QString> values;
    TunnelInput input;
    if (!webutil::readValues(request,
                             {QStringLiteral("name"), QStringLiteral("private_address"),
                              QStringLiteral("private_port"), QStringLiteral("id")},
                             {}, &values, &error)) {
        return envelope(kFailure, error);
    }
    bool isNumber = false;
    const qint64 id = values.value(QStringLiteral("id")).toLongLong(&isNumber);
    if (!isNumber || id <= 0) {
        return envelope(kFailure, QStringLiteral("映射ID无效"));
    }
    if (!readTunnelInput(values, false, &input, &error)) {
        return envelope(kFailure, error);
    }
    switch (m_database.updateTunnel(account->id, id, input)) {
    case Database::Outcome::Ok:
        return envelope(kSuccess, QStringLiteral("修改成功"));
    case Database::Outcome::NotFound:
        return envelope(kFailure, QStringLiteral("映射不存在或不属于当前账号"));
    default:
        return envelope(kFailure, QStringLiteral("修改失败，请稍后再试"));
    }
}

QJsonObject ApiHandlers::sceneList(const httplib::Request &request)
{
    QString error;
    if (!signedIn(request, &error)) {
        return envelope(kListFailure, error);
    }
    QJsonArray data;
    for (const Scene &scene : m_database.scenes()) {
        data.append(QJsonObject{
            {QStringLiteral("id"), QString::number(scene.id)},
            {QStringLiteral("name"), scene.name},
            {QStringLiteral("title"), scene.title},
            {QStringLiteral("content"), scene.content},
            {QStringLiteral("icon"), absoluteUrl(scene.icon)},
        });
    }
    QJsonObject reply = envelope(kListSuccess, QString());
    reply.insert(QStringLiteral("data"), data);
    return reply;
}

QJsonObject ApiHandlers::addonList(const httplib::Request &request)
{
    QString error;
    if (!signedIn(request, &error)) {
        return envelope(kListFailure, error);
    }
    QJsonArray data;
    for (const Addon &addon : m_database.addons()) {
        data.append(QJsonObject{
            {QStringLiteral("id"), QString::number(addon.id)},
            {QStringLiteral("name"), addon.name},
            {QStringLiteral("title"), addon.title},
            {QStringLiteral("content"), addon.content},
            {QStringLiteral("icon"), absoluteUrl(addon.icon)},
            {QStringLiteral("state"), addon.state},
            {QStringLiteral("stype"), addon.stype},
            {QStringLiteral("ad_url"), absoluteUrl(addon.ad)},
        });
    }
    QJsonObject reply = envelope(kListSuccess, QString());
    reply.insert(QStringLiteral("data"), data);
    return reply;
}
