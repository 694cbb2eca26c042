#include "consolepages.h"

#include "htmlpage.h"
#include "pictures.h"
#include "webutil.h"

#include <httplib.h>

#include <QRegularExpression>

using htmlpage::esc;

const char *const ConsolePages::kSessionCookie = "tessaro_session";

namespace {
constexpr int kSessionHours = 8;
constexpr int kMaxSessions = 10000;

// Outcomes of the tunnel forms, shown after the redirect back to the panel.
struct Notice
{
    const char *key;
    bool ok;
    const char *text;
};
const Notice kNotices[] = {
    {"deleted", true, "映射已删除。客户端中点击“重启服务”后生效。"},
    {"domain_changed", true, "域名已修改。客户端中点击“重启服务”后生效。"},
    {"not_found", false, "映射不存在或不属于当前账号。"},
    {"confirm_missing", false, "请勾选“确认删除”后再删除。"},
    {"domain_invalid", false,
     "域名前缀只能包含小写字母、数字和短横线，长度3到32位，且不能以短横线开头或结尾。"},
    {"domain_taken", false, "该域名已被占用，请换一个。"},
    {"bad_request", false, "请求无效，请刷新页面后重试。"},
    {"failed", false, "操作失败，请稍后再试。"},
};

QString noticeHtml(const QString &key)
{
    for (const Notice &notice : kNotices) {
        if (key == QLatin1String(notice.key)) {
            return QStringLiteral("<div class=\"notice %1\">%2</div>")
                .arg(QLatin1String(notice.ok ? "ok" : "error"), QString::fromUtf8(notice.text));
        }
    }
    return QString();
}

QString engineName(const QString &model)
{
    if (model == QLatin1String("4")) {
        return QStringLiteral("极速9.0（公测）");
    }
    return QStringLiteral("极速8.0");
}

QString domainSuffix()
{
    return QLatin1Char('.') + QString::fromLatin1(Database::kDomainSuffix);
}

QString hidden(const char *name, const QString &value)
{
    return QStringLiteral("<input type=\"hidden\" name=\"%1\" value=\"%2\">")
        .arg(QLatin1String(name), esc(value));
}

QString link(const char *page, const QString &label)
{
    return QStringLiteral("<a href=\"/ClientAction?page=%1\">%2</a>")
        .arg(QLatin1String(page), esc(label));
}
} // namespace

const ConsolePages::PageInfo ConsolePages::kPages[] = {
    {"chuantou_panel", "映射管理", &ConsolePages::tunnelPanel},
    {"changjing_panel", "场景映射", &ConsolePages::scenePanel},
    {"xiaoxi", "消息中心", &ConsolePages::messagePage},
    {"daijinquan", "代金券", &ConsolePages::couponPage},
    {"price", "套餐价格", &ConsolePages::pricePage},
    {"haohuaban", "豪华版", &ConsolePages::deluxePage},
    {"vip", "VIP专属服务", &ConsolePages::vipPage},
    {"dingzhi", "定制服务", &ConsolePages::customPage},
    {"c750", "智能设备", &ConsolePages::devicePage},
    {"kaipiao", "发票管理", &ConsolePages::invoicePage},
    {"gongdan", "技术工单", &ConsolePages::ticketPage},
    {"jiaocheng", "使用教程", &ConsolePages::tutorialPage},
    {"paicha1", "内网服务排查", &ConsolePages::localCheckHelp},
    {"paicha2", "公网访问排查", &ConsolePages::publicCheckHelp},
    {"paicha3", "后台服务排查", &ConsolePages::serviceHelp},
};

ConsolePages::ConsolePages(Database &database) : m_database(database) {}

void ConsolePages::install(httplib::Server &server)
{
    server.Get("/ClientAction",
               [this](const httplib::Request &request, httplib::Response &response) {
                   showPage(request, response);
               });
    server.Post("/ClientAction",
                [this](const httplib::Request &request, httplib::Response &response) {
                    changeTunnel(request, response);
                });
}

