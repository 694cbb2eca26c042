#include "diagnostics/interferingsoftware.h"

#include <QStringList>

namespace interferingsoftware {
namespace {

struct Suite
{
    QStringList processNames;
    QString warning;
};

// The warnings carry their own separators: the last one has none.
const QList<Suite> &suites()
{
    static const QList<Suite> list = {
        {{QStringLiteral("360sd"), QStringLiteral("360rp"), QStringLiteral("360tray"),
          QStringLiteral("360SecLogonHelper"), QStringLiteral("ZhuDongFangYu")},
         QStringLiteral("本地有或类似360安全软件,")},
        {{QStringLiteral("HipsDaemon"), QStringLiteral("HipsTray"), QStringLiteral("wsctrlsvc")},
         QStringLiteral("本地有或类似火绒安全软件,")},
        {{QStringLiteral("kxetray")}, QStringLiteral("本地有或类似金山安全软件,")},
        {{QStringLiteral("QMDL"), QStringLiteral("QQPCRTP"), QStringLiteral("QQPCTray"),
          QStringLiteral("QQPCRealTimeSpeedup")},
         QStringLiteral("本地有或类似腾讯管家软件")},
    };
    return list;
}

} // namespace

QString warningsFor(const QByteArray &processList)
{
    const int nul = processList.indexOf('\0');
    const QString text = QString::fromUtf8(nul < 0 ? processList : processList.left(nul));

    QString result;
    for (const Suite &suite : suites()) {
        for (const QString &name : suite.processNames) {
            // Process names are matched exactly as the list spells them.
            if (text.contains(name, Qt::CaseSensitive)) {
                result += suite.warning;
                break;
            }
        }
    }
    return result;
}

} // namespace interferingsoftware
