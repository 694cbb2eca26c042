#include "main/servicestate.h"

#include <QStringList>

namespace servicestate {

QString parseQueryOutput(const QByteArray &output)
{
    // The tool's buffer may carry garbage after a NUL; only what precedes it counts.
    const int nul = output.indexOf('\0');
    const QString text = QString::fromUtf8(nul < 0 ? output : output.left(nul));

    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (!line.startsWith(QLatin1String("        STATE")))
            continue;
        // Only the first STATE line is looked at, whatever it holds.
        const QStringList parts = line.split(QLatin1Char(':'));
        return parts.size() >= 2 ? parts.at(1).trimmed() : QString();
    }
    return QString();
}

} // namespace servicestate
