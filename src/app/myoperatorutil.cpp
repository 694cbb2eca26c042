#include "app/myoperatorutil.h"

#include "platform/platform.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

// A store this user cannot write (on a shared PC: the one the previous Windows
// user signed in with, which nobody else may open) goes, so that a new one
// can be written and the service serves whoever signs in now. The folder lets
// every user replace a file in it, not read it.
bool removeStore(const QString &path)
{
    const QFileInfo info(path);
    // Windows deletes no read-only file.
    if (info.isFile())
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!QFile::remove(path))
        return false;
    qDebug() << "Credential store replaced: it could not be written";
    platform::prepareCredentialStore();
    return true;
}

} // namespace

MyOperatorUtil::MyOperatorUtil(QObject *parent) : QObject(parent)
{
    platform::prepareCredentialStore();
    open();
}

void MyOperatorUtil::open()
{
    delete m_settings;
    m_settings = new QSettings(platform::credentialStorePath(), QSettings::IniFormat, this);
}

QString MyOperatorUtil::getValue(const QString &key) const
{
    return m_settings->value(key).toString();
}

bool MyOperatorUtil::setValue(const QString &key, const QString &value)
{
    const QString path = platform::credentialStorePath();
    if (write(key, value))
        return true;
    if (removeStore(path)) {
        open();
        if (write(key, value))
            return true;
    }
    qDebug() << "Credential store could not be written:" << path << m_settings->status();
    return false;
}

bool MyOperatorUtil::write(const QString &key, const QString &value)
{
    // An error stays with a settings object; a fresh one judges this write.
    if (m_settings->status() != QSettings::NoError)
        open();
    m_settings->setValue(key, value);
    // Written through at once: the background service reads this file when it
    // is (re)started, which may happen before the event loop would flush it.
    m_settings->sync();
    platform::protectCredentialStore();
    return m_settings->status() == QSettings::NoError;
}
