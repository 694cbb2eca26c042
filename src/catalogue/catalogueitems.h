#pragma once

#include <QJsonArray>
#include <QString>

class QJsonObject;
class QJsonValue;

// The records of the two catalogue list calls (scenes and value-added
// services) and the reading of their replies. Every value is read as a JSON
// string; a key that is missing or holds anything else gives "", and an
// element that is not an object gives a record of empty texts.

struct SceneRecord
{
    QString id;
    QString name;
    QString title;
    QString content;
    QString icon;

    static SceneRecord fromJson(const QJsonValue &element);
};

struct AddonRecord
{
    QString id;
    QString name;
    QString title;
    QString content;
    QString icon;
    QString state;
    QString stype;
    QString ad_url;

    static AddonRecord fromJson(const QJsonValue &element);
};

// Whether a reply of a catalogue list call succeeded: `code` 0, read as the
// envelope reads it (so a reply with `data` and no `code` succeeds). The empty
// object that a refused or broken transfer yields is a failure, not an empty
// list.
bool isCatalogueListSuccess(const QJsonObject &reply);

// The elements of `data`; anything but an array gives none.
QJsonArray catalogueListData(const QJsonObject &reply);

// The tabs of the value-added page, in their order on the page.
enum AddonTab
{
    AddonTabMapping,  // "映射配置"
    AddonTabParams,   // "参数配置"
    AddonTabSecurity, // "安全配置"
    AddonTabSpecial,  // "特殊配置", the tab titled "常用配置"
    AddonTabCount
};

// The tab that a service of this `stype` goes to, by exact comparison; -1 for
// any other text, such a service has no place on the page.
int addonTabFor(const QString &stype);
