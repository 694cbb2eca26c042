#pragma once

#include <QObject>
#include <QString>

#include <array>

class QJsonValue;

// One tunnel as the provider's list call describes it. The values are kept as
// the text the provider sent; the client interprets only a few of them.
class TunnelBean : public QObject
{
    Q_OBJECT

public:
    // Positions in Fields, in the order of the record's fields and of
    // setTunnelData's arguments.
    enum Field
    {
        Name,
        Id,
        Domain,
        DstAddress,
        DstPort,
        PublicAddress,
        PublicPort,
        PublicPort2,
        DomainType,
        ChannelType,
        ChannelState,
        ChannelModel,
        Model,
        DomainAuth,
        Daikuan,
        FieldCount
    };
    using Fields = std::array<QString, FieldCount>;

    explicit TunnelBean(QObject *parent = nullptr);

    void setTunnelData(const QString &name, const QString &id, const QString &domain,
                       const QString &dst_address, const QString &dst_port,
                       const QString &public_address, const QString &public_port,
                       const QString &public_port2, const QString &domain_type,
                       const QString &channel_type, const QString &channel_state,
                       const QString &channel_model, const QString &model,
                       const QString &domain_auth, const QString &daikuan);
    void setTunnelData(const Fields &fields);

    // The JSON key of each field; the key has the field's name.
    static QString jsonKey(Field field);

    // Reads one element of the list reply's `data` array. A key that is
    // missing or not a JSON string gives an empty text, and an element that is
    // not an object gives all fields empty: the provider sends every value,
    // ports included, as a string.
    static Fields fieldsFromJson(const QJsonValue &element);

    Fields fields() const;

    QString name() const { return m_name; }
    QString id() const { return m_id; }
    QString domain() const { return m_domain; }
    QString dst_address() const { return m_dst_address; }
    QString dst_port() const { return m_dst_port; }
    QString public_address() const { return m_public_address; }
    QString public_port() const { return m_public_port; }
    QString public_port2() const { return m_public_port2; }
    QString domain_type() const { return m_domain_type; }
    QString channel_type() const { return m_channel_type; }
    QString channel_state() const { return m_channel_state; }
    QString channel_model() const { return m_channel_model; }
    QString model() const { return m_model; }
    QString domain_auth() const { return m_domain_auth; }
    QString daikuan() const { return m_daikuan; }

private:
    QString m_name;
    QString m_id;
    QString m_domain;
    QString m_dst_address;
    QString m_dst_port;
    QString m_public_address;
    QString m_public_port;
    QString m_public_port2;
    QString m_domain_type;
    QString m_channel_type;
    QString m_channel_state;
    QString m_channel_model;
    QString m_model;
    QString m_domain_auth;
    QString m_daikuan;
};
