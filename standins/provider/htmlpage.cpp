#include "htmlpage.h"

#include "webutil.h"

#include <httplib.h>

namespace htmlpage {

namespace {
const char kStyle[] = R"css(
body { margin: 0; font: 14px "微软雅黑", "Microsoft YaHei", sans-serif; color: rgb(90, 90, 90);
       background: #f5f5f5; }
a { color: #2a6ebe; }
header { background: #fff; border-bottom: 1px solid #cbc8ca; padding: 12px 24px;
         display: flex; justify-content: space-between; align-items: center; }
header .brand { font-size: 18px; color: rgb(60, 60, 60); text-decoration: none; }
.layout { display: flex; min-height: calc(100vh - 50px); }
nav { width: 175px; background: rgb(232, 232, 232); padding-top: 8px; flex: none; }
nav a { display: block; padding: 9px 18px; color: rgb(90, 90, 90); text-decoration: none; }
nav a.current, nav a:hover { background: #cbc8ca; }
main { flex: 1; padding: 20px 28px; max-width: 860px; }
.single { max-width: 560px; margin: 40px auto; background: #fff; padding: 24px 32px;
          border: 1px solid #cbc8ca; border-radius: 3px; }
h1 { font-size: 20px; color: rgb(60, 60, 60); margin-top: 0; }
h2 { font-size: 16px; color: rgb(70, 70, 70); }
.card { background: #fff; border: 1px solid #cbc8ca; border-radius: 3px; padding: 14px 18px;
        margin-bottom: 14px; }
table { border-collapse: collapse; width: 100%; background: #fff; }
th, td { border: 1px solid #e3e2e3; padding: 7px 10px; text-align: left; }
th { background: #f0f0f0; }
input[type=text], input[type=password] { border: 1px solid #cbc8ca; border-radius: 3px;
        padding: 5px 8px; font: inherit; }
button { border: 1px solid #cbc8ca; border-radius: 3px; background: #fff; padding: 5px 14px;
         font: inherit; color: rgb(90, 90, 90); cursor: pointer; }
button:hover { background: #e3e2e3; }
button.danger { color: #fc5531; border-color: #fc5531; }
.notice { padding: 10px 14px; border-radius: 3px; margin-bottom: 14px; }
.ok { background: #eaf7ea; color: rgb(0, 130, 0); border: 1px solid #b7e0b7; }
.error { background: #fdeeea; color: #d6401f; border: 1px solid #f5c0b3; }
.muted { color: rgb(140, 140, 140); font-size: 12px; }
form.inline { display: inline-block; margin: 4px 12px 4px 0; }
dl { display: grid; grid-template-columns: 120px 1fr; row-gap: 6px; }
dt { color: rgb(130, 130, 130); }
dd { margin: 0; }
img.icon { vertical-align: middle; margin-right: 8px; }
)css";
} // namespace

QString document(const QString &title, const QString &body)
{
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width\">"
                          "<title>%1 - Tessaro</title><style>%2</style></head><body>%3"
                          "</body></html>\n")
        .arg(esc(title), QString::fromUtf8(kStyle), body);
}

void send(httplib::Response &response, int status, const QString &html)
{
    response.status = status;
    response.set_header("Cache-Control", "no-store");
    response.set_header("Referrer-Policy", "no-referrer");
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_header("X-Frame-Options", "DENY");
    response.set_header("Content-Security-Policy",
                        "default-src 'none'; img-src 'self'; style-src 'unsafe-inline'; "
                        "form-action 'self'; frame-ancestors 'none'");
    response.set_content(html.toStdString(), "text/html; charset=utf-8");
}

QString esc(const QString &text)
{
    return webutil::htmlEscape(text);
}

} // namespace htmlpage
