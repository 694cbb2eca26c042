#include "main/maindialog.h"

// The tunnel check page.

void MainDialog::onConnectionResult(bool success, QString label_index)
{
    Q_UNUSED(success)
    Q_UNUSED(label_index)
}

void MainDialog::clickreCheckBtn()
{
    getTunnelbtnClicked(checkTunnelId, QStringLiteral("检测"));
}
