#pragma once

#include <QByteArray>
#include <QStringList>

#include <QtGlobal>

class ServiceRegistry;
struct ServiceEntry;

// The verbs of the service control tool. Each writes what the Windows tool
// prints (ASCII, CR LF line ends) to the output buffer and returns the Windows
// error code, 0 on success. The caller (its groups as SIDs) is held to the
// service's access list as Windows' service manager would.
class ServiceControl
{
public:
    ServiceControl(ServiceRegistry &registry, const QStringList &callerSids);

    int run(const QStringList &arguments);
    QByteArray output() const { return m_output; }

private:
    int query(const QString &name);
    int start(const QString &name);
    int stop(const QString &name);
    int create(const QString &name, const QStringList &options);
    int remove(const QString &name);
    int config(const QString &name, const QStringList &options);
    int showSecurity(const QString &name);
    int setSecurity(const QString &name, const QString &descriptor);

    // Where the service stands now. A process that has ended since the last
    // command is found here, and its traces are cleared.
    int currentState(ServiceEntry &entry);
    bool isAllowed(const ServiceEntry &entry, quint32 right) const;

    int usage();
    int failure(const char *operation, int code, const char *message);
    void line(const QByteArray &text = QByteArray());
    void stateBlock(const QString &name, int state, const char *flags,
                    const QByteArray &waitHint = QByteArrayLiteral("0x0"));

    QByteArray m_output;
    ServiceRegistry &m_registry;
    QStringList m_callerSids;
};
