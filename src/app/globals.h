#pragma once

#include <QString>

// Provider addresses, fixed at build time. The client never changes them; they
// are not const only so that tests can point them at local fake servers.
extern QString g_apiBaseUrl;      // provider API, ends in "/"
extern QString g_webBaseUrl;      // provider web site, ends in "/"
extern QString g_tunnelLoginHost; // host of the tunnel login server

extern const QString g_clientVersion;
extern const QString g_serviceName;

// Values of the signed-in account. Filled by a successful login only; a logout
// leaves them as they are and the next login overwrites them.
extern QString g_userId;
extern QString g_userName;
extern QString g_password;
extern QString g_userType;
extern QString g_name;
extern QString g_num;
extern QString g_expireTime;
extern QString g_bandwidth;
extern QString g_startTime;
extern QString g_avatar;
extern QString g_clientIp;
