#include "main/maindialog.h"

// The scene mappings page.

void MainDialog::loadSceneList() {}

void MainDialog::getChangjinggclick(QString _name)
{
    Q_UNUSED(_name)
}
