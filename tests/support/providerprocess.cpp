#include "support/providerprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>

QString ProviderProcess::program()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/tessaro-provider");
}

bool ProviderProcess::start(const QString &database, const QStringList &extra, bool logRequests)
{
    QStringList arguments{QStringLiteral("--db"), database};
    if (!logRequests)
        arguments << QStringLiteral("--quiet");
    if (!extra.contains(QStringLiteral("--port")))
        arguments << QStringLiteral("--port") << QStringLiteral("0");
    m_process.setProgram(program());
    m_process.setArguments(arguments + extra);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    if (!m_process.waitForStarted(10000))
        return false;
    static const QRegularExpression listening(
        QStringLiteral("(?:^|\\n)listening on 127\\.0\\.0\\.1:(\\d+)"));
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 30000 && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(200);
        m_output += m_process.readAllStandardOutput();
        const auto match = listening.match(QString::fromUtf8(m_output));
        if (match.hasMatch()) {
            m_port = match.captured(1).toInt();
            return true;
        }
    }
    return false;
}

int ProviderProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitCode();
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QString ProviderProcess::base() const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(m_port);
}

QByteArray ProviderProcess::output()
{
    m_output += m_process.readAllStandardOutput();
    return m_output;
}
