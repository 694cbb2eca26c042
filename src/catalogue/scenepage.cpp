#include "main/maindialog.h"

#include "app/globals.h"
#include "catalogue/catalogueitems.h"
#include "catalogue/changjingwidget.h"
#include "net/apipath.h"
#include "net/apireply.h"
#include "net/httprequest.h"

#include "ui_maindialog.h"

#include <QDebug>
#include <QJsonObject>

// The scene mappings page: the provider's ready-made scenes as rows, and the
// chosen scene's title and description in the detail panel.

namespace {

// Rows sit in the list container of the page's scroll area, which begins at
// page y 100: the first row is at (10, 100) on the page.
const int kSceneRowX = 10;
const int kSceneRowStep = 60;
const int kListBottomMargin = 10;

} // namespace

void MainDialog::loadSceneList()
{
    QString selected;

    HttpRequest request(this);
    const QJsonObject reply = request.postRequest(buildApiPath(
        QStringLiteral("ClientChangjingAction2"), QStringLiteral("list"),
        {{QStringLiteral("username"), g_userName}, {QStringLiteral("password"), g_password}}));

    // A new load replaces the rows of the previous one, whatever its outcome.
    const QList<ChangjingWidget *> previous = sceneWidgetList;
    sceneWidgetList.clear();
    qDeleteAll(previous);

    QWidget *container = ui->changjingListContainer;
    int listBottom = 0;
    if (isCatalogueListSuccess(reply)) {
        int y = 0;
        const QJsonArray scenes = catalogueListData(reply);
        if (scenes.size() > MaxListRows)
            qDebug() << "场景列表过长，只显示前" << MaxListRows << "个";
        for (const QJsonValue &element : scenes) {
            if (sceneWidgetList.size() == MaxListRows)
                break;
            const SceneRecord scene = SceneRecord::fromJson(element);
            selected = scene.name;
            auto *row = new ChangjingWidget(container);
            row->setSceneData(scene.id, scene.name, scene.title, scene.content, scene.icon);
            row->move(kSceneRowX, y);
            row->show();
            sceneWidgetList.append(row);
            connect(row, &ChangjingWidget::messageSent, this, &MainDialog::getChangjinggclick);
            listBottom = y + row->height() + kListBottomMargin;
            y += kSceneRowStep;
        }
    } else {
        qDebug() << "场景列表加载失败 code=" << replyCode(reply) << replyMessage(reply);
    }
    // The container has no layout; its height is what lets the area scroll.
    container->setMinimumHeight(listBottom);

    // The panel shows the last scene of the reply, or "-" when there is none.
    getChangjinggclick(selected);
}

void MainDialog::getChangjinggclick(QString _name)
{
    for (const ChangjingWidget *row : qAsConst(sceneWidgetList)) {
        if (row->name() != _name)
            continue;
        selectedSceneId = row->id();
        ui->changjing_title->setText(row->title());
        ui->changjing_content->setPlainText(row->content());
        return;
    }
    ui->changjing_title->setText(QStringLiteral("-"));
    ui->changjing_content->setPlainText(QStringLiteral("-"));
}
