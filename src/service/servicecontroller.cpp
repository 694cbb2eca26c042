#include "service/servicecontroller.h"

#include "platform/platform.h"

#include <QByteArray>
#include <QDebug>
#include <QProcess>
#include <QRegularExpression>
#include <QTextCodec>

namespace servicecontrol {

QStringList commandArguments(const QString &verb, const QString &serviceName)
{
    return {verb, serviceName};
}

QStringList startTypeArguments(const QString &serviceName, int type)
{
    static const char *const words[] = {"auto", "demand", "disabled", "delayed-auto"};
    if (type < 0 || type > 3)
        return {};
    // "start=" and its value are two arguments, as the tool requires.
    return {QStringLiteral("config"), serviceName, QStringLiteral("start="),
            QLatin1String(words[type])};
}

QString debugStamp(const char *date, const char *time, const char *file, int line)
{
    QString fileName = QString::fromLocal8Bit(file);
    fileName = fileName.mid(
        qMax(fileName.lastIndexOf(QLatin1Char('/')), fileName.lastIndexOf(QLatin1Char('\\'))) + 1);
    // The day is padded with a blank ("Dec  7 2026"); every blank becomes a
    // dot so that the date stays one field.
    const QString dottedDate =
        QString::fromLatin1(date).replace(QLatin1Char(' '), QLatin1Char('.'));
    return QStringLiteral("Debug   %1 %2 %3 readReult %4>>")
        .arg(dottedDate, QString::fromLatin1(time), fileName, QString::number(line));
}

QString decodeOutput(const QByteArray &output)
{
    QTextCodec *codec = QTextCodec::codecForName("gb2312");
    return codec ? codec->toUnicode(output) : QString::fromLocal8Bit(output);
}

int commandError(int exitCode, const QString &output)
{
    if (exitCode == 0)
        return 0;
    // Localised Windows translates the message, not this line's number.
    static const QRegularExpression failed(QStringLiteral("FAILED (\\d+)"));
    const QRegularExpressionMatch match = failed.match(output);
    return match.hasMatch() ? match.captured(1).toInt() : exitCode;
}

} // namespace servicecontrol

ServiceController::ServiceController(const QString &serviceName)
    : m_serviceName(serviceName), m_process(new QProcess)
{
    connect(m_process, &QProcess::readyRead, this, &ServiceController::readReult);
}

ServiceController::~ServiceController()
{
    // Not parented to this object; a tool still hanging is ended with it.
    delete m_process;
}

bool ServiceController::startService()
{
    return runCommand(servicecontrol::commandArguments(QStringLiteral("start"), m_serviceName));
}

bool ServiceController::stopService()
{
    return runCommand(servicecontrol::commandArguments(QStringLiteral("stop"), m_serviceName));
}

bool ServiceController::createService()
{
    return runCommand(servicecontrol::commandArguments(QStringLiteral("create"), m_serviceName));
}

bool ServiceController::deleteService()
{
    return runCommand(servicecontrol::commandArguments(QStringLiteral("delete"), m_serviceName));
}

bool ServiceController::setStartType(int type)
{
    const QStringList arguments = servicecontrol::startTypeArguments(m_serviceName, type);
    if (arguments.isEmpty())
        return false;
    return runCommand(arguments);
}

bool ServiceController::runCommand(const QStringList &arguments)
{
    if (m_process->state() != QProcess::NotRunning) {
        // The previous command outlived its wait. One process object runs one
        // program at a time, so it has to go before the next can start.
        m_process->kill();
        m_process->waitForFinished(1000);
    }
    m_lastOutput.clear();
    m_lastError = -1;
    m_process->start(platform::serviceControlProgram(), arguments, QIODevice::ReadWrite);
    if (!m_process->waitForFinished(platform::commandWaitMs()))
        return false;
    if (m_process->bytesAvailable() > 0)
        readReult();
    if (m_process->exitStatus() == QProcess::NormalExit)
        m_lastError = servicecontrol::commandError(m_process->exitCode(), m_lastOutput);
    return true;
}

int ServiceController::lastError() const
{
    return m_lastError;
}

QString ServiceController::lastOutput() const
{
    return m_lastOutput;
}

void ServiceController::readReult()
{
    const QString text = servicecontrol::decodeOutput(m_process->readAll());
    m_lastOutput += text;
    if (!text.isEmpty())
        qDebug().noquote() << servicecontrol::debugStamp(__DATE__, __TIME__, __FILE__, __LINE__)
                           << text;
    emit sendServiceResult(text);
}
