#include "app/messagefilter.h"

#include "net/apipath.h"

#include <QString>
#include <QtGlobal>

namespace {

QtMessageHandler g_nextMessageHandler = nullptr;

void filterSecrets(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    g_nextMessageHandler(type, context,
                         message.contains(QLatin1String("password=")) ? redactPasswords(message)
                                                                      : message);
}

} // namespace

void installSecretFilter()
{
    if (g_nextMessageHandler)
        return;
    g_nextMessageHandler = qInstallMessageHandler(filterSecrets);
}
