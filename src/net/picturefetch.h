#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QObject;

// Pictures are fetched alongside everything else: the request goes out at
// once and its outcome is handed over later from the event loop, so no window
// waits for a picture host.

// How the fetch ended: `arrived` when an HTTP 2xx answer came in time and
// whole, with its body; otherwise nothing to show.
struct FetchedPicture
{
    bool arrived = false;
    QByteArray body;
};

// Sends a GET for `url` and calls `done` once: with the answer, or with a
// failure after `timeoutMs` (the transfer is then abandoned) or when the URL
// is not an absolute one. `done` never runs after `receiver` has been
// destroyed; its transfer is dropped at that moment. Every fetch goes through
// one network access manager of the process, so any number may run at once.
void fetchPicture(const QString &url, QObject *receiver, int timeoutMs,
                  std::function<void(const FetchedPicture &)> done);
