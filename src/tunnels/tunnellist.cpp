#include "main/maindialog.h"

// The tunnel list page and the dispatcher of the tunnel cards' actions.

void MainDialog::reloadTunnelList() {}

void MainDialog::getTunnelbtnClicked(QString tunnelId, QString name)
{
    Q_UNUSED(tunnelId)
    Q_UNUSED(name)
}
