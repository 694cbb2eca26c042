#include "serviceprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct ProcStat
{
    char state = 0;
    quint64 startTicks = 0;
};

// Reads the state and the start time from the text of /proc/<pid>/stat.
// Allocates nothing, so that a forked child may use it too.
bool parseStat(const char *text, size_t size, ProcStat *stat)
{
    // The command name in parentheses may itself hold blanks and parentheses.
    size_t close = size;
    while (close > 0 && text[close - 1] != ')')
        --close;
    if (close == 0)
        return false;
    // The name is the second field; the state is the third, starttime the 22nd.
    int field = 2;
    for (size_t at = close; at < size; ++at) {
        if (text[at] != ' ')
            continue;
        ++field;
        const size_t begin = at + 1;
        if (field == 3) {
            if (begin >= size || text[begin] == ' ')
                return false;
            stat->state = text[begin];
        } else if (field == 22) {
            quint64 ticks = 0;
            size_t end = begin;
            while (end < size && text[end] >= '0' && text[end] <= '9')
                ticks = ticks * 10 + static_cast<quint64>(text[end++] - '0');
            stat->startTicks = ticks;
            return end > begin;
        }
    }
    return false;
}

bool readStat(qint64 pid, ProcStat *stat)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.readAll();
    return parseStat(text.constData(), static_cast<size_t>(text.size()), stat);
}

QString executableOf(qint64 pid)
{
    QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
    // A program rebuilt while it runs still is the same program.
    const QString deleted = QStringLiteral(" (deleted)");
    if (exe.endsWith(deleted))
        exe.chop(deleted.size());
    return exe;
}

// Standard input and output on /dev/null, in a forked child (async-signal-safe).
void streamsToNull()
{
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (null > 2)
            ::close(null);
    }
}

void closeInheritedFiles(int keep)
{
    // Nothing of the caller (its pipes above all) may stay open in a service
    // that outlives it.
#ifdef SYS_close_range
    if (keep > 3)
        syscall(SYS_close_range, 3u, static_cast<unsigned>(keep - 1), 0u);
    if (syscall(SYS_close_range, static_cast<unsigned>(keep + 1), ~0u, 0u) == 0)
        return;
#endif
    const long max = sysconf(_SC_OPEN_MAX);
    for (long fd = 3; fd < (max > 0 && max < 65536 ? max : 65536); ++fd) {
        if (fd != keep)
            ::close(static_cast<int>(fd));
    }
}

// The body of the watchdog "requestStop" leaves behind: it kills the process
// if it has not ended by the deadline. Only async-signal-safe calls, as it
// runs in a forked copy of the tool.
[[noreturn]] void watchStop(const char *statPath, pid_t pid, quint64 startTicks, int graceMs)
{
    const auto ended = [statPath, startTicks] {
        const int fd = ::open(statPath, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return true;
        char text[1024];
        size_t size = 0;
        while (size < sizeof text) {
            const ssize_t got = ::read(fd, text + size, sizeof text - size);
            if (got > 0)
                size += static_cast<size_t>(got);
            else if (got == 0 || errno != EINTR)
                break;
        }
        ::close(fd);
        ProcStat stat;
        return !parseStat(text, size, &stat) || stat.state == 'Z' || stat.state == 'X' ||
               stat.startTicks != startTicks;
    };
    const auto nowMs = [] {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<qint64>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    };
    const qint64 deadline = nowMs() + graceMs;
    while (!ended()) {
        if (nowMs() >= deadline) {
            ::kill(pid, SIGKILL);
            break;
        }
        const timespec pause{0, 20 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
    ::_exit(0);
}

} // namespace

namespace serviceprocess {

bool hasEnded(const ProcessIdentity &process)
{
    ProcStat stat;
    if (process.pid <= 0 || !readStat(process.pid, &stat))
        return true;
    return stat.state == 'Z' || stat.state == 'X' || stat.startTicks != process.startTicks;
}

bool launch(const QString &program, const QStringList &arguments, ProcessIdentity *started,
            int *error)
{
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls are allowed.
    QList<QByteArray> storage;
    storage.append(QFile::encodeName(program));
    for (const QString &argument : arguments)
        storage.append(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        *error = errno;
        return false;
    }

    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = errno;
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (pid == 0) {
        ::setsid();
        // A stop that arrives before the service has set up its handlers is
        // held until the service unblocks these signals, instead of killing it
        // half-started.
        sigset_t held;
        sigemptyset(&held);
        sigaddset(&held, SIGTERM);
        sigaddset(&held, SIGINT);
        ::sigprocmask(SIG_SETMASK, &held, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        streamsToNull();
        closeInheritedFiles(report[1]);
        if (::chdir("/") != 0) {
            // The service does not rely on its working folder.
        }
        ::execv(argv[0], argv.data());
        const int failure = errno;
        ssize_t written = ::write(report[1], &failure, sizeof failure);
        (void)written;
        ::_exit(127);
    }

    ::close(report[1]);
    int failure = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got > 0) {
        ::waitpid(pid, nullptr, 0);
        *error = failure;
        return false;
    }

    // End of file on the report pipe: exec succeeded and closed it.
    started->pid = pid;
    ProcStat stat;
    if (readStat(pid, &stat))
        started->startTicks = stat.startTicks;
    started->exe = executableOf(pid);
    return true;
}

bool isRunning(const ProcessIdentity &process)
{
    if (process.pid <= 0)
        return false;
    ProcStat stat;
    if (!readStat(process.pid, &stat))
        return false;
    if (stat.state == 'Z' || stat.state == 'X')
        return false;
    if (stat.startTicks != process.startTicks)
        return false;
    return executableOf(process.pid) == process.exe;
}

void terminate(const ProcessIdentity &process, int graceMs)
{
    const auto waitEnded = [&process](int ms) {
        QElapsedTimer timer;
        timer.start();
        while (!hasEnded(process)) {
            if (timer.elapsed() >= ms)
                return false;
            QThread::msleep(5);
        }
        return true;
    };
    if (hasEnded(process))
        return;
    if (!isRunning(process)) {
        // A process that is ending can no longer show its executable: it is
        // only waited for. Another program under the same pid and start time
        // (after a restart of the machine) is left alone.
        if (executableOf(process.pid).isEmpty())
            waitEnded(graceMs);
        return;
    }
    ::kill(static_cast<pid_t>(process.pid), SIGTERM);
    if (waitEnded(graceMs))
        return;
    ::kill(static_cast<pid_t>(process.pid), SIGKILL);
    waitEnded(2000);
}

void requestStop(const ProcessIdentity &process, int graceMs)
{
    if (!isRunning(process))
        return;
    const QByteArray statPath = QStringLiteral("/proc/%1/stat").arg(process.pid).toLatin1();
    ::kill(static_cast<pid_t>(process.pid), SIGTERM);
    const pid_t watchdog = ::fork();
    if (watchdog < 0) {
        // Without a watchdog nobody would end a service that ignores the
        // request: wait for it here instead.
        terminate(process, graceMs);
        return;
    }
    if (watchdog > 0)
        return;
    // Out of the caller's session and off its pipes, so that it neither holds
    // up whoever reads the tool's output nor ends with the caller's terminal.
    ::setsid();
    streamsToNull();
    closeInheritedFiles(2);
    watchStop(statPath.constData(), static_cast<pid_t>(process.pid), process.startTicks, graceMs);
}

} // namespace serviceprocess
