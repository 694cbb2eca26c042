#include "app/client.h"

#include "app/lifetime.h"
#include "app/messagefilter.h"
#include "login/logindialog.h"
#include "platform/platform.h"

#include <QApplication>

int runClient(int &argc, char **argv, const std::function<void()> &beforeLoop)
{
    installSecretFilter();
    platform::prepareApplication();
    QApplication app(argc, argv);
    lifetime::install();
    LoginDialog dialog;
    dialog.show();
    if (beforeLoop)
        beforeLoop();
    return app.exec();
}
