#pragma once

#include <QByteArray>
#include <QString>

namespace servicestate {

// The state text of "sc query" output: what follows the first ":" of the first
// line that begins with eight blanks and "STATE", trimmed ("4  RUNNING",
// "1  STOPPED"). Empty when the output has no such line, the line has no ":",
// or a NUL byte ends the text before it.
QString parseQueryOutput(const QByteArray &output);

// Runs "sc query" on the background service (at most the command wait) and
// returns its state text, empty when none could be read; logs the outcome.
QString query();

} // namespace servicestate
