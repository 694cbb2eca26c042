#include "app/globals.h"

#include "buildconfig.h"

QString g_apiBaseUrl = QStringLiteral(TESSARO_API_BASE_URL);
QString g_webBaseUrl = QStringLiteral(TESSARO_WEB_BASE_URL);
QString g_tunnelLoginHost = QStringLiteral(TESSARO_TUNNEL_LOGIN_HOST);
const QString g_clientVersion = QStringLiteral(TESSARO_VERSION);
const QString g_serviceName = QStringLiteral("tessarosvc");

QString g_userId;
QString g_userName;
QString g_password;
QString g_userType;
QString g_name;
QString g_num;
QString g_expireTime;
QString g_bandwidth;
QString g_startTime;
QString g_avatar;
QString g_clientIp;
