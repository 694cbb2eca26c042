#include "main/maindialog.h"

#include <QIcon>

MainDialog::MainDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("MainDialog"));
    resize(800, 550);
    setWindowTitle(QStringLiteral(" Tessaro"));
    setWindowIcon(QIcon(QStringLiteral(":/images/icon/logo.png")));
    setAttribute(Qt::WA_DeleteOnClose, false);
}
