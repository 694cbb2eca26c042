#pragma once

#include <QFile>
#include <QString>

// The service's log file, kept bounded: a line that would take the file past
// kLimitBytes first moves it to "<name>.1" (and ".1" to ".2" and so on, the
// oldest of kOldFiles dropped). A log that cannot be opened or moved never
// stops the service; it is tried again with the next line.
class ServiceLog
{
public:
    static constexpr qint64 kLimitBytes = 1024 * 1024;
    static constexpr int kOldFiles = 3;

    // Creates the folder when it is missing and appends to the file.
    void open(const QString &path);
    // One line, stamped with the local time.
    void write(const QString &text);

private:
    bool reopen(QIODevice::OpenMode mode);
    void rotate();

    QFile m_file;
};
