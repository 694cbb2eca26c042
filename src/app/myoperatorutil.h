#pragma once

#include <QObject>
#include <QString>

class QSettings;

// Access to the credential store shared with the background service, console
// links into the provider's web site, and the local address.
class MyOperatorUtil : public QObject
{
public:
    explicit MyOperatorUtil(QObject *parent = nullptr);

    QString getValue(const QString &key) const;
    // Writes through to the file at once. False when the store could not be
    // written: the service would then go on with whatever account it holds.
    bool setValue(const QString &key, const QString &value);

    static void jumpToPage(const QString &page);
    QString getLocalIp() const;

private:
    void open();
    bool write(const QString &key, const QString &value);

    QSettings *m_settings = nullptr;
};
