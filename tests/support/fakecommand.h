#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A stand-in for an external program (sc, ps, resolvectl, ...) in tests: a
// copy of tests/tools/fakeprogram.cpp in a private temporary folder that
// records its arguments, prints preset bytes and exits with a preset code. The
// folder and everything in it go away with the object.
class FakeCommand
{
public:
    explicit FakeCommand(const QString &name = QStringLiteral("fakecmd"));
    FakeCommand(const FakeCommand &) = delete;
    FakeCommand &operator=(const FakeCommand &) = delete;

    QString program() const; // absolute path of the program

    void setOutput(const QByteArray &stdoutBytes); // printed byte for byte; ends a service model
    void setExitCode(int code);
    void setHang(bool hang); // after printing the output, sleep until killed
    void setDelayMs(int ms); // sleep before printing

    // Answers as Windows' sc does for one service (output and exit code in
    // Windows' words): query shows the state; start and stop move it on,
    // through START_PENDING or STOP_PENDING for the given number of queries,
    // or are refused as Windows refuses them (1056, 1061, 1062).
    void setServiceState(const QByteArray &state, int startPendingQueries = 0,
                         int stopPendingQueries = 0);
    // That verb ("start", "stop", "query") is refused with the error (5:
    // access denied) whatever the state.
    void refuseServiceCommand(const QByteArray &verb, int windowsError);

    // Arguments of every run so far, in order of start, each exactly as passed.
    QList<QStringList> invocations() const;
    int runCount() const;

private:
    void writeSettings();
    QString dataPath(const QString &suffix) const;

    QTemporaryDir m_dir;
    QString m_program;
    int m_exitCode = 0;
    bool m_hang = false;
    int m_delayMs = 0;
    QByteArray m_service; // the "service" settings lines, empty when off
};