ConsolePages::Session ConsolePages::startSession(qint64 accountId, QString *token)
{
    *token = webutil::randomToken(16);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        it = it->expires < now ? m_sessions.erase(it) : std::next(it);
    }
    if (m_sessions.size() >= kMaxSessions) {
        m_sessions.erase(m_sessions.begin()); // keep memory bounded under abuse
    }
    const Session session{accountId, webutil::randomToken(16), now.addSecs(kSessionHours * 3600)};
    m_sessions.insert(*token, session);
    return session;
}

bool ConsolePages::findSession(const httplib::Request &request, Session *session)
{
    const QString token = webutil::cookieValue(request, QString::fromLatin1(kSessionCookie));
    if (token.isEmpty()) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_sessions.constFind(token);
    if (it == m_sessions.constEnd() || it->expires < QDateTime::currentDateTimeUtc()) {
        return false;
    }
    *session = *it;
    return true;
}

void ConsolePages::signInError(httplib::Response &response, const QString &reason)
{
    const QString body = QStringLiteral("<div class=\"single\"><h1>无法进入控制台</h1>"
                                        "<div class=\"notice error\">") +
                         esc(reason) +
                         QStringLiteral("</div><p>请在Tessaro客户端中登录后，从客户端的菜单或按钮"
                                        "重新打开控制台页面。</p><p><a href=\"/forget/"
                                        "index.html\">忘记密码</a> · <a href=\"/register/"
                                        "index.html\">注册账号</a> · <a href=\"/\">首页</a></p>"
                                        "</div>");
    htmlpage::send(response, 403, htmlpage::document(QStringLiteral("无法进入控制台"), body));
}

void ConsolePages::showPage(const httplib::Request &request, httplib::Response &response)
{
    QHash<QString, QString> values;
    QString error;
    if (!webutil::readValues(request, {},
                             {QStringLiteral("userid"), QStringLiteral("password"),
                              QStringLiteral("page"), QStringLiteral("notice")},
                             &values, &error)) {
        signInError(response, error);
        return;
    }
    Session session;
    std::optional<Account> account;
    if (values.contains(QStringLiteral("userid")) || values.contains(QStringLiteral("password"))) {
        bool isNumber = false;
        const qint64 id = values.value(QStringLiteral("userid")).toLongLong(&isNumber);
        if (isNumber) {
            account = m_database.authenticateById(id, values.value(QStringLiteral("password")));
        }
        if (!account) {
            signInError(response, QStringLiteral("账号或密码错误，或登录信息已失效。"));
            return;
        }
        QString token;
        session = startSession(account->id, &token);
        response.set_header("Set-Cookie",
                            QStringLiteral("%1=%2; Path=/; HttpOnly; SameSite=Strict; Max-Age=%3")
                                .arg(QLatin1String(kSessionCookie), token)
                                .arg(kSessionHours * 3600)
                                .toStdString());
    } else if (findSession(request, &session)) {
        account = m_database.account(session.accountId);
        if (!account) {
            signInError(response, QStringLiteral("账号不存在。"));
            return;
        }
    } else {
        signInError(response, QStringLiteral("尚未登录或登录已过期。"));
        return;
    }

    const PageContext context{*account, session, request};
    const QString key = values.value(QStringLiteral("page"));
    if (key.isEmpty()) {
        htmlpage::send(response, 200,
                       frame(context, key, QStringLiteral("控制台首页"), homePage(context)));
        return;
    }
    for (const PageInfo &page : kPages) {
        if (key == QLatin1String(page.key)) {
            const QString title = QString::fromUtf8(page.title);
            htmlpage::send(response, 200,
                           frame(context, key, title, (this->*page.render)(context)));
            return;
        }
    }
    const QString missing = QStringLiteral("<h1>页面不存在</h1><p>控制台没有名为“") + esc(key) +
                            QStringLiteral("”的页面。请从左侧菜单选择。</p>");
    htmlpage::send(response, 404, frame(context, key, QStringLiteral("页面不存在"), missing));
}

