#include "support/testenv.h"

#include "diagnostics/httpserverthread.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {
QTemporaryDir &home()
{
    static QTemporaryDir dir; // removed when the test process ends
    return dir;
}
} // namespace

void initTestEnvironment()
{
    const QString path = home().path();
    qputenv("HOME", path.toUtf8());
    // The same folders Qt's test mode uses, so stand-in programs started by a
    // test (which are not in test mode) find the files the client wrote.
    qputenv("XDG_DATA_HOME", (path + QStringLiteral("/.qttest/share")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (path + QStringLiteral("/.qttest/config")).toUtf8());
    qputenv("XDG_CACHE_HOME", (path + QStringLiteral("/.qttest/cache")).toUtf8());
    const QString runtime = path + QStringLiteral("/runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    HttpServerThread::setDefaultEndpoint(0, QHostAddress(QHostAddress::LocalHost));
}

QString testHomePath()
{
    return home().path();
}

QString screenshotDir()
{
    QString dir = qEnvironmentVariable("TESSARO_SCREENSHOT_DIR");
    if (dir.isEmpty())
        dir = home().path() + QStringLiteral("/screenshots");
    QDir().mkpath(dir);
    return dir;
}
