#include "support/testenv.h"

#include "diagnostics/httpserverthread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {
QTemporaryDir &home()
{
    static QTemporaryDir dir; // removed when the test process ends
    return dir;
}

QByteArray &ownSanitizerOptions()
{
    static QByteArray options = qgetenv("ASAN_OPTIONS");
    return options;
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
    // A suite with windows unwinds every allocation the slow way, which makes
    // a program fifteen times slower. The programs it starts (stand-ins, fake
    // commands) have no windows and keep the fast way, or a stand-in provider
    // would take a second for each answer. The sanitizer read the suite's own
    // options at its start, so changing them here changes only the children.
    const QByteArray own = ownSanitizerOptions();
    if (!own.isEmpty())
        qputenv("ASAN_OPTIONS", own + ":fast_unwind_on_malloc=1:malloc_context_size=30");
    HttpServerThread::setDefaultEndpoint(0, QHostAddress(QHostAddress::LocalHost));
    // Programs the suite starts (the test client) draw where the suite does,
    // also when the platform came as an argument rather than from outside.
    if (!QGuiApplication::platformName().isEmpty())
        qputenv("QT_QPA_PLATFORM", QGuiApplication::platformName().toUtf8());
}

QString testHomePath()
{
    return home().path();
}

QByteArray windowSanitizerOptions()
{
    return ownSanitizerOptions();
}

QString screenshotDir()
{
    QString dir = qEnvironmentVariable("TESSARO_SCREENSHOT_DIR");
    if (dir.isEmpty())
        dir = home().path() + QStringLiteral("/screenshots");
    QDir().mkpath(dir);
    return dir;
}

bool runsUnderWine()
{
    static const bool wine = QFileInfo::exists(QStringLiteral("C:/windows/system32/winecfg.exe"));
    return wine;
}
