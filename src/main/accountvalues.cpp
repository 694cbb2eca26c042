#include "main/accountvalues.h"

#include <QDateTime>
#include <QUrl>

int daysSinceDate(const QString &dateTime, const QDate &today)
{
    const QDate date =
        QDateTime::fromString(dateTime, QStringLiteral("yyyy-MM-dd hh:mm:ss")).date();
    // An invalid date counts 0 days, which shows as 1 like a sign-up today.
    const qint64 days = date.isValid() ? date.daysTo(today) : 0;
    return days == 0 ? 1 : static_cast<int>(days);
}

QString registrationText(const QString &startTime, int days)
{
    return startTime + QStringLiteral(" （Tessaro与您随行") + QString::number(days) +
           QStringLiteral("天）");
}

QString serviceCodeText(const QString &userId)
{
    return userId + QStringLiteral(" （如需技术支持或者服务请提供此代码）");
}

QString systemText(const QString &productName, const QString &productVersion)
{
    return productName + QLatin1Char(' ') + productVersion;
}

QString couponCaption(int amount)
{
    return QStringLiteral("代金券 (") + QString::number(amount) + QLatin1Char(')');
}

QString couponStyleSheet()
{
    return QStringLiteral("QPushButton{border:1px solid #ff4242;border-radius:3px;color:#ff4242;"
                          "font:12px \"微软雅黑\";background-color:transparent;}"
                          "QPushButton:hover{background-color:#fcf3e7;}");
}

QString bannerLink(const QString &url)
{
    const QUrl link(url);
    const QString scheme = link.scheme().toLower();
    if (link.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")))
        return url;
    return QString();
}
