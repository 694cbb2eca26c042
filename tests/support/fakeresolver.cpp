#include "support/fakeresolver.h"

#include <QHash>
#include <QSet>

#include <condition_variable>
#include <mutex>

// Shared with the lookups, which may still wait when the resolver is gone.
struct FakeResolver::State
{
    std::mutex mutex;
    std::condition_variable released;
    bool open = true;
    int lookups = 0;
    QHash<QString, QHostAddress> names;
    QSet<QString> silent;
};

FakeResolver::FakeResolver() : m_state(std::make_shared<State>()) {}

FakeResolver::~FakeResolver()
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->open = false;
    m_state->released.notify_all();
}

void FakeResolver::add(const QString &name, const QHostAddress &address)
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->names.insert(name, address);
}

void FakeResolver::silence(const QString &name)
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->silent.insert(name);
}

int FakeResolver::lookups() const
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->lookups;
}

platform::HostLookup FakeResolver::lookup() const
{
    const std::shared_ptr<State> state = m_state;
    return [state](const QString &name) {
        std::unique_lock<std::mutex> lock(state->mutex);
        ++state->lookups;
        QHostInfo info;
        info.setHostName(name);
        if (state->silent.contains(name)) {
            state->released.wait(lock, [&state] { return !state->open; });
            info.setError(QHostInfo::UnknownError);
            info.setErrorString(QStringLiteral("resolver gave up"));
        } else if (state->names.contains(name)) {
            info.setAddresses({state->names.value(name)});
        } else {
            info.setError(QHostInfo::HostNotFound);
            info.setErrorString(QStringLiteral("Host not found"));
        }
        return info;
    };
}

void FakeResolver::install() const
{
    platform::Overrides overrides;
    overrides.hostLookup = lookup();
    platform::setOverrides(overrides);
}