void ConsolePages::changeTunnel(const httplib::Request &request, httplib::Response &response)
{
    Session session;
    if (!findSession(request, &session)) {
        signInError(response, QStringLiteral("尚未登录或登录已过期。"));
        return;
    }
    auto finish = [&response](const char *notice) {
        response.set_redirect(QStringLiteral("/ClientAction?page=chuantou_panel&notice=%1")
                                  .arg(QLatin1String(notice))
                                  .toStdString(),
                              303);
    };
    QHash<QString, QString> values;
    QString error;
    if (!webutil::readValues(
            request, {QStringLiteral("token"), QStringLiteral("action"), QStringLiteral("id")},
            {QStringLiteral("prefix"), QStringLiteral("confirm")}, &values, &error)) {
        finish("bad_request");
        return;
    }
    // The form token proves that the form came from this console page and not
    // from another site riding on the session cookie.
    if (values.value(QStringLiteral("token")) != session.formToken) {
        const QString body = QStringLiteral("<div class=\"single\"><h1>表单已失效</h1><p>"
                                            "请回到<a href=\"/ClientAction?page=chuantou_panel\">"
                                            "映射管理</a>刷新页面后重试。</p></div>");
        htmlpage::send(response, 403, htmlpage::document(QStringLiteral("表单已失效"), body));
        return;
    }
    bool isNumber = false;
    const qint64 id = values.value(QStringLiteral("id")).toLongLong(&isNumber);
    if (!isNumber) {
        finish("not_found");
        return;
    }
    const QString action = values.value(QStringLiteral("action"));
    if (action == QLatin1String("delete")) {
        if (values.value(QStringLiteral("confirm")) != QLatin1String("1")) {
            finish("confirm_missing");
            return;
        }
        switch (m_database.deleteTunnel(session.accountId, id)) {
        case Database::Outcome::Ok:
            finish("deleted");
            return;
        case Database::Outcome::NotFound:
            finish("not_found");
            return;
        default:
            finish("failed");
            return;
        }
    }
    if (action == QLatin1String("domain")) {
        const QString prefix = values.value(QStringLiteral("prefix")).trimmed().toLower();
        static const QRegularExpression label(QStringLiteral("^[a-z0-9][a-z0-9-]{1,30}[a-z0-9]$"));
        if (!label.match(prefix).hasMatch()) {
            finish("domain_invalid");
            return;
        }
        switch (m_database.setTunnelDomain(session.accountId, id, prefix + domainSuffix())) {
        case Database::Outcome::Ok:
            finish("domain_changed");
            return;
        case Database::Outcome::NotFound:
            finish("not_found");
            return;
        case Database::Outcome::Taken:
            finish("domain_taken");
            return;
        default:
            finish("failed");
            return;
        }
    }
    finish("bad_request");
}

QString ConsolePages::frame(const PageContext &context, const QString &pageKey,
                            const QString &title, const QString &content)
{
    QString nav = QStringLiteral("<a href=\"/ClientAction\"%1>控制台首页</a>")
                      .arg(pageKey.isEmpty() ? QStringLiteral(" class=\"current\"") : QString());
    for (const PageInfo &page : kPages) {
        const bool current = pageKey == QLatin1String(page.key);
        nav += QStringLiteral("<a href=\"/ClientAction?page=%1\"%2>%3</a>")
                   .arg(QLatin1String(page.key),
                        current ? QStringLiteral(" class=\"current\"") : QString(),
                        esc(QString::fromUtf8(page.title)));
    }
    const QString body =
        QStringLiteral("<header><a class=\"brand\" href=\"/ClientAction\">Tessaro 控制台</a>"
                       "<span>") +
        esc(context.account.displayName) + QStringLiteral("（") + esc(context.account.username) +
        QStringLiteral("）· ") + esc(context.account.userType) +
        QStringLiteral("</span></header><div class=\"layout\"><nav>") + nav +
        QStringLiteral("</nav><main>") + content + QStringLiteral("</main></div>");
    return htmlpage::document(title, body);
}

