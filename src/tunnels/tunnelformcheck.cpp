#include "tunnels/tunnelformcheck.h"

QString tunnelFormNotice(const QString &name, const QString &address, const QString &port)
{
    if (name.isEmpty())
        return QStringLiteral("请填写映射名称");
    if (address.isEmpty())
        return QStringLiteral("请填写映射内网地址信息");
    if (port.isEmpty())
        return QStringLiteral("请填写映射内网端口信息");
    return QString();
}
