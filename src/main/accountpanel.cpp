#include "main/maindialog.h"

#include "app/globals.h"
#include "app/myoperatorutil.h"
#include "dialogs/myconfirmdialog.h"
#include "main/accountvalues.h"
#include "net/apipath.h"
#include "net/apireply.h"
#include "net/httprequest.h"
#include "tunnels/ctparamwidget.h"

#include "ui_maindialog.h"

#include <QDate>
#include <QIcon>
#include <QJsonObject>
#include <QSysInfo>

// The account panel, its tiles on the tunnel page, the personal centre and the
// three account calls (coupons, message, announcement).

namespace {

QString accountCallPath(const QString &method)
{
    return buildApiPath(
        QStringLiteral("ClientUserAction"), method,
        {{QStringLiteral("username"), g_userName}, {QStringLiteral("password"), g_password}});
}

} // namespace

void MainDialog::showEdition()
{
    ui->buyBtn->setText(g_userType);
    ui->current_ip->setText(g_clientIp);
}

void MainDialog::initTrafficTiles()
{
    // Nothing updates these later, so the window keeps no pointer to them.
    auto *bandwidth = new CTParamWidget(ui->page);
    bandwidth->setParam(g_bandwidth, QStringLiteral("M"), QStringLiteral("高速带宽"));
    bandwidth->move(320, 10);
    auto *traffic = new CTParamWidget(ui->page);
    traffic->setParam(QStringLiteral("不限"), QStringLiteral("G"), QStringLiteral("剩余流量"));
    traffic->move(470, 10);
}

int MainDialog::daysSince(const QString &dateTime)
{
    return daysSinceDate(dateTime, QDate::currentDate());
}

void MainDialog::showUserInfo()
{
    ui->p_register_time->setText(registrationText(g_startTime, daysSince(g_startTime)));
    ui->p_sys->setText(systemText(QSysInfo::prettyProductName(), QSysInfo::productVersion()));
    ui->p_userId->setText(serviceCodeText(g_userId));
    ui->p_username->setText(g_userName);
    ui->p_loacl_ip->setText(m_util->getLocalIp());
    ui->p_login_ip->setText(g_clientIp);
    ui->p_daoqitime->setText(g_expireTime);
    ui->p_current_version->setText(g_userType);
}

void MainDialog::loadCouponCount()
{
    HttpRequest request(this);
    const QJsonObject reply =
        request.postRequest(accountCallPath(QStringLiteral("getDaijinquanNum")));
    if (!isActionSuccess(reply))
        return;
    const int amount = reply.value(QStringLiteral("amount")).toInt(0);
    if (amount <= 0)
        return;
    ui->btn_high->setIcon(QIcon(QStringLiteral(":/images/icon/daijinquan.png")));
    ui->btn_high->setText(couponCaption(amount));
    ui->btn_high->setStyleSheet(couponStyleSheet());
}

void MainDialog::loadMessage()
{
    if (m_signedOut)
        return;
    HttpRequest request(this);
    const QJsonObject reply = request.postRequest(accountCallPath(QStringLiteral("getmsg")));
    if (!isActionSuccess(reply) || m_signedOut)
        return;
    const QString page = reply.value(QStringLiteral("page")).toString();
    MyConfirmDialog dialog(this);
    dialog.setMessage(replyMessage(reply), QStringLiteral("消息提示"));
    if (dialog.exec() == QDialog::Accepted)
        openConsolePage(page);
}

void MainDialog::loadAnnouncement()
{
    if (m_signedOut)
        return;
    HttpRequest request(this);
    const QJsonObject reply = request.postRequest(accountCallPath(QStringLiteral("getGonggaomsg")));
    if (!isActionSuccess(reply))
        return;
    // Text and link change together. The link is opened by the desktop, so
    // only a web address is kept: a file or program path from a tampered
    // reply must not be launched by a click on the banner.
    m_announcementUrl = bannerLink(reply.value(QStringLiteral("url")).toString());
    ui->label_8->setText(replyMessage(reply));
}
