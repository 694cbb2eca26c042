#include "support/servicetool.h"

#include <QCoreApplication>
#include <QProcess>

QString standinProgram(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

ServiceToolRun runServiceTool(const QStringList &arguments)
{
    QProcess process;
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
