#include "platform/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <windows.h>

#include <sddl.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace platform {
namespace {

Overrides g_overrides;

#ifdef Q_OS_WIN
// A tool of Windows' own, from the system folder: by bare name Windows would
// first look in the program's folder and the current one, where anyone may
// have put a program of that name.
QString systemTool(const char *name)
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return QStringLiteral("C:/Windows/System32/") + QLatin1String(name);
    return QDir::fromNativeSeparators(QString::fromWCharArray(folder, int(length))) +
           QLatin1Char('/') + QLatin1String(name);
}
#else
// Where the service's files live on systems without a ProgramData folder.
QString dataRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/tessaro/service");
}
#endif

} // namespace

void prepareApplication()
{
    // Windows are laid out in device-independent pixels and drawn for the
    // display's scale: 800 x 550 is 1200 x 825 at 150 %. The scale is taken as
    // it is (Qt 5 would round 150 % up to 200 %). On X11 Qt would take the
    // monitor's physical resolution for the scale (104 % on a 100 dpi
    // screen); there the desktop names its scale to Qt itself
    // (QT_SCALE_FACTOR, QT_AUTO_SCREEN_SCALE_FACTOR), and that is followed.
#ifdef Q_OS_WIN
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
#endif
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // Set the way Qt reads it before the application object exists; the
    // background service shares this file and has no GUI library to call.
    if (!qEnvironmentVariableIsSet("QT_SCALE_FACTOR_ROUNDING_POLICY"))
        qputenv("QT_SCALE_FACTOR_ROUNDING_POLICY", "PassThrough");
#ifdef Q_OS_LINUX
    // The client draws with the raster engine only. Without this, Qt's X11
    // backend still loads an OpenGL driver to pick window visuals, which on
    // software-rendered displays maps ~50 MiB of LLVM into the process.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
#endif
}

QString credentialStorePath()
{
    if (!g_overrides.credentialStorePath.isEmpty())
        return g_overrides.credentialStorePath;
#ifdef Q_OS_WIN
    return QStringLiteral("C://programData//windowsts//tessaro//service//user.ini");
#else
    return dataRoot() + QStringLiteral("/user.ini");
#endif
}

QString serviceLogPath()
{
    if (!g_overrides.serviceLogPath.isEmpty())
        return g_overrides.serviceLogPath;
#ifdef Q_OS_WIN
    return QStringLiteral("C://programData//windowsts//tessaro//service//logs");
#else
    return dataRoot() + QStringLiteral("/logs");
#endif
}

QString serviceConfigPath()
{
    if (!g_overrides.serviceConfigPath.isEmpty())
        return g_overrides.serviceConfigPath;
#ifdef Q_OS_WIN
    // The folder of the running tessarosvc.exe (GetModuleFileName, not the
    // command line), where the installer put it.
    return QCoreApplication::applicationDirPath() + QStringLiteral("/tessarosvc.ini");
#else
    return QFileInfo(credentialStorePath()).absolutePath() + QStringLiteral("/tessarosvc.ini");
#endif
}

QString serviceHostsFile()
{
#ifdef Q_OS_WIN
    return QString();
#else
    return qEnvironmentVariable("TESSARO_SERVICE_HOSTS_FILE");
#endif
}

QString serviceControlProgram()
{
    if (!g_overrides.serviceControlProgram.isEmpty())
        return g_overrides.serviceControlProgram;
#ifdef Q_OS_WIN
    return systemTool("sc.exe");
#else
    return QCoreApplication::applicationDirPath() + QStringLiteral("/tessaro-sc");
#endif
}

Command dnsFlushCommand()
{
    if (!g_overrides.dnsFlushCommand.program.isEmpty())
        return g_overrides.dnsFlushCommand;
#ifdef Q_OS_WIN
    return {systemTool("ipconfig.exe"), {QStringLiteral("/flushdns")}};
#else
    return {QStringLiteral("resolvectl"), {QStringLiteral("flush-caches")}};
#endif
}

Command processListCommand()
{
    if (!g_overrides.processListCommand.program.isEmpty())
        return g_overrides.processListCommand;
#ifdef Q_OS_WIN
    return {systemTool("tasklist.exe"), {}};
#else
    // Whole command lines: the kernel's process name ("comm") keeps only 15
    // characters, so "QQPCRealTimeSpeedup" would never be found.
    return {QStringLiteral("ps"),
            {QStringLiteral("-A"), QStringLiteral("-o"), QStringLiteral("args=")}};
#endif
}

InstanceAddress clientInstanceAddress()
{
#ifdef Q_OS_WIN
    // The user's SID and the session's number: a named pipe is seen by the
    // whole machine, the temporary folder only by its user.
    QString user = QStringLiteral("user");
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        QByteArray buffer(int(size), '\0');
        wchar_t *sid = nullptr;
        if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
            ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, &sid)) {
            user = QString::fromWCharArray(sid);
            LocalFree(sid);
        }
        CloseHandle(token);
    }
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    const QString name = QStringLiteral("Tessaro-%1-%2").arg(user).arg(session);
    return {QDir::tempPath() + QLatin1Char('/') + name + QStringLiteral(".lock"), name};
#else
    // The user's runtime folder (owner-only) and, where the login manager
    // names one, the session.
    QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (base.isEmpty())
        base = QDir::tempPath() + QStringLiteral("/tessaro-%1").arg(::getuid());
    QDir().mkpath(base);
    QString name = base + QStringLiteral("/tessaro-client");
    const QString session = qEnvironmentVariable("XDG_SESSION_ID");
    if (!session.isEmpty())
        name += QLatin1Char('-') + session;
    return {name + QStringLiteral(".lock"), name + QStringLiteral(".socket")};
#endif
}

int commandWaitMs()
{
    return g_overrides.commandWaitMs > 0 ? g_overrides.commandWaitMs : 30000;
}

HostLookup hostLookup()
{
    if (g_overrides.hostLookup)
        return g_overrides.hostLookup;
    return [](const QString &name) { return QHostInfo::fromName(name); };
}

void prepareCredentialStore()
{
    const QString path = credentialStorePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
#ifndef Q_OS_WIN
    // Created owner-only from the start, so the file is never readable by others.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT, 0600);
    if (fd >= 0)
        ::close(fd);
    protectCredentialStore();
#endif
}

void protectCredentialStore()
{
#ifndef Q_OS_WIN
    const QString path = credentialStorePath();
    if (QFileInfo::exists(path))
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif
}

void setOverrides(const Overrides &overrides)
{
    g_overrides = overrides;
}

void clearOverrides()
{
    g_overrides = Overrides();
}

} // namespace platform
