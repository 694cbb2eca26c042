#pragma once

#include <QString>

namespace networkprobe {

struct Target
{
    QString host;
    quint16 port = 0;
};

// Where the internet probe connects: the API's own host, on the port its URL
// names, or 80 when it names none. The host is empty for an unusable URL.
Target internetTarget(const QString &apiBaseUrl);

} // namespace networkprobe
