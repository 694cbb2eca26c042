#include "benchutil.h"

#include <QFile>
#include <QTextStream>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace bench {

long residentKiB()
{
    return residentKiBOf(getpid());
}

long residentKiBOf(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval &tv) { return tv.tv_sec * 1000.0 + tv.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double nowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

QString option(const QStringList &args, const QString &name, const QString &fallback)
{
    const int at = args.indexOf(QStringLiteral("--") + name);
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
}

void report(const QString &line)
{
    // stdout carries only result lines; the client's debug output goes to stderr.
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

} // namespace bench
