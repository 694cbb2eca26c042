#include "support/fakecommand.h"

#include <QFile>
#include <QtGlobal>

#include <cstdio>

namespace {

QByteArray shellQuote(const QString &text)
{
    QByteArray quoted = QFile::encodeName(text);
    quoted.replace('\'', "'\\''");
    return '\'' + quoted + '\'';
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("FakeCommand: cannot write %s", qPrintable(path));
}

} // namespace

FakeCommand::FakeCommand(const QString &name) : m_name(name)
{
    if (!m_dir.isValid())
        qFatal("FakeCommand: cannot create a temporary folder");
    writeFile(dataPath(QStringLiteral(".out")), QByteArray());
    writeScript();
}

QString FakeCommand::program() const
{
    return m_dir.filePath(m_name);
}

void FakeCommand::setOutput(const QByteArray &stdoutBytes)
{
    // Kept in a file and copied with cat, so any byte (NUL, CR, 0xB7) survives.
    writeFile(dataPath(QStringLiteral(".out")), stdoutBytes);
}

void FakeCommand::setExitCode(int code)
{
    m_exitCode = code;
    writeScript();
}

void FakeCommand::setHang(bool hang)
{
    m_hang = hang;
    writeScript();
}

void FakeCommand::setDelayMs(int ms)
{
    m_delayMs = qMax(0, ms);
    writeScript();
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
            args.append(QFile::decodeName(fields.at(i + 1 + a)));
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
    return m_dir.filePath(m_name + suffix);
}

void FakeCommand::writeScript()
{
    const QByteArray calls = shellQuote(dataPath(QStringLiteral(".calls")));
    const QByteArray record = shellQuote(dataPath(QStringLiteral(".call.")));
    QByteArray script = "#!/bin/sh\n";
    // Each run writes its record aside and appends it with one cat, so runs
    // that overlap do not interleave their arguments.
    script += "rec=" + record + "$$\n";
    script += "{ printf '%d\\0' \"$#\"; [ \"$#\" -eq 0 ] || printf '%s\\0' \"$@\"; } > \"$rec\"\n";
    script += "cat \"$rec\" >> " + calls + "\n";
    script += "rm -f \"$rec\"\n";
    if (m_delayMs > 0) {
        // Detached from our pipes so a kill during the delay does not leave
        // the caller's output open.
        script += "sleep " + QByteArray::number(m_delayMs / 1000) + '.' +
                  QByteArray::number(m_delayMs % 1000).rightJustified(3, '0') +
                  " </dev/null >/dev/null 2>&1\n";
    }
    script += "cat " + shellQuote(dataPath(QStringLiteral(".out"))) + "\n";
    if (m_hang) {
        // exec: the sleep becomes this process, so killing it leaves nothing behind.
        script += "exec sleep 2147483647\n";
    }
    script += "exit " + QByteArray::number(m_exitCode & 0xff) + "\n";

    // Written aside and renamed over the old script: a run in progress keeps
    // reading the file it started with.
    const QString target = program();
    const QString temp = target + QStringLiteral(".new");
    writeFile(temp, script);
    QFile::setPermissions(temp, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                    QFile::ReadGroup | QFile::ExeGroup);
    if (std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) !=
        0)
        qFatal("FakeCommand: cannot install %s", qPrintable(target));
}
