#pragma once

#include "platform/platform.h"
#include "support/fakecommand.h"
#include "support/fakehttpserver.h"

#include <memory>

// What a main window needs around it in a test: a fake provider and a fake
// service tool that reports the service running.

// A listening fake provider answering "{}" by default, with the API and web
// base URLs pointed at it; null when it cannot listen.
std::unique_ptr<FakeHttpServer> startFakeProvider();

// What the service tool prints for a running service, Windows line ends.
extern const char kServiceRunningOutput[];

// A fake `sc` printing kServiceRunningOutput.
std::unique_ptr<FakeCommand> runningServiceTool();

// Overrides sending service control to `sc`, logs to the test home and
// giving commands three seconds; callers add the rest before setOverrides.
platform::Overrides serviceOverrides(const FakeCommand &sc);
