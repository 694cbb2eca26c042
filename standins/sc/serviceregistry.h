#pragma once

#include <QString>

#include <memory>
#include <optional>

class QLockFile;

// One installed service as "create" registered it.
struct ServiceEntry
{
    QString name;      // as given to create; lookups ignore case
    QString binPath;   // command line as given to create
    QString startType; // auto, demand, disabled or delayed-auto
    // The process "start" launched. pid 0 means none; startTicks and exe tell
    // that process apart from a later one that got the same pid.
    qint64 pid = 0;
    quint64 startTicks = 0;
    QString exe;
    // "stop" asked that process to end; it is STOP_PENDING until it has.
    bool stopRequested = false;
    // The access list as sdset gave it; empty means the default of "create".
    QString securityDescriptor;
};

// The services known to this tool: one small file per service in the user's
// data folder. Every command holds the registry lock from its first read to
// its last write, so concurrent callers see one another's changes in order.
// No manager runs between commands: what changed meanwhile (a service that
// ended) is found and recorded by the next command that looks.
class ServiceRegistry
{
public:
    ServiceRegistry();
    ~ServiceRegistry();

    // Waits for the lock; false only when the folder cannot be used.
    bool lock();

    static bool isValidName(const QString &name);
    std::optional<ServiceEntry> load(const QString &name) const;
    bool save(const ServiceEntry &entry) const;
    bool remove(const QString &name) const;
    // The file a started service creates once it is up.
    QString readyPath(const QString &name) const;

private:
    QString entryPath(const QString &name) const;

    QString m_dir;
    std::unique_ptr<QLockFile> m_lock;
};
