// Start-up: the time from spawning a program to the X server mapping its first
// top-level window, watched on the root window of the display in $DISPLAY.
#include "benchutil.h"

#include <QFile>

#include <xcb/xcb.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

extern char **environ;

namespace bench {

namespace {

// Milliseconds until the program maps a window; negative when it does not
// within the timeout or the display fails. Its resident memory half a second
// after that goes to *rss.
double timeToWindow(xcb_connection_t *connection, const QString &program, double timeoutMs,
                    long *rss)
{
    const QByteArray path = program.toLocal8Bit();
    char *argv[] = {const_cast<char *>(path.constData()), nullptr};
    // Drop whatever is queued from earlier runs.
    while (xcb_generic_event_t *stale = xcb_poll_for_event(connection))
        std::free(stale);

    const double start = nowMs();
    pid_t pid = 0;
    if (posix_spawn(&pid, path.constData(), nullptr, nullptr, argv, environ) != 0)
        return -1;
    double elapsed = -1;
    pollfd watch{xcb_get_file_descriptor(connection), POLLIN, 0};
    while (elapsed < 0 && nowMs() - start < timeoutMs) {
        if (poll(&watch, 1, 50) < 0)
            break;
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection)) {
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY && elapsed < 0)
                elapsed = nowMs() - start;
            std::free(event);
        }
        if (xcb_connection_has_error(connection))
            break;
    }
    if (elapsed >= 0) {
        usleep(500 * 1000);
        *rss = residentKiBOf(pid);
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    return elapsed;
}

} // namespace

int runStartup(const QStringList &args)
{
    const int runs = option(args, QStringLiteral("runs"), QStringLiteral("5")).toInt();
    QStringList programs;
    for (int i = 0; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--program"))
            programs << args.at(i + 1);
    }
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "cannot open the display\n");
        return 1;
    }
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);

    // One warm-up run each, then the programs take turns so that both see
    // the same state of the machine.
    std::vector<std::vector<double>> times(programs.size());
    std::vector<long> rss(programs.size(), 0);
    for (int run = 0; run <= runs; ++run) {
        for (int p = 0; p < programs.size(); ++p) {
            const double ms = timeToWindow(connection, programs.at(p), 15000, &rss[p]);
            if (ms < 0) {
                std::fprintf(stderr, "%s showed no window\n", qPrintable(programs.at(p)));
                return 1;
            }
            if (run > 0)
                times[p].push_back(ms);
        }
    }
    for (int p = 0; p < programs.size(); ++p)
        report(QStringLiteral("startup program=%1 ms=%2 rss_kib=%3")
                   .arg(programs.at(p))
                   .arg(median(times[p]), 0, 'f', 1)
                   .arg(rss[p]));
    xcb_disconnect(connection);
    return 0;
}

} // namespace bench
