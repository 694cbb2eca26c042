#include "login/logindialog.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    LoginDialog dialog;
    dialog.show();
    return app.exec();
}
