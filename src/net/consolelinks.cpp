#include "net/consolelinks.h"

#include "app/globals.h"
#include "app/myoperatorutil.h"
#include "net/apipath.h"

#include <QDebug>
#include <QDesktopServices>
#include <QNetworkInterface>
#include <QUrl>

QString consoleLink(const QString &page)
{
    return g_webBaseUrl + QStringLiteral("ClientAction?") +
           buildQuery({{QStringLiteral("userid"), g_userId},
                       {QStringLiteral("password"), g_password},
                       {QStringLiteral("page"), page}});
}

void MyOperatorUtil::jumpToPage(const QString &page)
{
    qDebug() << "跳转到页面:" + page;
    openInBrowser(QUrl(consoleLink(page)));
}

bool openInBrowser(const QUrl &url)
{
    if (QDesktopServices::openUrl(url))
        return true;
    qDebug().noquote() << QStringLiteral("openUrl failed: ") + redactPasswords(url.toString());
    return false;
}

QString pickLocalIp(const QList<InterfaceInfo> &interfaces)
{
    QString result;
    for (const InterfaceInfo &info : interfaces) {
        if (!info.up || info.loopback)
            continue;
        qDebug() << "Interface Name:" + info.name;
        for (const QHostAddress &address : info.addresses) {
            if (address.protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            qDebug() << "IP Address:" + address.toString();
            result = address.toString();
        }
    }
    return result;
}

QString MyOperatorUtil::getLocalIp() const
{
    QList<InterfaceInfo> interfaces;
    const auto all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : all) {
        InterfaceInfo info;
        info.name = iface.name();
        info.up = iface.flags().testFlag(QNetworkInterface::IsUp);
        info.loopback = iface.flags().testFlag(QNetworkInterface::IsLoopBack);
        for (const QNetworkAddressEntry &entry : iface.addressEntries())
            info.addresses.append(entry.ip());
        interfaces.append(info);
    }
    return pickLocalIp(interfaces);
}
