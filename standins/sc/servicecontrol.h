#pragma once

#include <QByteArray>
#include <QStringList>

class ServiceRegistry;
struct ServiceEntry;

// The verbs of the service control tool. Each writes what the Windows tool
// prints (ASCII, CR LF line ends) to the output buffer and returns the Windows
// error code, 0 on success.
class ServiceControl
{
public:
    explicit ServiceControl(ServiceRegistry &registry);

    int run(const QStringList &arguments);
    QByteArray output() const { return m_output; }

private:
    int query(const QString &name);
    int start(const QString &name);
    int stop(const QString &name);
    int create(const QString &name, const QStringList &options);
    int remove(const QString &name);
    int config(const QString &name, const QStringList &options);

    int usage();
    int failure(const char *operation, int code, const char *message);
    void line(const QByteArray &text = QByteArray());
    void stateBlock(const QString &name, int state, const char *flags,
                    const QByteArray &waitHint = QByteArrayLiteral("0x0"));

    QByteArray m_output;
    ServiceRegistry &m_registry;
};
