#include "diagnostics/networkprobe.h"

#include <QUrl>

namespace networkprobe {

Target internetTarget(const QString &apiBaseUrl)
{
    const QUrl url(apiBaseUrl, QUrl::StrictMode);
    Target target;
    if (!url.isValid())
        return target;
    target.host = url.host();
    target.port = static_cast<quint16>(url.port(80));
    return target;
}

} // namespace networkprobe
