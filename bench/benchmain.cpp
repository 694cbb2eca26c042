// tessaro-bench MODE [options]
//   startup --runs N --program P [--program P2]   time until each program maps a window
//   proxy --target PORT [--delay-ms D] [--tunnels N] a slow or list-faking API proxy
//   silent                                          a host that accepts and never answers
//   client --api URL --slow-api URL --lists N=URL,... [--silent-api URL --silent-web URL]
//                                                   sign-in, memory, idle, list reloads
//   cycles --api URL [--cycles N]                   memory over sign-in and logout cycles
//   webserver --connections N                       the client's test web server under load
#include "benchutil.h"

#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const QString mode = args.value(0);
    if (mode == QLatin1String("startup"))
        return bench::runStartup(args);
    if (mode == QLatin1String("proxy"))
        return bench::runProxy(args);
    if (mode == QLatin1String("silent"))
        return bench::runSilentHost(args);
    if (mode == QLatin1String("client"))
        return bench::runClient(args);
    if (mode == QLatin1String("cycles"))
        return bench::runCycles(args);
    if (mode == QLatin1String("webserver"))
        return bench::runWebServer(args);
    std::fprintf(stderr,
                 "usage: tessaro-bench startup|proxy|silent|client|cycles|webserver [options]\n");
    return 2;
}
