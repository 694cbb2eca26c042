#pragma once

#include <QStringList>

#include <sys/types.h>

#include <vector>

namespace bench {

// Resident memory of this process, or of another one, in KiB; -1 when
// it cannot be read.
long residentKiB();
long residentKiBOf(pid_t pid);
// CPU time (user + system, all threads) used by this process so far, in ms.
double cpuMs();
// Monotonic clock in ms.
double nowMs();
double median(std::vector<double> values);

// The value after "--name" in the arguments, or the fallback.
QString option(const QStringList &args, const QString &name, const QString &fallback = {});

// One result line for the script: "name=value" pairs after a tag.
void report(const QString &line);

// Modes of tessaro-bench.
int runStartup(const QStringList &args);
int runProxy(const QStringList &args);
int runSilentHost(const QStringList &args);
int runClient(const QStringList &args);
int runCycles(const QStringList &args);
int runWebServer(const QStringList &args);

} // namespace bench
