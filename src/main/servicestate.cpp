#include "main/servicestate.h"

#include "app/globals.h"
#include "platform/platform.h"
#include "service/servicecontroller.h"

#include <QDebug>
#include <QProcess>
#include <QStringList>

namespace servicestate {

QString parseQueryOutput(const QByteArray &output)
{
    // The tool's buffer may carry garbage after a NUL; only what precedes it counts.
    const int nul = output.indexOf('\0');
    const QString text = QString::fromUtf8(nul < 0 ? output : output.left(nul));

    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (!line.startsWith(QLatin1String("        STATE")))
            continue;
        // Only the first STATE line is looked at, whatever it holds.
        const QStringList parts = line.split(QLatin1Char(':'));
        return parts.size() >= 2 ? parts.at(1).trimmed() : QString();
    }
    return QString();
}

QString query()
{
    QProcess process;
    process.start(platform::serviceControlProgram(),
                  servicecontrol::commandArguments(QStringLiteral("query"), g_serviceName),
                  QIODevice::ReadWrite);
    if (!process.waitForFinished(platform::commandWaitMs()) &&
        process.state() != QProcess::NotRunning) {
        // A tool still running after the wait is ended: its output is not read.
        process.kill();
        process.waitForFinished(1000);
    }
    const QString state = parseQueryOutput(process.readAllStandardOutput());
    if (state.isEmpty()) {
        qDebug() << "Failed to query service state.";
        return QString();
    }
    qDebug() << "Service" << g_serviceName << "state is:" << state;
    return state;
}

} // namespace servicestate
