#pragma once

#include <QString>

class TunnelBean;

// The fields of the tunnel under test, copied when the test starts: the list
// may be rebuilt (and its records deleted) while the checks still run.
struct CheckTarget
{
    QString id;
    QString dst_address;
    QString dst_port;
    QString domain;
    QString public_address;
    QString public_port;
    QString channel_type;

    static CheckTarget fromBean(const TunnelBean &bean);

    // Type "5" is an HTTPS tunnel, reached by its bare domain.
    bool isHttps() const { return channel_type == QLatin1String("5"); }
    // "dst_address:dst_port", as the local-end lines show it.
    QString localEnd() const;
    // The domain alone for HTTPS, otherwise "domain:public_port".
    QString publicEnd() const;
};

// What the card's copy action puts on the clipboard: "https://" + domain for
// an HTTPS tunnel, otherwise "domain:public_port".
QString tunnelAccessAddress(const TunnelBean &bean);
