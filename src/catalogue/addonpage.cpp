#include "main/maindialog.h"

#include "app/globals.h"
#include "catalogue/catalogueitems.h"
#include "catalogue/zengzhiwidget.h"
#include "net/apipath.h"
#include "net/apireply.h"
#include "net/httprequest.h"
#include "net/picturefetch.h"

#include "ui_maindialog.h"

#include <QDebug>
#include <QJsonObject>
#include <QLabel>

// The value-added services page: the provider's add-on services sorted into
// four tabs, and the chosen service's details with its advertisement picture.

namespace {

const char kLocalAdPicture[] = ":/images/icon/ad_tmp.jpg";

// Rows start 10 px down their tab's list and follow each other every 80 px.
// They sit at x 2, not further right, so that the 8 px scroll bar at the right
// edge of a long list does not cover the row's arrow.
const int kAddonRowX = 2;
const int kAddonRowTop = 10;
const int kAddonRowStep = 80;
const int kListBottomMargin = 10;

} // namespace

void MainDialog::loadAddonList()
{
    HttpRequest request(this);
    const QJsonObject reply = request.postRequest(buildApiPath(
        QStringLiteral("ClientZengzhiAction"), QStringLiteral("list"),
        {{QStringLiteral("username"), g_userName}, {QStringLiteral("password"), g_password}}));

    // A new load replaces the rows of the previous one, whatever its outcome.
    const QList<ZengzhiWidget *> previous = addonWidgetList;
    addonWidgetList.clear();
    qDeleteAll(previous);

    QWidget *const containers[AddonTabCount] = {
        ui->zengzhiListContainer_1, ui->zengzhiListContainer_2, ui->zengzhiListContainer_3,
        ui->zengzhiListContainer_4};
    int nextY[AddonTabCount] = {kAddonRowTop, kAddonRowTop, kAddonRowTop, kAddonRowTop};
    int listBottom[AddonTabCount] = {0, 0, 0, 0};

    if (isCatalogueListSuccess(reply)) {
        const QJsonArray addons = catalogueListData(reply);
        if (addons.size() > MaxListRows)
            qDebug() << "增值业务列表过长，只看前" << MaxListRows << "项";
        for (int i = 0; i < qMin(int(addons.size()), MaxListRows); ++i) {
            const QJsonValue element = addons.at(i);
            const AddonRecord addon = AddonRecord::fromJson(element);
            const int tab = addonTabFor(addon.stype);
            if (tab < 0) {
                qDebug() << "增值业务分类未知，不显示:" << addon.stype << addon.id;
                continue;
            }
            auto *row = new ZengzhiWidget(containers[tab]);
            row->move(kAddonRowX, nextY[tab]);
            row->show();
            listBottom[tab] = nextY[tab] + row->height() + kListBottomMargin;
            nextY[tab] += kAddonRowStep;
            row->setAddonData(addon.id, addon.icon, addon.name, addon.title, addon.content,
                              addon.state, addon.ad_url, addon.stype);
            addonWidgetList.append(row);
            connect(row, &ZengzhiWidget::messageSent, this, &MainDialog::getZengzhiclick);
        }
    } else {
        qDebug() << "增值业务列表加载失败 code=" << replyCode(reply) << replyMessage(reply);
    }
    // The containers have no layout; their height is what lets the tabs scroll.
    for (int tab = 0; tab < AddonTabCount; ++tab)
        containers[tab]->setMinimumHeight(listBottom[tab]);
}

void MainDialog::getZengzhiclick(QString _id)
{
    // A click made while an earlier advertisement is still awaited wins: the
    // earlier picture, arriving later, must not replace the newer one.
    const int request = ++m_adPictureRequest;

    for (const ZengzhiWidget *row : qAsConst(addonWidgetList)) {
        if (row->id() != _id)
            continue;
        ui->zengzhi_title->setText(row->title());
        ui->zengzhi_content->setPlainText(row->content());
        const QString adUrl = row->adUrl();
        if (adUrl.isEmpty()) {
            setLocalImage(QString::fromLatin1(kLocalAdPicture), ui->zengzhi_ad);
            return;
        }
        // The panel takes the picture only if its service is still the one
        // shown when it arrives.
        const QString address = pictureAddress(adUrl);
        fetchPicture(address, ui->zengzhi_ad, ImageTimeoutMs,
                     [this, request, address](const FetchedPicture &picture) {
                         if (request != m_adPictureRequest)
                             return;
                         // An advertisement that cannot be fetched leaves the
                         // place empty, rather than showing the avatar that
                         // stands in for failed pictures.
                         if (picture.arrived)
                             ui->zengzhi_ad->setPixmap(pictureToShow(address, picture.body));
                         else
                             ui->zengzhi_ad->clear();
                         ui->zengzhi_ad->show();
                     });
        return;
    }
    ui->zengzhi_title->setText(QStringLiteral("-"));
    ui->zengzhi_content->setPlainText(QStringLiteral("-"));
    setLocalImage(QString::fromLatin1(kLocalAdPicture), ui->zengzhi_ad);
}
