#pragma once

#include <QJsonObject>
#include <QString>

// The reply envelope shared by every API call: `code`, `msg`, `data`.

// `code` as an integer; a missing key, a string or an empty reply read as 0.
int replyCode(const QJsonObject &reply);
// `msg` as text; anything but a JSON string reads as empty.
QString replyMessage(const QJsonObject &reply);

// Calls whose success value is 1: login, coupons, messages, announcements,
// tunnel create and update.
bool isActionSuccess(const QJsonObject &reply);
