// Arbitrary bytes as an API reply body, read the way the client reads every
// reply: the envelope, the tunnel list, the two catalogue lists, the sign-in
// values and the announcement link.

#include "catalogue/catalogueitems.h"
#include "main/accountvalues.h"
#include "net/apireply.h"
#include "tunnels/checktarget.h"
#include "tunnels/tunnelbean.h"
#include "tunnels/tunnelformcheck.h"

#include <QByteArray>
#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QUrl>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "reply: %s\n", what);
        std::abort();
    }
}

void readTunnel(const QJsonValue &element)
{
    const TunnelBean::Fields fields = TunnelBean::fieldsFromJson(element);
    TunnelBean bean;
    bean.setTunnelData(fields);
    // The record keeps exactly the text the provider sent.
    require(bean.fields() == fields, "tunnel record changed its fields");

    const CheckTarget target = CheckTarget::fromBean(bean);
    target.localEnd();
    target.publicEnd();
    tunnelAccessAddress(bean);
    tunnelFormNotice(bean.name(), bean.dst_address(), bean.dst_port());
}

void readCatalogue(const QJsonValue &element)
{
    SceneRecord::fromJson(element);
    const AddonRecord addon = AddonRecord::fromJson(element);
    const int tab = addonTabFor(addon.stype);
    require(tab >= -1 && tab < AddonTabCount, "service placed on a tab that does not exist");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), int(size));
    // A body that is not a JSON object reads as the empty object, as in the
    // request layer.
    const QJsonObject reply = QJsonDocument::fromJson(body).object();

    const int code = replyCode(reply);
    replyMessage(reply);
    require(isActionSuccess(reply) == (code == 1), "action success is not code 1");
    // A refused or broken transfer is never a success.
    if (reply.isEmpty()) {
        require(!isActionSuccess(reply) && !isCatalogueListSuccess(reply),
                "empty reply read as success");
    }

    const QJsonValue dataValue = reply.value(QStringLiteral("data"));
    const QJsonArray list = catalogueListData(reply);
    require(list.size() == (dataValue.isArray() ? dataValue.toArray().size() : 0),
            "list data lost or invented elements");
    for (const QJsonValue &element : list) {
        readTunnel(element);
        readCatalogue(element);
    }

    // Sign-in values and the announcement.
    const QJsonObject account = dataValue.toObject();
    const int days =
        daysSinceDate(account.value(QStringLiteral("stime")).toString(), QDate(2026, 1, 15));
    require(days != 0, "zero days since sign-up");
    const QString url = reply.value(QStringLiteral("url")).toString();
    const QString link = bannerLink(url);
    require(link.isEmpty() || link == url, "banner link altered");
    // Only a web address is ever opened from the banner.
    const QString scheme = QUrl(link).scheme().toLower();
    require(link.isEmpty() || scheme == QLatin1String("http") || scheme == QLatin1String("https"),
            "banner opens something other than a web page");
    return 0;
}
