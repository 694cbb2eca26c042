#pragma once

#include <QFile>
#include <QObject>
#include <QString>

// The signed-in account as the client left it in the credential store.
struct ServiceAccount
{
    QString user;
    QString password;
    QString userId;

    bool isEmpty() const { return user.isEmpty() && userId.isEmpty(); }
};

// The service's run: takes up the account at start, runs until stop() is
// called, and logs both moments. The tunnels of the account will hang off
// this object.
class TunnelService : public QObject
{
    Q_OBJECT
public:
    explicit TunnelService(QObject *parent = nullptr);

    void start();
    const ServiceAccount &account() const { return m_account; }

    // Reads the store without ever writing it: the client owns that file.
    static ServiceAccount readAccount(const QString &storePath);

public slots:
    void stop();

signals:
    void finished();

private:
    void log(const QString &text);

    QFile m_log;
    ServiceAccount m_account;
    bool m_running = false;
};
