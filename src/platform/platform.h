#pragma once

#include <QHostInfo>
#include <QString>
#include <QStringList>

#include <functional>

// The one place that knows which operating system the client runs on.
namespace platform {

struct Command
{
    QString program;
    QStringList arguments;
};

// Settles how the toolkit starts on this OS; called before the application
// object exists.
void prepareApplication();

// The INI file shared with the background service.
QString credentialStorePath();
// Folder where the background service keeps its logs.
QString serviceLogPath();
// The service control tool ("sc" on Windows, the stand-in elsewhere).
QString serviceControlProgram();
Command dnsFlushCommand();
Command processListCommand();
// How long a service control, DNS flush or process list command may run.
int commandWaitMs();

// Resolves a host name with the system's resolver, blocking the calling thread
// for as long as the resolver takes.
using HostLookup = std::function<QHostInfo(const QString &name)>;
HostLookup hostLookup();

// Creates the store's folder and, where the OS has owner-only permissions, the
// file itself with mode 0600 so the password is never readable by others.
void prepareCredentialStore();
// Re-applies owner-only permissions after the file was rewritten.
void protectCredentialStore();

// Seam for tests: points every external program and path elsewhere.
struct Overrides
{
    QString credentialStorePath;
    QString serviceLogPath;
    QString serviceControlProgram;
    Command dnsFlushCommand;
    Command processListCommand;
    int commandWaitMs = 0;
    HostLookup hostLookup;
};
void setOverrides(const Overrides &overrides);
void clearOverrides();

} // namespace platform
