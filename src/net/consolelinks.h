#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

class QUrl;

// Link to a page of the provider's web console, signed in through the query:
// web site + "ClientAction?userid=…&password=…&page=…", values encoded.
QString consoleLink(const QString &page);

// Opens a link in the default browser (or a folder in the file manager).
// A failure (no browser, as on a server) is logged, never with the password.
bool openInBrowser(const QUrl &url);

// What the local-address lookup needs to know of one network interface.
struct InterfaceInfo
{
    QString name;
    bool up = false;
    bool loopback = false;
    QList<QHostAddress> addresses;
};

// The last IPv4 address of the last interface that is up and not loopback, or
// the empty string. Writes the "Interface Name:" and "IP Address:" debug lines.
QString pickLocalIp(const QList<InterfaceInfo> &interfaces);
