// tessarosvc: the background tunnelling service where no Windows service
// manager exists. Started and stopped through tessaro-sc; runs until it gets
// SIGTERM or SIGINT and then exits with code 0.

#include "stopsignal.h"
#include "tunnelservice.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // First of all, so that a stop request is never lost or fatal.
    StopSignal stopSignal;
    if (!stopSignal.isValid())
        return 1;

    TunnelService service;
    QObject::connect(&stopSignal, &StopSignal::received, &service, &TunnelService::stop);
    QObject::connect(&service, &TunnelService::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    service.start();
    return app.exec();
}
