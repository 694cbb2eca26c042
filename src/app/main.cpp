#include "app/messagefilter.h"
#include "login/logindialog.h"
#include "platform/platform.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    installSecretFilter();
    platform::prepareApplication();
    QApplication app(argc, argv);
    LoginDialog dialog;
    dialog.show();
    return app.exec();
}
