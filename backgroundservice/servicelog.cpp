#include "servicelog.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

void ServiceLog::open(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_file.setFileName(path);
    if (!reopen(QIODevice::Append))
        qWarning("tessarosvc: cannot open log file %s", qPrintable(path));
}

bool ServiceLog::reopen(QIODevice::OpenMode mode)
{
    return m_file.open(QIODevice::WriteOnly | QIODevice::Text | mode);
}

void ServiceLog::write(const QString &text)
{
    if (m_file.fileName().isEmpty() || (!m_file.isOpen() && !reopen(QIODevice::Append)))
        return;
    QString line =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")) +
        QLatin1Char(' ') + text;
    // One event, one line, whatever a server's reason holds.
    line.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    const QByteArray bytes = line.toUtf8() + '\n';
    // One byte more for the carriage return that text mode adds on Windows.
    if (m_file.size() > 0 && m_file.size() + bytes.size() + 1 > kLimitBytes) {
        rotate();
        if (!m_file.isOpen())
            return;
    }
    m_file.write(bytes);
    // Flushed line by line so that a killed service leaves a complete log.
    m_file.flush();
}

void ServiceLog::rotate()
{
    const QString path = m_file.fileName();
    // Windows cannot rename an open file.
    m_file.close();
    for (int older = kOldFiles; older >= 1; --older) {
        const QString from =
            older == 1 ? path : path + QLatin1Char('.') + QString::number(older - 1);
        if (!QFile::exists(from))
            continue;
        const QString to = path + QLatin1Char('.') + QString::number(older);
        QFile::remove(to);
        QFile::rename(from, to);
    }
    // A file another program holds open may not move: then it starts again
    // empty rather than grow without bound.
    reopen(QFile::exists(path) ? QIODevice::Truncate : QIODevice::Append);
}
