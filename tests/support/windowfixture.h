#pragma once

#include "platform/platform.h"
#include "support/fakecommand.h"
#include "support/fakehttpserver.h"

#include <memory>

// What a main window needs around it in a test: a fake provider and a fake
// service tool whose service runs.

// A listening fake provider answering "{}" by default, with the API and web
// base URLs pointed at it; null when it cannot listen.
std::unique_ptr<FakeHttpServer> startFakeProvider();

// A fake `sc` for a running service that stops and starts when told to.
std::unique_ptr<FakeCommand> runningServiceTool();

// Overrides sending service control to `sc`, logs to the test home and
// giving commands three seconds; callers add the rest before setOverrides.
platform::Overrides serviceOverrides(const FakeCommand &sc);
