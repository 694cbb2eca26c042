#pragma once

#include <QJsonObject>
#include <QString>

// The reply envelope shared by every API call: `code`, `msg`, `data`.

// `code` as an integer; a missing key, a string or an empty reply read as 0.
int replyCode(const QJsonObject &reply);
// `msg` as text; anything but a JSON string reads as empty.
QString replyMessage(const QJsonObject &reply);

// The most elements of a scene or value-added list reply that become rows on
// a page. Every row is a widget of its own; a reply listing far more than any
// account has would otherwise freeze the window for minutes while they are built.
constexpr int MaxListRows = 100;

// Calls whose success value is 1: login, coupons, messages, announcements,
// tunnel create and update.
bool isActionSuccess(const QJsonObject &reply);
