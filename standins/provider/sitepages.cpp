#include "sitepages.h"

#include "htmlpage.h"
#include "webutil.h"

#include <httplib.h>

#include <QRegularExpression>

using htmlpage::esc;

namespace {
constexpr int kMinPassword = 6;
constexpr int kMaxPassword = 32;

QString single(const QString &content)
{
    return QStringLiteral("<header><a class=\"brand\" href=\"/\">Tessaro</a></header>"
                          "<div class=\"single\">") +
           content + QStringLiteral("</div>");
}
} // namespace

SitePages::SitePages(Database &database, const Pictures &pictures)
    : m_database(database), m_pictures(pictures)
{
}

void SitePages::install(httplib::Server &server)
{
    // The client probes the API base URL at start-up and expects a 2xx answer.
    server.Get("/",
               [this](const httplib::Request &, httplib::Response &response) { home(response); });
    server.Get("/register/index.html",
               [this](const httplib::Request &, httplib::Response &response) {
                   signUpForm(response, QString(), QString());
               });
    server.Post("/register/index.html",
                [this](const httplib::Request &request, httplib::Response &response) {
                    signUp(request, response);
                });
    server.Get("/forget/index.html", [this](const httplib::Request &, httplib::Response &response) {
        recovery(response);
    });
    server.Get("/notice/index.html", [this](const httplib::Request &, httplib::Response &response) {
        notices(response);
    });
    server.Get("/nexl/index.html", [this](const httplib::Request &, httplib::Response &response) {
        privateLine(response);
    });
    server.Get(R"(/images/[a-z_/]+\.png)",
               [this](const httplib::Request &request, httplib::Response &response) {
                   picture(request, response);
               });
}

void SitePages::home(httplib::Response &response)
{
    const QString content =
        QStringLiteral("<h1>Tessaro 内网穿透（本地服务）</h1>"
                       "<p>这是在本机运行的Tessaro服务商：客户端的登录、映射列表、创建和编辑映射、"
                       "场景与增值业务、消息与公告都由它应答，控制台页面也由它提供。</p>"
                       "<ul><li><a href=\"/register/index.html\">注册账号</a></li>"
                       "<li><a href=\"/forget/index.html\">忘记密码</a></li>"
                       "<li><a href=\"/notice/index.html\">公告</a></li>"
                       "<li><a href=\"/nexl/index.html\">NEXL虚拟专线</a></li></ul>"
                       "<p class=\"muted\">控制台需从客户端打开，链接中带有登录信息。</p>");
    htmlpage::send(response, 200, htmlpage::document(QStringLiteral("首页"), single(content)));
}

void SitePages::signUpForm(httplib::Response &response, const QString &error,
                           const QString &username)
{
    QString content = QStringLiteral("<h1>注册账号</h1>");
    if (!error.isEmpty()) {
        content +=
            QStringLiteral("<div class=\"notice error\">") + esc(error) + QStringLiteral("</div>");
    }
    content +=
        QStringLiteral(
            "<form method=\"post\" action=\"/register/index.html\"><p>用户名<br>"
            "<input type=\"text\" name=\"username\" required maxlength=\"20\" value=\"") +
        esc(username) +
        QStringLiteral("\"><br><span class=\"muted\">3到20位字母、数字或下划线</span></p>"
                       "<p>密码<br><input type=\"password\" name=\"password\" required "
                       "maxlength=\"32\"><br><span class=\"muted\">6到32位</span></p>"
                       "<p>确认密码<br><input type=\"password\" name=\"password2\" required "
                       "maxlength=\"32\"></p><p><button type=\"submit\">注册</button></p></form>"
                       "<p class=\"muted\">新账号为免费版：2条映射、1M带宽。</p>");
    htmlpage::send(response, error.isEmpty() ? 200 : 400,
                   htmlpage::document(QStringLiteral("注册账号"), single(content)));
}

