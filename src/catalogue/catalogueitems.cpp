#include "catalogue/catalogueitems.h"

#include "net/apireply.h"

#include <QJsonObject>
#include <QJsonValue>

namespace {

QString text(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString();
}

} // namespace

SceneRecord SceneRecord::fromJson(const QJsonValue &element)
{
    const QJsonObject object = element.toObject();
    SceneRecord scene;
    scene.id = text(object, "id");
    scene.name = text(object, "name");
    scene.title = text(object, "title");
    scene.content = text(object, "content");
    scene.icon = text(object, "icon");
    return scene;
}

AddonRecord AddonRecord::fromJson(const QJsonValue &element)
{
    const QJsonObject object = element.toObject();
    AddonRecord addon;
    addon.id = text(object, "id");
    addon.name = text(object, "name");
    addon.title = text(object, "title");
    addon.content = text(object, "content");
    addon.icon = text(object, "icon");
    addon.state = text(object, "state");
    addon.stype = text(object, "stype");
    addon.ad_url = text(object, "ad_url");
    return addon;
}

bool isCatalogueListSuccess(const QJsonObject &reply)
{
    return !reply.isEmpty() && replyCode(reply) == 0;
}

QJsonArray catalogueListData(const QJsonObject &reply)
{
    return reply.value(QStringLiteral("data")).toArray();
}

int addonTabFor(const QString &stype)
{
    static const char *const names[AddonTabCount] = {"映射配置", "参数配置", "安全配置",
                                                     "特殊配置"};
    for (int tab = 0; tab < AddonTabCount; ++tab) {
        if (stype == QString::fromUtf8(names[tab]))
            return tab;
    }
    return -1;
}
