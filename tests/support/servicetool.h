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

// Runs the stand-in tessaro-sc with the arguments to its end; one that is still
// running after 30 s is killed.
ServiceToolRun runServiceTool(const QStringList &arguments);
