// tessaro-sc: the service control tool where Windows' "sc" is not available.
// It registers services in the user's data folder and runs each as a detached
// process, answering in the Windows tool's words and layout.

#include "servicecontrol.h"
#include "serviceregistry.h"
#include "servicesecurity.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    ServiceRegistry registry;
    if (!registry.lock()) {
        std::fputs("[SC] OpenSCManager FAILED 5:\r\n\r\nAccess is denied.\r\n\r\n", stdout);
        return 5;
    }
    // Who calls: an elevated administrator only when asked for, else the
    // standard user most people are.
    ServiceControl control(registry, servicesecurity::callerSids(qgetenv("TESSARO_SC_CALLER")));
    // Windows error codes above 255 reach a POSIX caller as their low byte.
    const int code = control.run(app.arguments().mid(1));
    const QByteArray output = control.output();
    std::fwrite(output.constData(), 1, static_cast<size_t>(output.size()), stdout);
    std::fflush(stdout);
    return code;
}
