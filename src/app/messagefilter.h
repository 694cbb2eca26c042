#pragma once

// Sends every message of the process (debug lines and Qt's own warnings, such
// as the one Qt prints with the whole link when no browser can be started)
// through a filter that replaces the value of each password= pair by "***".
// Installed once at start-up; later calls change nothing.
void installSecretFilter();