QString ConsolePages::homePage(const PageContext &context)
{
    const Account &a = context.account;
    const int tunnelCount = m_database.tunnels(a.id).size();
    return QStringLiteral("<h1>控制台首页</h1><div class=\"card\"><dl>") +
           QStringLiteral("<dt>服务代码</dt><dd>") + QString::number(a.id) +
           QStringLiteral("</dd><dt>当前账号</dt><dd>") + esc(a.username) +
           QStringLiteral("</dd><dt>当前版本</dt><dd>") + esc(a.userType) +
           QStringLiteral("</dd><dt>映射数</dt><dd>") + QString::number(tunnelCount) +
           QLatin1Char('/') + QString::number(a.quota) +
           QStringLiteral(" 条</dd><dt>高速带宽</dt><dd>") + QString::number(a.bandwidth) +
           QStringLiteral("M</dd><dt>注册时间</dt><dd>") + esc(a.registered) +
           QStringLiteral("</dd><dt>到期时间</dt><dd>") + esc(a.expires) +
           QStringLiteral("</dd></dl></div><p>常用：") +
           link("chuantou_panel", QStringLiteral("映射管理")) + QStringLiteral(" · ") +
           link("xiaoxi", QStringLiteral("消息中心")) + QStringLiteral(" · ") +
           link("jiaocheng", QStringLiteral("使用教程")) + QStringLiteral("</p>");
}

QString ConsolePages::tunnelPanel(const PageContext &context)
{
    const QVector<Tunnel> tunnels = m_database.tunnels(context.account.id);
    QHash<QString, QString> values;
    QString error;
    webutil::readValues(context.request, {}, {QStringLiteral("notice")}, &values, &error);
    QString html =
        QStringLiteral("<h1>映射管理</h1>") + noticeHtml(values.value(QStringLiteral("notice"))) +
        QStringLiteral("<p>映射数 ") + QString::number(tunnels.size()) + QLatin1Char('/') +
        QString::number(context.account.quota) +
        QStringLiteral(" 条。新建和编辑映射请在客户端中进行；修改域名和删除映射在这里完成。"
                       "</p>");
    if (tunnels.isEmpty()) {
        html += QStringLiteral("<div class=\"card\">当前账号还没有映射。</div>");
    }
    const QString suffix = domainSuffix();
    for (const Tunnel &t : tunnels) {
        const QString id = QString::number(t.id);
        const QString prefix =
            t.domain.endsWith(suffix) ? t.domain.left(t.domain.size() - suffix.size()) : t.domain;
        html += QStringLiteral("<div class=\"card\"><h2>") + esc(t.name) +
                QStringLiteral(" <span class=\"muted\">ID ") + id +
                QStringLiteral("</span></h2><dl><dt>内网地址</dt><dd>") + esc(t.dstAddress) +
                QLatin1Char(':') + QString::number(t.dstPort) +
                QStringLiteral("</dd><dt>访问地址</dt><dd>") + esc(t.domain) + QLatin1Char(':') +
                QString::number(t.publicPort) + QStringLiteral("</dd><dt>公网入口</dt><dd>") +
                esc(t.publicAddress) + QLatin1Char(':') + QString::number(t.publicPort) +
                QStringLiteral("</dd><dt>穿透模式</dt><dd>") + esc(engineName(t.channelModel)) +
                QStringLiteral("</dd><dt>带宽</dt><dd>") + QString::number(t.bandwidth) +
                QStringLiteral("M</dd></dl>");
        html += QStringLiteral("<form class=\"inline\" method=\"post\" action=\"/ClientAction\">") +
                hidden("action", QStringLiteral("domain")) + hidden("id", id) +
                hidden("token", context.session.formToken) +
                QStringLiteral("<input type=\"text\" name=\"prefix\" required maxlength=\"32\" "
                               "value=\"") +
                esc(prefix) + QStringLiteral("\"> ") + esc(suffix) +
                QStringLiteral(" <button type=\"submit\">修改域名</button></form>");
        html += QStringLiteral("<form class=\"inline\" method=\"post\" action=\"/ClientAction\">") +
                hidden("action", QStringLiteral("delete")) + hidden("id", id) +
                hidden("token", context.session.formToken) +
                QStringLiteral("<label><input type=\"checkbox\" name=\"confirm\" value=\"1\" "
                               "required> 确认删除</label> <button type=\"submit\" "
                               "class=\"danger\">删除映射</button></form></div>");
    }
    return html;
}

