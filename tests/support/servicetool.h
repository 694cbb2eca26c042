#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The stand-in programs (tessaro-sc, tessarosvc, tessaro-provider) are built
// into the tests' own folder.
QString standinProgram(const QString &name);

struct ServiceToolRun
{
    int exitCode = -1; // -1: it crashed or was killed after the wait
    QByteArray output; // standard output
};

// Runs the stand-in tessaro-sc with the arguments to its end, as an elevated
// administrator (TESSARO_SC_CALLER=admin); one that is still running after
// 30 s is killed.
ServiceToolRun runServiceTool(const QStringList &arguments);

// Registers a service as the installer does: create NAME binPath= BINPATH as an
// administrator, then sdset NAME with the installer's access list. The exit
// code is the first failing step's; the output is both steps'.
ServiceToolRun registerService(const QString &name, const QString &binPath);

// The one line of packaging/windows/tessarosvc.sddl: the access list the
// installer gives the background service.
QString shippedServiceSddl();

// The state word `tessaro-sc query NAME` prints ("RUNNING", "STOP_PENDING",
// …); empty if it prints none.
QString serviceState(const QString &name);

// Polls until query shows the state or the time is up; the event loop runs
// meanwhile.
bool waitForServiceState(const QString &name, const QString &state, int timeoutMs);

// A service that reports that it is up at once and, asked to stop, ends
// `--stop-delay-ms N` ms later (tests/tools/slowservice.cpp).
QString slowServiceProgram();
