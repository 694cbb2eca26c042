#include "main/maindialog.h"

// The tunnel list page and the dispatcher of the tunnel cards' actions.

#include "app/globals.h"
#include "dialogs/myconfirmdialog.h"
#include "net/apipath.h"
#include "net/apireply.h"
#include "net/httprequest.h"
#include "tunnels/checktarget.h"
#include "tunnels/ctparamwidget.h"
#include "tunnels/tunnelbean.h"
#include "tunnels/tunnelgrid.h"
#include "tunnels/tunnelwidget.h"

#include "ui_maindialog.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonObject>
#include <QScrollArea>
#include <QScrollBar>

namespace {

const char kCountUnit[] = "条";
const char kCountCaption[] = "映射数";

} // namespace

void MainDialog::reloadTunnelList()
{
    auto clear = [this] {
        // Records first, then the cards that point at them.
        qDeleteAll(tunnelBeanList);
        tunnelBeanList.clear();
        for (TunnelWidget *card : qAsConst(tunnelWidgetList)) {
            if (!card)
                continue;
            card->hide();
            delete card;
        }
        tunnelWidgetList.clear();
        ui->tunnelListContainer->setMinimumHeight(0);
    };
    clear();

    HttpRequest request(this);
    const QJsonObject reply = request.postRequest(buildApiPath(
        QStringLiteral("ClientTunnelAction"), QStringLiteral("list"),
        {{QStringLiteral("username"), g_userName}, {QStringLiteral("password"), g_password}}));
    // Input is delivered while the request waits; a reload started meanwhile
    // may have filled the page already, and one set of cards must remain.
    clear();

    // An object without any key is what a failed transfer leaves; it must not
    // pass for an account without tunnels.
    if (reply.isEmpty() || replyCode(reply) != 0) {
        tunnelCountTile->setParam(QStringLiteral("0/0"), QString::fromUtf8(kCountUnit),
                                  QString::fromUtf8(kCountCaption));
        return;
    }

    const QJsonArray data = reply.value(QStringLiteral("data")).toArray();
    tunnelCountTile->setParam(QString::number(data.size()) + QLatin1Char('/') + g_num,
                              QString::fromUtf8(kCountUnit), QString::fromUtf8(kCountCaption));

    for (const QJsonValue &element : data) {
        auto *bean = new TunnelBean();
        bean->setTunnelData(TunnelBean::fieldsFromJson(element));
        tunnelBeanList.append(bean);
        tunnelWidgetList.append(nullptr);
    }
    // Lets the scroll area reach every card; the cards themselves are made as
    // their part of the list comes near the view.
    ui->tunnelListContainer->setMinimumHeight(tunnelgrid::listHeight(tunnelBeanList.size()));
    createCardsNearView();
}

void MainDialog::createCardsNearView()
{
    const tunnelgrid::CardRange range =
        tunnelgrid::cardsNearView(ui->tunnelScrollArea->verticalScrollBar()->value(),
                                  ui->tunnelScrollArea->height(), tunnelBeanList.size());
    for (int i = range.first; i < range.end; ++i) {
        if (tunnelWidgetList.at(i))
            continue;
        auto *card = new TunnelWidget(ui->tunnelListContainer);
        card->setTunnelBean(tunnelBeanList.at(i));
        card->move(tunnelgrid::cardPosition(i));
        card->show();
        connect(card, &TunnelWidget::messageSent, this, &MainDialog::getTunnelbtnClicked);
        tunnelWidgetList[i] = card;
    }
}

void MainDialog::getTunnelbtnClicked(QString tunnelId, QString name)
{
    TunnelBean *bean = nullptr;
    for (TunnelBean *candidate : qAsConst(tunnelBeanList)) {
        if (candidate->id() == tunnelId) {
            bean = candidate;
            break;
        }
    }
    if (!bean)
        return;
    qDebug().noquote() << tunnelId + QStringLiteral(" 点击了") + name + QStringLiteral("按钮");

    if (name == QStringLiteral("编辑")) {
        loadTunnelToEditForm(bean);
        showPage(QStringLiteral("编辑映射"));
    } else if (name == QStringLiteral("检测")) {
        ui->label_paicha1->hide();
        ui->label_paicha2->hide();
        ui->label_paicha3->hide();
        startTunnelCheck(bean);
        showPage(QStringLiteral("检测通道"));
        const QString state = queryServiceState();
        if (state.contains(QLatin1String("RUNNING"))) {
            ui->jc_sys_service_state->setText(QStringLiteral("RUNNING"));
            ui->label_paicha3->hide();
        } else {
            ui->jc_sys_service_state->setText(state);
            ui->label_paicha3->show();
        }
    } else if (name == QStringLiteral("复制")) {
        copyToClipboard(tunnelAccessAddress(*bean));
    } else if (name == QStringLiteral("删除") || name == QStringLiteral("修改域名")) {
        // Deleting and renaming happen in the web console only.
        const QString question =
            name == QStringLiteral("删除")
                ? QStringLiteral("删除映射需登录控制台，点击确认跳转到控制台？")
                : QStringLiteral("更改域名需登录控制台，点击确认跳转到控制台？");
        MyConfirmDialog dialog(this);
        dialog.setMessage(question, QStringLiteral("操作提示"));
        if (dialog.exec() == QDialog::Accepted)
            openConsolePage(QStringLiteral("chuantou_panel"));
    }
}
