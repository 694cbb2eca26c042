#include "main/maindialog.h"

// Submission of the tunnel create and edit forms.

void MainDialog::onclickCreateTunnelBtn() {}

void MainDialog::onclickUpdateTunnelBtn() {}
