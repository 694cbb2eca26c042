#pragma once

#include <QByteArray>
#include <QString>

namespace interferingsoftware {

// The warnings for the security suites known to block the background service
// whose processes appear in a process list, concatenated in a fixed order.
// Empty when none appears.
QString warningsFor(const QByteArray &processList);

} // namespace interferingsoftware
