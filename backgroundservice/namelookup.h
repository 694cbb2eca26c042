#pragma once

#include <QHostAddress>
#include <QHostInfo>
#include <QObject>
#include <QString>
#include <QTimer>

// Looks up the address of a tunnel's local end for one visitor without
// blocking, for at most a time limit. Reports once through finished(), unless
// it is deleted first: deleting it is how a stopping service drops a visitor
// whose lookup is still pending.
class NameLookup : public QObject
{
    Q_OBJECT
public:
    NameLookup(const QString &name, int limitMs, QObject *parent = nullptr);

    void start();

    // The address to reach among those a name has: the first IPv4 one, as
    // local applications listen on IPv4 far more often than on IPv6 alone
    // (and resolvers tend to list ::1 first for "localhost").
    static QHostAddress preferredAddress(const QList<QHostAddress> &found);
    // The address a hosts file's text ("address name..." lines, "#" comments)
    // gives the name; null when it names none.
    static QHostAddress addressInHosts(const QByteArray &hosts, const QString &name);

signals:
    // A null address when the name was not found in time; why says what went
    // wrong.
    void finished(const QHostAddress &address, const QString &why);

private slots:
    void answered(const QHostInfo &info);

private:
    void finish(const QHostAddress &address, const QString &why);

    QString m_name;
    int m_limitMs = 0;
    bool m_done = false;
    QTimer m_limit;
};
