#pragma once

#include <QObject>

#include <functional>

// How the system runs the background service. On Windows the service control
// manager starts it, follows it through START_PENDING, RUNNING, STOP_PENDING
// and STOPPED, and asks it to stop. Elsewhere the stand-in service tool starts
// it, learns that it runs from a ready file, and stops it with SIGTERM.
class ServiceHost : public QObject
{
    Q_OBJECT
public:
    using Body = std::function<int(ServiceHost &host)>;

    using QObject::QObject;

    // Calls body once the application object exists, inside whatever frame
    // the system needs; body runs the event loop and returns its exit code.
    // Returns main()'s exit code.
    static int run(int argc, char *argv[], const Body &body);

    // The service is up: it has read the account.
    void reportRunning();
    // The service has begun to stop.
    void reportStopping();

signals:
    // The system asks the service to stop (from the event loop's thread).
    void stopRequested();
};
