#include "serviceprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <csignal>
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

bool readStat(qint64 pid, ProcStat *stat)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.readAll();
    // The command name in parentheses may itself hold blanks and parentheses.
    const int close = text.lastIndexOf(')');
    if (close < 0)
        return false;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    // fields[0] is the third field of the line (state), starttime the 22nd.
    if (fields.size() < 20 || fields.at(0).isEmpty())
        return false;
    stat->state = fields.at(0).at(0);
    bool ok = false;
    stat->startTicks = fields.at(19).toULongLong(&ok);
    return ok;
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

// The process has ended: it is gone, a zombie, or its pid now names a later
// process. An ending process lets go of its memory (and with it the link to its
// executable) before it has closed its files, so the executable is not looked
// at here.
bool hasEnded(const ProcessIdentity &process)
{
    ProcStat stat;
    if (process.pid <= 0 || !readStat(process.pid, &stat))
        return true;
    return stat.state == 'Z' || stat.state == 'X' || stat.startTicks != process.startTicks;
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

} // namespace

namespace serviceprocess {

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
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            if (null > 2)
                ::close(null);
        }
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

} // namespace serviceprocess
