#include "main/maindialog.h"

// The value-added services page.

void MainDialog::loadAddonList() {}

void MainDialog::getZengzhiclick(QString _id)
{
    Q_UNUSED(_id)
}
