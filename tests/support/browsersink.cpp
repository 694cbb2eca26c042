#include "support/browsersink.h"

#include <QDesktopServices>

void BrowserSink::install(std::initializer_list<const char *> schemes)
{
    for (const char *scheme : schemes)
        QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "open");
}
