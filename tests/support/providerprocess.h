#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// One stand-in provider process with its own database, on a free port unless
// the extra arguments name one. Stopped when destroyed.
class ProviderProcess
{
public:
    ProviderProcess() = default;
    ProviderProcess(const ProviderProcess &) = delete;
    ProviderProcess &operator=(const ProviderProcess &) = delete;
    ~ProviderProcess() { stop(); }

    // The provider program beside the test executables.
    static QString program();

    // Starts it and waits until it says where it listens. With logRequests it
    // prints a line for every request it serves (see output()).
    bool start(const QString &database, const QStringList &extra = {}, bool logRequests = false);
    // Stops it as a service manager would; returns its exit code (-1 if killed).
    int stop();

    int port() const { return m_port; }
    QString base() const;
    // Everything it printed on standard output so far.
    QByteArray output();

private:
    QProcess m_process;
    QByteArray m_output;
    int m_port = 0;
};
