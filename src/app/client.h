#pragma once

#include <functional>

// The client's whole life: the application object, the first login dialog
// and the event loop, whose result it returns. `beforeLoop` runs once the
// dialog is shown, just before the loop starts.
int runClient(int &argc, char **argv, const std::function<void()> &beforeLoop = {});
