#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// The whole client in a child process (tests/tools/testclient.cpp) with its
// real event loop, for what shows only there: when the program ends, windows
// that outlive each other, what a hidden window still does. The test drives
// it by commands (see that file) and keeps its own event loop turning while
// it waits, so a fake provider in the test keeps answering.
class ClientProcess
{
public:
    struct Setup
    {
        QString apiBaseUrl;      // the fake provider
        QString serviceTool;     // the fake `sc`
        QString credentialStore; // the INI file shared with the service
        quint16 webPort = 0;     // the test web server's port
    };

    ClientProcess() = default;
    ClientProcess(const ClientProcess &) = delete;
    ClientProcess &operator=(const ClientProcess &) = delete;
    ~ClientProcess(); // ends a client still running

    // More "NAME=value" for the next start.
    void addEnvironment(const QString &entry) { m_environment << entry; }
    // Starts the client; true once its first login dialog is shown, false
    // when it ends or does not get that far in time.
    bool start(const Setup &setup, int timeoutMs = 30000);
    // Sends one command and waits for its "ok"/"error" line, which it returns.
    QByteArray command(const QByteArray &line, int timeoutMs = 30000);
    // Sends one command without waiting (for one that opens a modal dialog
    // and only answers once that is closed).
    void send(const QByteArray &line);
    // The client's windows, main windows and tray icons now; empty when it
    // does not answer.
    QJsonObject state(int timeoutMs = 10000);
    // Whether one visible window of the class is there.
    bool shows(const QString &className);

    bool isRunning() const;
    // Waits for the program to end by itself; false if it still runs.
    bool waitForExit(int timeoutMs);
    int exitCode() const;
    // What the client printed on its error channel (its debug lines).
    QByteArray log();

private:
    QByteArray nextLine(const QByteArray &prefix, int timeoutMs);

    QProcess m_process;
    QStringList m_environment;
    QByteArray m_output;
    QByteArray m_log;
};
