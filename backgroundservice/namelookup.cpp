#include "namelookup.h"

#include "platform/platform.h"

#include <QFile>
#include <QHostInfo>

NameLookup::NameLookup(const QString &name, int limitMs, QObject *parent)
    : QObject(parent), m_name(name), m_limitMs(limitMs)
{
    m_limit.setSingleShot(true);
    connect(&m_limit, &QTimer::timeout, this, [this] {
        finish(QHostAddress(),
               QStringLiteral("name not resolved within %1 s").arg(m_limitMs / 1000));
    });
}

void NameLookup::start()
{
    const QString hostsFile = platform::serviceHostsFile();
    if (!hostsFile.isEmpty()) {
        QFile file(hostsFile);
        const QHostAddress address = file.open(QIODevice::ReadOnly)
                                         ? addressInHosts(file.readAll(), m_name)
                                         : QHostAddress();
        // Reported from the event loop, as the system's resolver would.
        QTimer::singleShot(0, this, [this, address, hostsFile] {
            finish(address, QStringLiteral("name not found in ") + hostsFile);
        });
        return;
    }
    m_limit.start(m_limitMs);
    // Through a slot by name: Qt drops the answer for a lookup deleted
    // meanwhile without a trace, which it does not for a functor. An answer
    // that comes after the limit goes nowhere.
    QHostInfo::lookupHost(m_name, this, SLOT(answered(QHostInfo)));
}

void NameLookup::answered(const QHostInfo &info)
{
    finish(preferredAddress(info.addresses()), info.error() == QHostInfo::NoError
                                                   ? QStringLiteral("name has no address")
                                                   : info.errorString());
}

void NameLookup::finish(const QHostAddress &address, const QString &why)
{
    if (m_done)
        return;
    m_done = true;
    m_limit.stop();
    emit finished(address, address.isNull() ? why : QString());
}

QHostAddress NameLookup::preferredAddress(const QList<QHostAddress> &found)
{
    for (const QHostAddress &address : found) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return address;
    }
    return found.isEmpty() ? QHostAddress() : found.constFirst();
}

QHostAddress NameLookup::addressInHosts(const QByteArray &hosts, const QString &name)
{
    for (const QByteArray &rawLine : hosts.split('\n')) {
        const int comment = rawLine.indexOf('#');
        const QList<QByteArray> fields =
            (comment >= 0 ? rawLine.left(comment) : rawLine).simplified().split(' ');
        for (int i = 1; i < fields.size(); ++i) {
            if (QString::fromUtf8(fields.at(i)).compare(name, Qt::CaseInsensitive) == 0)
                return QHostAddress(QString::fromLatin1(fields.at(0)));
        }
    }
    return QHostAddress();
}