QString ConsolePages::scenePanel(const PageContext &)
{
    QString html = QStringLiteral("<h1>场景映射</h1><p>以下场景都可以在客户端“创建映射”中直接建立："
                                  "填写对应软件的内网地址和端口即可。本地服务不收取费用。</p>");
    for (const Scene &scene : m_database.scenes()) {
        html += QStringLiteral("<div class=\"card\"><h2><img class=\"icon\" src=\"/") +
                esc(scene.icon) + QStringLiteral("\" alt=\"\" width=\"35\" height=\"35\">") +
                esc(scene.name) + QStringLiteral("</h2><p><b>") + esc(scene.title) +
                QStringLiteral("</b></p><p>") + esc(scene.content) + QStringLiteral("</p></div>");
    }
    return html;
}

QString ConsolePages::messagePage(const PageContext &context)
{
    const QVector<Message> messages = m_database.messages(context.account.id);
    QString html = QStringLiteral("<h1>消息中心</h1>");
    if (messages.isEmpty()) {
        return html + QStringLiteral("<div class=\"card\">没有消息。</div>");
    }
    html += QStringLiteral("<table><tr><th>时间</th><th>内容</th><th>状态</th></tr>");
    for (const Message &message : messages) {
        html += QStringLiteral("<tr><td>") + esc(message.created) + QStringLiteral("</td><td>") +
                esc(message.text) + QStringLiteral("</td><td>") +
                (message.read ? QStringLiteral("已读") : QStringLiteral("未读")) +
                QStringLiteral("</td></tr>");
    }
    return html + QStringLiteral("</table>");
}

QString ConsolePages::couponPage(const PageContext &context)
{
    return QStringLiteral("<h1>代金券</h1><div class=\"card\"><p>当前账号有 <b>") +
           QString::number(context.account.coupons) +
           QStringLiteral("</b> 张代金券。</p><p>代金券可在续费或升级套餐时抵扣。"
                          "本地服务不接入支付，因此这里不能使用或兑换代金券。</p></div>");
}

QString ConsolePages::pricePage(const PageContext &context)
{
    struct Plan
    {
        const char *name;
        int tunnels;
        int bandwidth;
        const char *price;
    };
    const Plan plans[] = {
        {"免费版", 2, 1, "0元"},
        {"专业版", 5, 4, "99元/年"},
        {"豪华版", 20, 10, "299元/年"},
    };
    QString html = QStringLiteral("<h1>套餐价格</h1><table><tr><th>版本</th><th>映射数</th>"
                                  "<th>带宽</th><th>价格</th></tr>");
    for (const Plan &plan : plans) {
        const QString name = QString::fromUtf8(plan.name);
        html += QStringLiteral("<tr><td>") + esc(name) +
                (name == context.account.userType ? QStringLiteral("（当前）") : QString()) +
                QStringLiteral("</td><td>") + QString::number(plan.tunnels) +
                QStringLiteral(" 条</td><td>") + QString::number(plan.bandwidth) +
                QStringLiteral("M</td><td>") + QString::fromUtf8(plan.price) +
                QStringLiteral("</td></tr>");
    }
    return html + QStringLiteral("</table><p class=\"muted\">价格仅作展示。本地服务不接入支付，"
                                 "无法在线购买或升级。</p>");
}

QString ConsolePages::deluxePage(const PageContext &)
{
    return QStringLiteral("<h1>豪华版</h1><div class=\"card\"><p>豪华版提供20条映射、10M带宽、"
                          "固定公网端口和优先技术支持。</p><p>本地服务不接入支付，无法在这里开通。"
                          "各版本对比见") +
           link("price", QStringLiteral("套餐价格")) + QStringLiteral("。</p></div>");
}

QString ConsolePages::vipPage(const PageContext &)
{
    return QStringLiteral("<h1>VIP专属服务</h1><div class=\"card\"><p>VIP客户享有专属技术顾问、"
                          "映射迁移协助和故障优先处理。</p><p>本地服务没有值守人员，"
                          "VIP服务不在这里提供。</p></div>");
}

QString ConsolePages::customPage(const PageContext &)
{
    return QStringLiteral("<h1>定制服务</h1><div class=\"card\"><p>专属线路、私有化部署、"
                          "品牌定制客户端等企业需求需与服务商商务洽谈。</p><p>本地服务不受理"
                          "定制需求。</p></div>");
}

