#pragma once

#include <QObject>

#include <memory>

class QLockFile;
class QLocalServer;

// One client per user session. The first start holds a lock and listens; a
// later start by the same user in the same session asks it to come to the
// front and ends. A client that crashed leaves a lock no one holds, which the
// next start takes.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // True: this is the only client; it now listens for later starts. False:
    // another client runs for this user and has been asked to come forward.
    bool claim();

    // How long a later start tries to reach the first, which may still be
    // starting (its login dialog probes the network first).
    static constexpr int ReachMs = 10000;

signals:
    // A later start asked for the current window.
    void activationRequested();

private:
    bool askTheFirst() const;

    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};
