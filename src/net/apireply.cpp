#include "net/apireply.h"

#include <QJsonValue>

int replyCode(const QJsonObject &reply)
{
    return reply.value(QStringLiteral("code")).toInt(0);
}

QString replyMessage(const QJsonObject &reply)
{
    return reply.value(QStringLiteral("msg")).toString();
}

bool isActionSuccess(const QJsonObject &reply)
{
    return replyCode(reply) == 1;
}
