#include "tunnelservice.h"

#include "platform/platform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QSettings>

TunnelService::TunnelService(QObject *parent) : QObject(parent) {}

ServiceAccount TunnelService::readAccount(const QString &storePath)
{
    ServiceAccount account;
    if (!QFile::exists(storePath))
        return account;
    // Only value() is called, so QSettings has nothing to write back.
    const QSettings store(storePath, QSettings::IniFormat);
    account.user = store.value(QStringLiteral("server/user")).toString();
    account.password = store.value(QStringLiteral("server/pass")).toString();
    account.userId = store.value(QStringLiteral("server/userId")).toString();
    return account;
}

void TunnelService::start()
{
    const QString logDir = platform::serviceLogPath();
    QDir().mkpath(logDir);
    m_log.setFileName(logDir + QStringLiteral("/tessarosvc.log"));
    if (!m_log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        qWarning("tessarosvc: cannot open log file %s", qPrintable(m_log.fileName()));

    m_running = true;
    log(QStringLiteral("started (pid %1)").arg(QCoreApplication::applicationPid()));
    m_account = readAccount(platform::credentialStorePath());
    // The password stays out of the log: the log folder is for the user to
    // browse and to send to support.
    if (m_account.isEmpty())
        log(QStringLiteral("no account"));
    else
        log(QStringLiteral("account: user %1, user ID %2").arg(m_account.user, m_account.userId));
}

void TunnelService::stop()
{
    if (!m_running)
        return;
    m_running = false;
    log(QStringLiteral("stopped"));
    emit finished();
}

void TunnelService::log(const QString &text)
{
    if (!m_log.isOpen())
        return;
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    m_log.write((stamp + QLatin1Char(' ') + text + QLatin1Char('\n')).toUtf8());
    // Flushed line by line so that a killed service leaves a complete log.
    m_log.flush();
}
