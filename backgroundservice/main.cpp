// tessarosvc: the background tunnelling service. On Windows the service
// control manager runs it as the service "tessarosvc"; elsewhere tessaro-sc
// starts and stops it. It is RUNNING once it has read the account, and on a
// stop request closes every connection and exits with code 0.

#include "servicehost.h"
#include "tunnelservice.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    return ServiceHost::run(argc, argv, [](ServiceHost &host) {
        TunnelService service;
        QObject::connect(&service, &TunnelService::ready, &host, &ServiceHost::reportRunning);
        QObject::connect(&host, &ServiceHost::stopRequested, &service, [&host, &service] {
            host.reportStopping();
            service.stop();
        });
        QObject::connect(&service, &TunnelService::finished, QCoreApplication::instance(),
                         &QCoreApplication::quit, Qt::QueuedConnection);
        service.start();
        return QCoreApplication::exec();
    });
}
