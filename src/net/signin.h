#pragma once

#include <QJsonObject>
#include <QString>

class MyOperatorUtil;

// The login call's path for the typed user name and password.
QString loginPath(const QString &userName, const QString &password);

// Fills the sign-in values from a successful login reply (values from `data`,
// `clientIp` from the top level) and writes the three credential-store keys.
// Returns whether all three were stored.
bool applyLoginReply(const QJsonObject &reply, MyOperatorUtil &store);
