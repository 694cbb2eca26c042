#pragma once

#include <QString>
#include <QStringList>

// A process started for a service, identified well enough that a later pid
// reuse by another program, or by another run of the same one, is not taken
// for it.
struct ProcessIdentity
{
    qint64 pid = 0;
    quint64 startTicks = 0; // start time in clock ticks since boot
    QString exe;            // resolved executable
};

namespace serviceprocess {

// Starts the program in a session of its own, detached from the caller, with
// its standard streams on /dev/null. Returns once the program image runs, or
// false with errno's value in *error when it could not be executed.
bool launch(const QString &program, const QStringList &arguments, ProcessIdentity *started,
            int *error);

// The identified process exists, is not a zombie, and is still the same one.
bool isRunning(const ProcessIdentity &process);

// The process has ended: it is gone, a zombie, or its pid now names a later
// process. An ending process lets go of its memory (and with it the link to its
// executable) before it has closed its files, so the executable is not looked
// at here.
bool hasEnded(const ProcessIdentity &process);

// Asks the process to end, waits up to graceMs, then kills it. Returns once it
// has ended (or after a short extra wait if even the kill does not take).
void terminate(const ProcessIdentity &process, int graceMs);

// Asks the process to end and returns at once. A detached watchdog kills it
// if it is still there graceMs later.
void requestStop(const ProcessIdentity &process, int graceMs);

} // namespace serviceprocess
