#include "dialogs/msgtipwidget.h"

#include "ui_msgtipwidget.h"

#include <QPixmap>
#include <QTimer>

namespace {
const int kHideDelayMs = 3000;
}

MsgTipWidget::MsgTipWidget(QWidget *parent) : QWidget(parent), ui(new Ui::MsgTipWidget)
{
    ui->setupUi(this);
    // A plain QWidget ignores the background of its style sheet otherwise.
    setAttribute(Qt::WA_StyledBackground, true);
    show();
}

MsgTipWidget::~MsgTipWidget()
{
    delete ui;
}

void MsgTipWidget::showTip(int kind, const QString &text)
{
    ui->label_2->setText(text);
    switch (kind) {
    case 1:
        setTipIcon(QStringLiteral(":/images/icon/online.png"));
        break;
    case 0:
        setTipIcon(QStringLiteral(":/images/icon/info.png"));
        break;
    case -1:
        setTipIcon(QStringLiteral(":/images/icon/error.png"));
        break;
    default:
        break;
    }
    // Bound to the tip: a tip destroyed with its window never gets the call.
    // Tips are never shown again, so a hidden one is freed rather than kept
    // until its window goes: a window open for days shows thousands.
    QTimer::singleShot(kHideDelayMs, Qt::CoarseTimer, this, [this] {
        hide();
        deleteLater();
    });
}

void MsgTipWidget::setTipIcon(const QString &path)
{
    QPixmap pixmap(path);
    pixmap = pixmap.scaled(ui->label->size(), Qt::KeepAspectRatio, Qt::FastTransformation);
    ui->label->setPixmap(pixmap);
    ui->label->show();
}
