#include "diagnostics/servicequery.h"

#include "main/servicestate.h"

namespace servicequery {

QString judgeOutput(const QByteArray &output)
{
    // Anything after a NUL is stale buffer content, not part of the answer.
    const int nul = output.indexOf('\0');
    const QByteArray text = nul < 0 ? output : output.left(nul);
    if (text.contains("does not exist") || text.contains("1060"))
        return QStringLiteral("1060");
    return servicestate::parseQueryOutput(text);
}

} // namespace servicequery
