// tessarosvc: the background tunnelling service where no Windows service
// manager exists. Started and stopped through tessaro-sc, which shows it
// START_PENDING until it has read the account; runs until it gets SIGTERM or
// SIGINT and then exits with code 0.

#include "stopsignal.h"
#include "tunnelservice.h"

#include <QCoreApplication>
#include <QFile>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // First of all, so that a stop request is never lost or fatal.
    StopSignal stopSignal;
    if (!stopSignal.isValid())
        return 1;

    TunnelService service;
    // The service tool names a file whose existence tells it the service is
    // up (its START_PENDING becomes RUNNING).
    const QString readyFile = qEnvironmentVariable("TESSARO_SERVICE_READY_FILE");
    QObject::connect(&service, &TunnelService::ready, [&readyFile] {
        QFile marker(readyFile);
        if (!readyFile.isEmpty() && !marker.open(QIODevice::WriteOnly))
            qWarning("tessarosvc: cannot report readiness in %s", qPrintable(readyFile));
    });
    QObject::connect(&stopSignal, &StopSignal::received, &service, &TunnelService::stop);
    QObject::connect(&service, &TunnelService::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    service.start();
    return app.exec();
}
