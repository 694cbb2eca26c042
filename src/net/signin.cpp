#include "net/signin.h"

#include "app/globals.h"
#include "app/myoperatorutil.h"
#include "net/apipath.h"

#include <QJsonValue>

QString loginPath(const QString &userName, const QString &password)
{
    return buildApiPath(QStringLiteral("ClientUserAction"), QStringLiteral("login"),
                        {{QStringLiteral("username"), userName},
                         {QStringLiteral("password"), password},
                         {QStringLiteral("c_version"), g_clientVersion}});
}

bool applyLoginReply(const QJsonObject &reply, MyOperatorUtil &store)
{
    const QJsonObject data = reply.value(QStringLiteral("data")).toObject();
    auto text = [&data](const char *key) { return data.value(QLatin1String(key)).toString(); };
    g_userId = text("userId");
    g_userName = text("username");
    g_password = text("password");
    g_userType = text("user_type");
    g_name = text("name");
    g_num = text("num");
    g_expireTime = text("daoqitime");
    g_bandwidth = text("daikuan");
    g_startTime = text("stime");
    g_avatar = text("touxiang");
    g_clientIp = reply.value(QStringLiteral("clientIp")).toString();

    bool stored = store.setValue(QStringLiteral("server/user"), g_userName);
    stored = store.setValue(QStringLiteral("server/pass"), g_password) && stored;
    stored = store.setValue(QStringLiteral("server/userId"), g_userId) && stored;
    return stored;
}