QString ConsolePages::devicePage(const PageContext &)
{
    return QStringLiteral("<h1>智能设备</h1><div class=\"card\"><p><img src=\"/") +
           esc(QString::fromLatin1(Pictures::kDevicePicture)) +
           QStringLiteral("\" alt=\"智能设备\" width=\"310\"></p><p>C750智能穿透盒子：接上网线"
                          "即可把局域网内的设备映射到公网，无需在电脑上安装客户端。</p><p>"
                          "本地服务不销售硬件。</p></div>");
}

QString ConsolePages::invoicePage(const PageContext &)
{
    return QStringLiteral("<h1>发票管理</h1><div class=\"card\"><p>当前账号没有可开票的订单。"
                          "</p><p>本地服务不产生费用，因此不开具发票。</p></div>");
}

QString ConsolePages::ticketPage(const PageContext &)
{
    return QStringLiteral("<h1>技术工单</h1><div class=\"card\"><p>本地服务没有值守的技术人员，"
                          "不受理工单。常见问题可按以下页面自行排查：</p><ul><li>") +
           link("paicha1", QStringLiteral("内网服务连接失败")) + QStringLiteral("</li><li>") +
           link("paicha2", QStringLiteral("公网访问地址连接失败")) + QStringLiteral("</li><li>") +
           link("paicha3", QStringLiteral("后台服务未运行")) + QStringLiteral("</li><li>") +
           link("jiaocheng", QStringLiteral("使用教程")) + QStringLiteral("</li></ul></div>");
}

QString ConsolePages::tutorialPage(const PageContext &)
{
    return QStringLiteral(
               "<h1>使用教程</h1><div class=\"card\"><ol>"
               "<li>"
               "在客户端用账号登录。登录后客户端会启动后台服务，并在本机18000端口运行一个测试网站。"
               "</li>"
               "<li>在“内网穿透”页点击“创建映射”，填写应用名称、内网地址（如127.0.0.1）和内网端口"
               "（如18000），点击“保存并提交”。</li>"
               "<li>创建成功后选择“立即生效”，客户端会重启后台服务。</li>"
               "<li>映射卡片上的“访问地址”就是公网访问地址；可用“检测”查看本地和公网两端是否连通。<"
               "/li>"
               "<li>修改域名或删除映射请打开") +
           link("chuantou_panel", QStringLiteral("映射管理")) +
           QStringLiteral("。</li></ol></div>");
}

QString ConsolePages::localCheckHelp(const PageContext &)
{
    return QStringLiteral(
        "<h1>内网服务排查</h1><div class=\"card\"><p>检测第一步连接的是映射的内网地址和端口。"
        "连接失败通常是因为：</p><ul>"
        "<li>本地应用没有运行，或没有监听填写的端口；</li>"
        "<li>内网地址或端口填写有误（可在客户端“编辑”中修改）；</li>"
        "<li>本机或目标机器的防火墙拦截了连接。</li></ul>"
        "<p>想先体验一下，可把映射指向客户端自带的测试网站127.0.0.1:18000。</p></div>");
}

QString ConsolePages::publicCheckHelp(const PageContext &)
{
    return QStringLiteral(
        "<h1>公网访问排查</h1><div class=\"card\"><p>检测第二步连接的是映射的公网入口。"
        "连接失败通常是因为：</p><ul>"
        "<li>后台服务没有运行，或刚创建、修改的映射还没有生效——在客户端点击“重启服务”；</li>"
        "<li>第一步的内网服务本身无法连接；</li>"
        "<li>网络或安全软件拦截了出站连接。</li></ul></div>");
}

QString ConsolePages::serviceHelp(const PageContext &)
{
    return QStringLiteral(
        "<h1>后台服务排查</h1><div class=\"card\"><p>映射的流量由后台服务承载，客户端只负责"
        "管理。服务未运行时：</p><ul>"
        "<li>在客户端点击“重启服务”；</li>"
        "<li>打开客户端的诊断工具，检查服务、网络和服务器连通性；</li>"
        "<li>若安全软件拦截了服务，请把它加入信任列表后再启动。</li></ul></div>");
}
