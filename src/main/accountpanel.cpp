#include "main/maindialog.h"

// The account panel, its tiles, the personal centre and the account calls
// (coupons, message, announcement) are filled in with the account-panel work.

void MainDialog::showEdition() {}

void MainDialog::initTrafficTiles() {}

void MainDialog::showUserInfo() {}

void MainDialog::loadCouponCount() {}

void MainDialog::loadMessage() {}

void MainDialog::loadAnnouncement() {}
