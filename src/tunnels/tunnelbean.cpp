#include "tunnels/tunnelbean.h"

#include <QJsonObject>
#include <QJsonValue>

TunnelBean::TunnelBean(QObject *parent) : QObject(parent) {}

void TunnelBean::setTunnelData(const QString &name, const QString &id, const QString &domain,
                               const QString &dst_address, const QString &dst_port,
                               const QString &public_address, const QString &public_port,
                               const QString &public_port2, const QString &domain_type,
                               const QString &channel_type, const QString &channel_state,
                               const QString &channel_model, const QString &model,
                               const QString &domain_auth, const QString &daikuan)
{
    m_name = name;
    m_id = id;
    m_domain = domain;
    m_dst_address = dst_address;
    m_dst_port = dst_port;
    m_public_address = public_address;
    m_public_port = public_port;
    m_public_port2 = public_port2;
    m_domain_type = domain_type;
    m_channel_type = channel_type;
    m_channel_state = channel_state;
    m_channel_model = channel_model;
    m_model = model;
    m_domain_auth = domain_auth;
    m_daikuan = daikuan;
}

void TunnelBean::setTunnelData(const Fields &f)
{
    setTunnelData(f[Name], f[Id], f[Domain], f[DstAddress], f[DstPort], f[PublicAddress],
                  f[PublicPort], f[PublicPort2], f[DomainType], f[ChannelType], f[ChannelState],
                  f[ChannelModel], f[Model], f[DomainAuth], f[Daikuan]);
}

QString TunnelBean::jsonKey(Field field)
{
    static const char *const keys[FieldCount] = {"name",          "id",
                                                 "domain",        "dst_address",
                                                 "dst_port",      "public_address",
                                                 "public_port",   "public_port2",
                                                 "domain_type",   "channel_type",
                                                 "channel_state", "channel_model",
                                                 "model",         "domain_auth",
                                                 "daikuan"};
    if (field < 0 || field >= FieldCount) {
        return QString();
    }
    return QString::fromLatin1(keys[field]);
}

TunnelBean::Fields TunnelBean::fieldsFromJson(const QJsonValue &element)
{
    // A non-object reads as an object without keys.
    const QJsonObject object = element.toObject();
    Fields fields;
    for (int i = 0; i < FieldCount; ++i) {
        // toString() of a number, null, bool, array or object is the empty text.
        fields[i] = object.value(jsonKey(static_cast<Field>(i))).toString();
    }
    return fields;
}

TunnelBean::Fields TunnelBean::fields() const
{
    return {m_name,          m_id,
            m_domain,        m_dst_address,
            m_dst_port,      m_public_address,
            m_public_port,   m_public_port2,
            m_domain_type,   m_channel_type,
            m_channel_state, m_channel_model,
            m_model,         m_domain_auth,
            m_daikuan};
}
