#pragma once

#include "platform/platform.h"

#include <QString>
#include <QThread>

// Tries to open one TCP connection off the GUI thread and reports whether it
// succeeded, tagged with the caller's label so that one receiver can run
// several checks at once. Each object runs one check.
class CheckThread : public QThread
{
    Q_OBJECT

public:
    explicit CheckThread(QObject *parent = nullptr);
    // Waits for a running check: destroying a running QThread aborts the program.
    ~CheckThread() override;

    // Set before start(); run() reads them without locking, and uses the
    // resolver fixed at construction, so it never reads shared settings.
    void setTarget(const QString &host, const QString &port);
    void setLabelIndex(const QString &label);

signals:
    // Emitted once per run from the worker thread; receivers on another thread
    // get it queued.
    void connectionResult(bool success, QString label_index);

protected:
    void run() override;

private:
    QString m_host;
    int m_port = 0;
    QString m_labelIndex;
    platform::HostLookup m_lookup;
};
