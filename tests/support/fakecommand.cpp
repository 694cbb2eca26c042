#include "support/fakecommand.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtGlobal>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    // Written aside and renamed over the old file: a run in progress reads
    // either the old settings or the new ones, never half of them.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        qFatal("FakeCommand: cannot write %s", qPrintable(path));
}

} // namespace

FakeCommand::FakeCommand(const QString &name)
{
    if (!m_dir.isValid())
        qFatal("FakeCommand: cannot create a temporary folder");
    // The program is built beside the suites; its copy takes the stand-in's
    // name and keeps the program's own ending (".exe" where there is one).
    const QFileInfo source(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                           QStringLiteral(TESSARO_FAKE_PROGRAM));
    m_program = m_dir.filePath(
        source.suffix().isEmpty() ? name : name + QLatin1Char('.') + source.suffix());
    if (!QFile::copy(source.filePath(), m_program))
        qFatal("FakeCommand: cannot copy %s", qPrintable(source.filePath()));
    writeFile(dataPath(QStringLiteral(".out")), QByteArray());
    writeSettings();
}

QString FakeCommand::program() const
{
    return m_program;
}

void FakeCommand::setOutput(const QByteArray &stdoutBytes)
{
    writeFile(dataPath(QStringLiteral(".out")), stdoutBytes);
    if (!m_service.isEmpty()) {
        m_service.clear();
        writeSettings();
    }
}

void FakeCommand::setExitCode(int code)
{
    m_exitCode = code;
    writeSettings();
}

void FakeCommand::setHang(bool hang)
{
    m_hang = hang;
    writeSettings();
}

void FakeCommand::setDelayMs(int ms)
{
    m_delayMs = qMax(0, ms);
    writeSettings();
}

void FakeCommand::setServiceState(const QByteArray &state, int startPendingQueries,
                                  int stopPendingQueries)
{
    m_service = "service " + state + "\nstart-pending " + QByteArray::number(startPendingQueries) +
                "\nstop-pending " + QByteArray::number(stopPendingQueries) + '\n';
    QFile::remove(dataPath(QStringLiteral(".state")));
    // A pending state to begin with runs out like one a command left.
    if (state == "START_PENDING")
        writeFile(dataPath(QStringLiteral(".state")),
                  state + ' ' + QByteArray::number(startPendingQueries) + " RUNNING");
    else if (state == "STOP_PENDING")
        writeFile(dataPath(QStringLiteral(".state")),
                  state + ' ' + QByteArray::number(stopPendingQueries) + " STOPPED");
    writeSettings();
}

void FakeCommand::refuseServiceCommand(const QByteArray &verb, int windowsError)
{
    m_service += "refuse " + verb + ' ' + QByteArray::number(windowsError) + '\n';
    writeSettings();
}

QList<QStringList> FakeCommand::invocations() const
{
    QList<QStringList> runs;
    QFile file(dataPath(QStringLiteral(".calls")));
    if (!file.open(QIODevice::ReadOnly))
        return runs;
    // Each run is "<argc>\0" followed by every argument NUL-terminated.
    const QList<QByteArray> fields = file.readAll().split('\0');
    int i = 0;
    while (i < fields.size()) {
        bool ok = false;
        const int argc = fields.at(i).toInt(&ok);
        if (!ok || i + 1 + argc > fields.size())
            break; // the trailing empty field, or a run still being recorded
        QStringList args;
        for (int a = 0; a < argc; ++a)
            args.append(QString::fromLocal8Bit(fields.at(i + 1 + a)));
        runs.append(args);
        i += 1 + argc;
    }
    return runs;
}

int FakeCommand::runCount() const
{
    return invocations().size();
}

QString FakeCommand::dataPath(const QString &suffix) const
{
    // The program finds these by the path it was started by.
    return QDir::toNativeSeparators(m_program) + suffix;
}

void FakeCommand::writeSettings()
{
    QByteArray settings = "exit " + QByteArray::number(m_exitCode) + '\n';
    if (m_delayMs > 0)
        settings += "delay " + QByteArray::number(m_delayMs) + '\n';
    if (m_hang)
        settings += "hang\n";
    settings += m_service;
    writeFile(dataPath(QStringLiteral(".conf")), settings);
}
