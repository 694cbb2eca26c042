#include "support/servicetool.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

QString standinProgram(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

ServiceToolRun runServiceTool(const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TESSARO_SC_CALLER"), QStringLiteral("admin"));
    process.setProcessEnvironment(environment);
    process.start(standinProgram(QStringLiteral("tessaro-sc")), arguments);
    ServiceToolRun run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = process.readAllStandardOutput();
    return run;
}

ServiceToolRun registerService(const QString &name, const QString &binPath)
{
    ServiceToolRun created =
        runServiceTool({QStringLiteral("create"), name, QStringLiteral("binPath="), binPath});
    if (created.exitCode != 0)
        return created;
    const ServiceToolRun secured =
        runServiceTool({QStringLiteral("sdset"), name, shippedServiceSddl()});
    created.exitCode = secured.exitCode;
    created.output += secured.output;
    return created;
}

QString shippedServiceSddl()
{
    QFile file(QStringLiteral(TESSARO_SHIPPED_SERVICE_SDDL));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.readLine().trimmed());
}

QString serviceState(const QString &name)
{
    const ServiceToolRun run = runServiceTool({QStringLiteral("query"), name});
    for (const QByteArray &line : run.output.split('\n')) {
        if (!line.startsWith("        STATE"))
            continue;
        // "        STATE              : 4  RUNNING"
        const QList<QByteArray> words = line.mid(line.indexOf(':') + 1).simplified().split(' ');
        return words.size() == 2 ? QString::fromLatin1(words.at(1)) : QString();
    }
    return QString();
}

bool waitForServiceState(const QString &name, const QString &state, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (serviceState(name) != state) {
        if (timer.elapsed() >= timeoutMs)
            return false;
        QTest::qWait(50);
    }
    return true;
}

QString slowServiceProgram()
{
#ifdef TESSARO_SLOW_SERVICE_PROGRAM
    return standinProgram(QStringLiteral(TESSARO_SLOW_SERVICE_PROGRAM));
#else
    return QString();
#endif
}
