#include "app/client.h"

#include "app/lifetime.h"
#include "app/messagefilter.h"
#include "app/pictures.h"
#include "app/singleinstance.h"
#include "login/logindialog.h"
#include "main/maindialog.h"
#include "platform/platform.h"

#include <QApplication>
#include <QWidget>

namespace {

// The window a later start of the client brings forward: the signed-in main
// window, also from the tray, else the login dialog on screen. A main window
// still being built (never shown yet) shows itself once it is done.
void bringCurrentWindowForward()
{
    QWidget *current = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *main = qobject_cast<MainDialog *>(widget);
        if (main && !main->isSignedOut() && main->testAttribute(Qt::WA_WState_ExplicitShowHide))
            current = main;
        else if (!current && dynamic_cast<LoginDialog *>(widget) && widget->isVisible())
            current = widget;
    }
    if (auto *main = qobject_cast<MainDialog *>(current)) {
        // Out of the tray or the task bar, as its tray icon would bring it.
        main->showWindowAgain();
        return;
    }
    if (!current)
        return;
    current->setWindowState(current->windowState() & ~Qt::WindowMinimized);
    current->show();
    current->raise();
    current->activateWindow();
}

} // namespace

int runClient(int &argc, char **argv, const std::function<void()> &beforeLoop)
{
    installSecretFilter();
    platform::prepareApplication();
    QApplication app(argc, argv);
    pictures::sharpenFormPictures(app);
    // A second start by the same user only brings the first one forward: no
    // second login, tray icon, service restart or port 18000.
    SingleInstance instance;
    if (!instance.claim())
        return 0;
    QObject::connect(&instance, &SingleInstance::activationRequested, &app,
                     &bringCurrentWindowForward);
    lifetime::install();
    LoginDialog dialog;
    dialog.show();
    if (beforeLoop)
        beforeLoop();
    return app.exec();
}
