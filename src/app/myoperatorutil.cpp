#include "app/myoperatorutil.h"

#include "platform/platform.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

// A store this user cannot open for writing (on a shared PC: the one the
// previous Windows user signed in with, readable by nobody else) is replaced,
// so that the service serves whoever signs in now. The folder lets every user
// replace a file in it, not read it.
void replaceIfUnwritable(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    // Windows deletes no read-only file.
    if (info.isFile())
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (QFile::remove(path)) {
        qDebug() << "Credential store replaced: it could not be opened for writing";
        platform::prepareCredentialStore();
    }
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
    replaceIfUnwritable(path);
    // An error stays with a settings object; a fresh one judges this write.
    if (m_settings->status() != QSettings::NoError || !QFileInfo::exists(path))
        open();
    m_settings->setValue(key, value);
    // Written through at once: the background service reads this file when it
    // is (re)started, which may happen before the event loop would flush it.
    m_settings->sync();
    platform::protectCredentialStore();
    if (m_settings->status() != QSettings::NoError) {
        qDebug() << "Credential store could not be written:" << path;
        return false;
    }
    return true;
}
