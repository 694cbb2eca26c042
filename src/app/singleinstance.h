#pragma once

#include <QObject>

#include <memory>

class QLockFile;
class QLocalServer;

// One client per user session. The first start holds a lock and listens; a
// later start by the same user in the same session asks it to come to the
// front and ends. A client that crashed leaves a lock that no listening client
// holds, which the next start takes.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // True: this is the only client; it now listens for later starts. False:
    // another client runs for this user and has been asked to come forward.
    bool claim();

    // How long a later start tries to reach the first, which may be busy.
    static constexpr int ReachMs = 10000;
    // How long a lock may be held with no client listening before it counts
    // as left behind.
    static constexpr int NotListeningMs = 2000;

signals:
    // A later start asked for the current window.
    void activationRequested();

private:
    enum Answer
    {
        Shown,
        NoAnswer,
        NobodyListens,
    };
    static Answer askTheFirst(const QString &serverName);

    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};