void SitePages::signUp(const httplib::Request &request, httplib::Response &response)
{
    QHash<QString, QString> values;
    QString error;
    if (!webutil::readValues(
            request,
            {QStringLiteral("username"), QStringLiteral("password"), QStringLiteral("password2")},
            {}, &values, &error)) {
        signUpForm(response, QStringLiteral("请完整填写注册信息。"), QString());
        return;
    }
    const QString username = values.value(QStringLiteral("username")).trimmed();
    const QString password = values.value(QStringLiteral("password"));
    static const QRegularExpression validName(QStringLiteral("^[A-Za-z0-9_]{3,20}$"));
    if (!validName.match(username).hasMatch()) {
        signUpForm(response, QStringLiteral("用户名须为3到20位字母、数字或下划线。"), username);
        return;
    }
    if (password.size() < kMinPassword || password.size() > kMaxPassword) {
        signUpForm(response, QStringLiteral("密码长度须为6到32位。"), username);
        return;
    }
    if (password != values.value(QStringLiteral("password2"))) {
        signUpForm(response, QStringLiteral("两次输入的密码不一致。"), username);
        return;
    }
    qint64 id = 0;
    switch (m_database.createAccount(username, password, &id)) {
    case Database::Outcome::Ok:
        break;
    case Database::Outcome::Taken:
        signUpForm(response, QStringLiteral("该用户名已被注册。"), username);
        return;
    default:
        signUpForm(response, QStringLiteral("注册失败，请稍后再试。"), username);
        return;
    }
    const QString content = QStringLiteral("<h1>注册成功</h1><div class=\"notice ok\">账号 ") +
                            esc(username) + QStringLiteral("（服务代码 ") + QString::number(id) +
                            QStringLiteral("）已创建。</div><p>请在Tessaro客户端中用新账号登录。"
                                           "</p><p><a href=\"/\">返回首页</a></p>");
    htmlpage::send(response, 200, htmlpage::document(QStringLiteral("注册成功"), single(content)));
}

void SitePages::recovery(httplib::Response &response)
{
    const QString content = QStringLiteral(
        "<h1>忘记密码</h1><p>正式的服务商会通过绑定的手机或邮箱帮您重设密码。</p>"
        "<p>这里是本机运行的服务商，不发送短信或邮件，因此无法在线找回密码。您可以：</p><ul>"
        "<li><a href=\"/register/index.html\">注册一个新账号</a>；</li>"
        "<li>让管理员用 <code>tessaro-provider --reset</code> 重建演示数据，"
        "演示账号的密码会恢复为初始值（此操作会清除所有账号和映射）。</li></ul>"
        "<p><a href=\"/\">返回首页</a></p>");
    htmlpage::send(response, 200, htmlpage::document(QStringLiteral("忘记密码"), single(content)));
}

void SitePages::notices(httplib::Response &response)
{
    const auto latest = m_database.latestAnnouncement();
    QString content = QStringLiteral("<h1>公告</h1>");
    content += latest ? QStringLiteral("<div class=\"card\">") + esc(latest->text) +
                            QStringLiteral("</div>")
                      : QStringLiteral("<p>暂无公告。</p>");
    content += QStringLiteral("<p><a href=\"/\">返回首页</a></p>");
    htmlpage::send(response, 200, htmlpage::document(QStringLiteral("公告"), single(content)));
}

void SitePages::privateLine(httplib::Response &response)
{
    const QString content = QStringLiteral(
        "<h1>NEXL虚拟专线</h1><p>NEXL把多个地点的网络连成一个虚拟局域网，"
        "分支机构和在家办公的同事可以像在公司内网一样访问私有云和内部系统。</p>"
        "<p>本地服务只演示客户端功能，不提供虚拟专线。</p><p><a href=\"/\">返回首页</a></p>");
    htmlpage::send(response, 200,
                   htmlpage::document(QStringLiteral("NEXL虚拟专线"), single(content)));
}

void SitePages::picture(const httplib::Request &request, httplib::Response &response)
{
    const QByteArray png = m_pictures.png(QString::fromStdString(request.path).mid(1));
    if (png.isEmpty()) {
        response.status = 404;
        response.set_content("not found\n", "text/plain; charset=utf-8");
        return;
    }
    response.status = 200;
    response.set_header("Cache-Control", "max-age=3600");
    response.set_content(png.constData(), size_t(png.size()), "image/png");
}
