// Arbitrary bytes as the process list that the toolbox scans for security
// suites known to block the background service.

#include "diagnostics/interferingsoftware.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray list(reinterpret_cast<const char *>(data), int(size));
    const QString warnings = interferingsoftware::warningsFor(list);

    // Anything after a NUL is stale buffer content and never adds a warning.
    const int nul = list.indexOf('\0');
    if (nul >= 0 && interferingsoftware::warningsFor(list.left(nul)) != warnings) {
        std::fprintf(stderr, "process list: text after a NUL changed the warnings\n");
        std::abort();
    }
    // Each suite is named at most once.
    if (warnings.count(QStringLiteral("本地有或类似")) > 4) {
        std::fprintf(stderr, "process list: a suite was warned about twice\n");
        std::abort();
    }
    return 0;
}
