#include "main/titlebarwidget.h"

#include "app/myoperatorutil.h"
#include "dialogs/myconfirmdialog.h"

#include "ui_titlebarwidget.h"

#include <QEvent>
#include <QSystemTrayIcon>

TitleBarWidget::TitleBarWidget(QWidget *parent)
    : QWidget(parent), ui(new Ui::TitleBarWidget), m_util(new MyOperatorUtil(this))
{
    ui->setupUi(this);
    // A QWidget subclass paints its style-sheet background (the bottom border)
    // only with this attribute.
    setAttribute(Qt::WA_StyledBackground);

    // The controls are plain labels; presses on them are caught here.
    ui->label_close->installEventFilter(this);
    ui->label_min->installEventFilter(this);
    ui->help_center->installEventFilter(this);
}

TitleBarWidget::~TitleBarWidget()
{
    delete ui;
}

bool TitleBarWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        if (watched == ui->label_close) {
            confirmClose();
            return true;
        }
        if (watched == ui->label_min) {
            if (QWidget *window = parentWidget())
                minimise(window);
            return true;
        }
        if (watched == ui->help_center) {
            m_util->jumpToPage(QStringLiteral("gongdan"));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TitleBarWidget::minimise(QWidget *window)
{
    // Hidden, the window comes back only through its tray icon. Where the
    // desktop has no tray to show that icon in, it goes to the task bar.
    bool trayShowsIcon = false;
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        for (const QSystemTrayIcon *icon : window->findChildren<QSystemTrayIcon *>())
            trayShowsIcon = trayShowsIcon || icon->isVisible();
    }
    if (trayShowsIcon)
        window->hide();
    else
        window->showMinimized();
}

void TitleBarWidget::confirmClose()
{
    MyConfirmDialog dialog(this);
    dialog.setMessage(QStringLiteral("是否要退出当前客户端?"), QStringLiteral("操作提示"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    // Closing only: the background service keeps running after an exit.
    if (QWidget *window = parentWidget())
        window->close();
}
