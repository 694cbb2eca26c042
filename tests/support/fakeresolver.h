#pragma once

#include "platform/platform.h"

#include <QHostAddress>
#include <QString>

#include <memory>

// Stands in for the system's name resolver: known names resolve to their
// addresses at once, a name marked as silent keeps its caller waiting (as a
// resolver whose server never answers) until the object is destroyed, and
// every other name is not found.
class FakeResolver
{
public:
    FakeResolver();
    ~FakeResolver(); // releases every caller still waiting

    void add(const QString &name, const QHostAddress &address);
    void silence(const QString &name);
    platform::HostLookup lookup() const;
    // Makes it the client's resolver, in place of every other override.
    void install() const;
    int lookups() const; // how many lookups have begun

private:
    struct State;
    std::shared_ptr<State> m_state;
};
