#pragma once

#include "platform/platform.h"

#include <QString>

class QTcpSocket;

namespace tcpprobe {

// Opens socket's connection to host and port within waitMs, name resolution
// included: Qt's own blocking connect resolves first and without a bound, so
// a resolver that never answers would hold the caller for as long as it
// likes. A resolver still busy at the deadline is left to finish on its own.
// On failure, why (when given) gets the reason for the debug output.
bool connectWithin(QTcpSocket &socket, const QString &host, quint16 port, int waitMs,
                   const platform::HostLookup &lookup, QString *why = nullptr);

} // namespace tcpprobe
