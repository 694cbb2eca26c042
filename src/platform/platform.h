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

// Settles how the toolkit starts on this OS and scales with the display;
// called before the application object exists.
void prepareApplication();

// The INI file shared with the background service.
QString credentialStorePath();
// Folder where the background service keeps its logs.
QString serviceLogPath();
// The background service's own optional settings ("tessarosvc.ini": where the
// tunnel login server is). On Windows it lies beside tessarosvc.exe, in a
// folder only administrators can write, never in the shared data folder of
// the credential store: a file planted there by any local user could send the
// next user's password to a listener of theirs. Elsewhere the service runs as
// the signed-in user and the file lies beside that user's credential store.
QString serviceConfigPath();
// A hosts file (lines "address name...") that the background service consults
// in place of the system's resolver for its tunnels' local host names, so that
// tests on one machine can make a name resolve without touching the system's
// resolver or the network; empty when the system's resolver is used. Named by
// $TESSARO_SERVICE_HOSTS_FILE, and never on Windows, where the service must
// not take direction from an environment.
QString serviceHostsFile();
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

// Where one user's running client is found by a later start in the same
// session: a lock file only one client holds, and the local server name it
// listens on. Another user, or another session, has other ones.
struct InstanceAddress
{
    QString lockPath;
    QString serverName;
};
InstanceAddress clientInstanceAddress();

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
    QString serviceConfigPath;
    QString serviceControlProgram;
    Command dnsFlushCommand;
    Command processListCommand;
    int commandWaitMs = 0;
    HostLookup hostLookup;
};
void setOverrides(const Overrides &overrides);
void clearOverrides();

} // namespace platform
