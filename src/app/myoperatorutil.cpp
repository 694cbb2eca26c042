#include "app/myoperatorutil.h"

#include "platform/platform.h"

#include <QSettings>

MyOperatorUtil::MyOperatorUtil(QObject *parent) : QObject(parent)
{
    platform::prepareCredentialStore();
    m_settings = new QSettings(platform::credentialStorePath(), QSettings::IniFormat, this);
}

QString MyOperatorUtil::getValue(const QString &key) const
{
    return m_settings->value(key).toString();
}

void MyOperatorUtil::setValue(const QString &key, const QString &value)
{
    m_settings->setValue(key, value);
    // Written through at once: the background service reads this file when it
    // is (re)started, which may happen before the event loop would flush it.
    m_settings->sync();
    platform::protectCredentialStore();
}
