#pragma once

#include <QDate>
#include <QString>

// Values that the account panel and the personal centre show, computed from
// the sign-in values.

// Days from the date in `dateTime` ("yyyy-MM-dd hh:mm:ss") to `today`: 1 for
// today and for text that does not parse, negative for a date in the future.
int daysSinceDate(const QString &dateTime, const QDate &today);

// "<start> （Tessaro与您随行<days>天）"
QString registrationText(const QString &startTime, int days);

// "<userId> （如需技术支持或者服务请提供此代码）"
QString serviceCodeText(const QString &userId);

// "<product name> <version>" of the operating system.
QString systemText(const QString &productName, const QString &productVersion);

// Caption of the coupon button: "代金券 (<amount>)".
QString couponCaption(int amount);

// The style of the coupon button.
QString couponStyleSheet();

// The banner link from an announcement: web addresses only, anything else
// (a file, a program, a custom scheme) becomes empty and opens nothing.
QString bannerLink(const QString &url);
