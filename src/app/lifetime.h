#pragma once

class QObject;
class QWidget;

// When the program ends. The toolkit alone would end it whenever its last
// visible window closes, also while the signed-in client waits in the tray
// with every window hidden; here a window kept in the tray counts as open.
namespace lifetime {

// Takes over from the toolkit's rule. Call once, after the application object
// exists and before its event loop runs.
void install();

// `window`, hidden to the tray, keeps the program running until it is closed
// or destroyed. Calling it again for a window shown again is harmless.
void keepWhileHidden(QWidget *window);

// Ends the event loop, soon, unless a window is visible or kept in the tray.
void quitIfNothingOpen();

// Deletes `object` once no nested event loop runs, so that none of its member
// functions is still waiting on the stack; at the latest when the event loop
// ends. Looked at whenever the event loop wakes up or goes to sleep, never by
// a timer of its own.
void releaseWhenIdle(QObject *object);

} // namespace lifetime
