#include "servicehost.h"

#include "stopsignal.h"

#include <QCoreApplication>
#include <QFile>

int ServiceHost::run(int argc, char *argv[], const Body &body)
{
    QCoreApplication app(argc, argv);
    // First of all, so that a stop request is never lost or fatal.
    StopSignal stopSignal;
    if (!stopSignal.isValid())
        return 1;
    ServiceHost host;
    QObject::connect(&stopSignal, &StopSignal::received, &host, &ServiceHost::stopRequested);
    return body(host);
}

void ServiceHost::reportRunning()
{
    // The service tool names a file whose existence tells it the service is
    // up (its START_PENDING becomes RUNNING).
    const QString readyFile = qEnvironmentVariable("TESSARO_SERVICE_READY_FILE");
    QFile marker(readyFile);
    if (!readyFile.isEmpty() && !marker.open(QIODevice::WriteOnly))
        qWarning("tessarosvc: cannot report readiness in %s", qPrintable(readyFile));
}

void ServiceHost::reportStopping() {}
