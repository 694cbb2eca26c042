#include "app/singleinstance.h"

#include "platform/platform.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

namespace {

const char kShow[] = "show\n";
const char kShown[] = "shown\n";

} // namespace

SingleInstance::SingleInstance(QObject *parent) : QObject(parent) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim()
{
    const platform::InstanceAddress address = platform::clientInstanceAddress();
    m_lock = std::make_unique<QLockFile>(address.lockPath);
    // Taken from a holder that no longer runs, never for its age: a client
    // runs for days.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() != QLockFile::LockFailedError) {
            // The folder is unusable: better two clients than none.
            qDebug() << "Single-client lock unusable:" << address.lockPath;
            return true;
        }
        if (askTheFirst(address.serverName) != NobodyListens)
            return false;
        // The lock names a process that lives, but no client listens: the
        // holder is gone and its process number belongs to another program
        // now (Windows hands numbers out again at once, even to this start).
        qDebug() << "Single-client lock left by a client that has ended; taken over";
        m_lock->removeStaleLockFile();
        if (!m_lock->tryLock(0))
            return askTheFirst(address.serverName) == NobodyListens;
    }
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket file a crashed client left on Linux would refuse the name.
    QLocalServer::removeServer(address.serverName);
    if (!m_server->listen(address.serverName))
        qDebug() << "Single-client server not listening:" << m_server->errorString();
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *caller = m_server->nextPendingConnection()) {
            connect(caller, &QLocalSocket::disconnected, caller, &QObject::deleteLater);
            connect(caller, &QLocalSocket::readyRead, this, [this, caller] {
                if (!caller->canReadLine())
                    return;
                const bool show = caller->readLine() == kShow;
                if (show)
                    emit activationRequested();
                caller->write(show ? kShown : "?\n");
                caller->disconnectFromServer();
            });
        }
    });
    return true;
}

SingleInstance::Answer SingleInstance::askTheFirst(const QString &serverName)
{
    QElapsedTimer clock;
    clock.start();
    bool reached = false;
    while (clock.elapsed() < ReachMs) {
        QLocalSocket socket;
        socket.connectToServer(serverName);
        if (socket.waitForConnected(1000)) {
            reached = true;
            socket.write(kShow);
            if (socket.waitForBytesWritten(2000) && socket.waitForReadyRead(5000) &&
                socket.readLine() == kShown) {
                qDebug() << "Tessaro already runs for this user: its window was brought forward";
                return Shown;
            }
        } else if (!reached && clock.elapsed() >= NotListeningMs) {
            // A client listens within moments of taking the lock.
            return NobodyListens;
        }
        QThread::msleep(200);
    }
    qDebug() << "Tessaro runs for this user but does not answer";
    return NoAnswer;
}
