#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>

class QTimer;
class ServiceController;

// Stops, starts or restarts the background service as Windows' service
// manager wants it done, and tells whether it was. A stop answers at
// STOP_PENDING and a start issued before the service has reached STOPPED is
// refused, so each command is followed by looking at the state until the
// service is where it was asked to be. Between looks the event loop runs: the
// windows stay live. A command counts only when the tool accepted it.
class ServiceSequence : public QObject
{
    Q_OBJECT
public:
    enum Step
    {
        WaitStopped = 0x1, // wait out a STOP_PENDING before anything else
        Stop = 0x2,        // stop, then wait until STOPPED
        Start = 0x4,       // start (once STOPPED when Stop or WaitStopped ran)
        WaitRunning = 0x8, // after Start: wait until RUNNING
        Restart = Stop | Start | WaitRunning,
    };
    Q_DECLARE_FLAGS(Steps, Step)

    // The state text as `sc query` shows it ("4  RUNNING"), empty when none
    // could be read.
    using StateQuery = std::function<QString()>;

    // The controller runs the commands; it must outlive the sequence.
    ServiceSequence(ServiceController *controller, StateQuery query, QObject *parent = nullptr);

    // Runs the steps: the first command at once, the rest from the event
    // loop. finished() follows once, also from inside run() when the first
    // command fails. Once per object.
    void run(Steps steps);
    bool isRunning() const { return m_running; }
    // Stops looking, without finished(); a command already given stands.
    void cancel();

    // How long the service may take to reach a state, and how often it is
    // looked at meanwhile.
    static constexpr int WaitMs = 10000;
    static constexpr int PollMs = 250;

signals:
    // ok: every step was accepted and the service reached its state; else
    // cause names what went wrong, for the log.
    void finished(bool ok, const QString &cause);

private:
    void next();
    void stop(bool retried);
    void start(bool retried);
    // Looks at the state now and every PollMs until done(state) holds
    // (then onReached) or keepWaiting(state) no longer does or the time is up
    // (then fail, naming what was awaited).
    void waitFor(const QString &wanted, std::function<bool(const QString &)> done,
                 std::function<bool(const QString &)> keepWaiting, std::function<void()> onReached);
    void poll();
    void finish(bool ok, const QString &cause);

    ServiceController *m_controller;
    StateQuery m_query;
    Steps m_steps;
    bool m_running = false;
    bool m_stopDone = false;
    bool m_startDone = false;

    QTimer *m_timer;
    QElapsedTimer m_clock;
    QString m_wanted;
    QString m_lastState;
    std::function<bool(const QString &)> m_done;
    std::function<bool(const QString &)> m_keepWaiting;
    std::function<void()> m_onReached;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(ServiceSequence::Steps)
