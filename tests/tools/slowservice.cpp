// A service for tessaro-sc that takes its time to stop:
//   tessaro-slowservice [--stop-delay-ms N]
// It reports that it is up at once (the file named by
// TESSARO_SERVICE_READY_FILE), and after a stop request waits N ms (default
// 0) before it ends with exit code 0. Further stop requests in that time are
// ignored, as a service that is already stopping does.
// Plain C++ with no toolkit: it starts at once.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    long delayMs = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--stop-delay-ms") == 0)
            delayMs = std::strtol(argv[i + 1], nullptr, 10);
    }

    // tessaro-sc starts services with the stop signals held; they stay held
    // and are taken with sigwait, so a second one cannot cut the delay short.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigprocmask(SIG_BLOCK, &stop, nullptr);

    if (const char *ready = std::getenv("TESSARO_SERVICE_READY_FILE")) {
        const int fd = open(ready, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0)
            close(fd);
    }

    int received = 0;
    while (sigwait(&stop, &received) != 0) {
    }

    timespec rest{delayMs / 1000, (delayMs % 1000) * 1000000};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
    return 0;
}
