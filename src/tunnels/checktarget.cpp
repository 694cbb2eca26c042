#include "tunnels/checktarget.h"

#include "tunnels/tunnelbean.h"

CheckTarget CheckTarget::fromBean(const TunnelBean &bean)
{
    CheckTarget target;
    target.id = bean.id();
    target.dst_address = bean.dst_address();
    target.dst_port = bean.dst_port();
    target.domain = bean.domain();
    target.public_address = bean.public_address();
    target.public_port = bean.public_port();
    target.channel_type = bean.channel_type();
    return target;
}

QString CheckTarget::localEnd() const
{
    return dst_address + QLatin1Char(':') + dst_port;
}

QString CheckTarget::publicEnd() const
{
    if (isHttps())
        return domain;
    return domain + QLatin1Char(':') + public_port;
}

QString tunnelAccessAddress(const TunnelBean &bean)
{
    if (bean.channel_type() == QLatin1String("5"))
        return QStringLiteral("https://") + bean.domain();
    return bean.domain() + QLatin1Char(':') + bean.public_port();
}
