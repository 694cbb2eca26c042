#include "service/servicesequence.h"

#include "service/servicecontroller.h"

#include <QDebug>
#include <QTimer>

namespace {

// Windows' error numbers the sequence reads.
constexpr int kAlreadyRunning = 1056;      // start while not STOPPED
constexpr int kCannotAcceptControl = 1061; // stop while pending
constexpr int kNotActive = 1062;           // stop while stopped

bool has(const QString &state, const char *word)
{
    return state.contains(QLatin1String(word));
}

bool isPending(const QString &state)
{
    return has(state, "_PENDING");
}

QString refusal(const char *command, int error)
{
    if (error < 0)
        return QStringLiteral("sc %1 did not run to its end").arg(QLatin1String(command));
    return QStringLiteral("sc %1 was refused (error %2)").arg(QLatin1String(command)).arg(error);
}

} // namespace

ServiceSequence::ServiceSequence(ServiceController *controller, StateQuery query, QObject *parent)
    : QObject(parent), m_controller(controller), m_query(std::move(query)),
      m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &ServiceSequence::poll);
}

void ServiceSequence::run(Steps steps)
{
    m_steps = steps;
    m_running = true;
    next();
}

void ServiceSequence::next()
{
    if (m_steps.testFlag(WaitStopped)) {
        m_steps &= ~Steps(WaitStopped);
        waitFor(
            QStringLiteral("the end of STOP_PENDING"),
            [](const QString &state) { return !has(state, "STOP_PENDING"); },
            [](const QString &) { return true; }, [this] { next(); });
    } else if (m_steps.testFlag(Stop) && !m_stopDone) {
        stop(false);
    } else if (m_steps.testFlag(Start) && !m_startDone) {
        start(false);
    } else {
        finish(true, QString());
    }
}

void ServiceSequence::stop(bool retried)
{
    m_controller->stopService();
    const int error = m_controller->lastError();
    const auto stopped = [this] {
        m_stopDone = true;
        next();
    };
    if (error == 0 || error == kNotActive) {
        // Accepted, or there was nothing to stop: either way STOPPED is what
        // a start needs to see.
        waitFor(
            QStringLiteral("STOPPED"), [](const QString &state) { return has(state, "STOPPED"); },
            [](const QString &) { return true; }, stopped);
    } else if (error == kCannotAcceptControl && !retried) {
        // Still starting (no control is taken before RUNNING) or already
        // stopping: wait until it settles, then stop it once more if it runs.
        waitFor(
            QStringLiteral("RUNNING or STOPPED"),
            [](const QString &state) { return !state.isEmpty() && !isPending(state); },
            [](const QString &) { return true; },
            [this, stopped] {
                if (has(m_lastState, "STOPPED"))
                    stopped();
                else
                    stop(true);
            });
    } else {
        finish(false, refusal("stop", error));
    }
}

void ServiceSequence::start(bool retried)
{
    m_controller->startService();
    const int error = m_controller->lastError();
    const auto started = [this] {
        m_startDone = true;
        if (!m_steps.testFlag(WaitRunning)) {
            finish(true, QString());
            return;
        }
        // Windows answers every start with START_PENDING; the service is up
        // once it says so itself.
        waitFor(
            QStringLiteral("RUNNING"), [](const QString &state) { return has(state, "RUNNING"); },
            [](const QString &state) { return has(state, "START_PENDING"); },
            [this] { finish(true, QString()); });
    };
    if (error == 0) {
        started();
    } else if (error == kAlreadyRunning && !retried) {
        // Not STOPPED: still stopping (start again once it has), or started by
        // someone else since, which reads the same account.
        waitFor(
            QStringLiteral("the end of STOP_PENDING"),
            [](const QString &state) { return !has(state, "STOP_PENDING"); },
            [](const QString &) { return true; },
            [this, started] {
                if (has(m_lastState, "STOPPED"))
                    start(true);
                else
                    started();
            });
    } else {
        finish(false, refusal("start", error));
    }
}

void ServiceSequence::waitFor(const QString &wanted, std::function<bool(const QString &)> done,
                              std::function<bool(const QString &)> keepWaiting,
                              std::function<void()> onReached)
{
    m_wanted = wanted;
    m_done = std::move(done);
    m_keepWaiting = std::move(keepWaiting);
    m_onReached = std::move(onReached);
    m_clock.start();
    poll();
}

void ServiceSequence::poll()
{
    m_lastState = m_query();
    if (m_done(m_lastState)) {
        const std::function<void()> reached = std::move(m_onReached);
        m_onReached = nullptr;
        reached();
        return;
    }
    if (!m_keepWaiting(m_lastState) || m_clock.elapsed() >= WaitMs) {
        finish(false, QStringLiteral("the service did not reach %1 (state \"%2\" after %3 ms)")
                          .arg(m_wanted, m_lastState)
                          .arg(m_clock.elapsed()));
        return;
    }
    m_timer->start(PollMs);
}

void ServiceSequence::cancel()
{
    m_running = false;
    m_timer->stop();
}

void ServiceSequence::finish(bool ok, const QString &cause)
{
    if (!m_running)
        return;
    m_running = false;
    m_timer->stop();
    emit finished(ok, cause);
}
