#include "main/maindialog.h"

#include "app/globals.h"
#include "app/lifetime.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QIcon>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

const char kTrayMenuStyle[] =
    "QMenu {background-color: white;border: 1px solid white;}"
    "QMenu::item {background-color: transparent;padding: 8px 32px;margin: 0px;"
    "border-bottom: 1px solid #f2f2f2;}"
    "QMenu::item:selected {background-color: #f2f2f2;}";

// The icon of the account signed out last, left only to finish its balloon.
QPointer<QSystemTrayIcon> g_retiredTrayIcon;

} // namespace

void MainDialog::initTrayIcon()
{
    // One icon per signed-in client: the last account's goes now.
    delete g_retiredTrayIcon.data();
    m_trayIcon = new QSystemTrayIcon(this);
    m_trayIcon->setIcon(QIcon(QStringLiteral(":/images/icon/logo.png")));
    m_trayIcon->setToolTip(QStringLiteral("Tessaro客户端"));
    // Without a tray (some desktops, headless sessions) the icon stays hidden;
    // its menu and actions exist all the same.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_trayIcon->show();

    m_trayMenu = new QMenu(this);
    m_trayMenu->setStyleSheet(QString::fromUtf8(kTrayMenuStyle));
    m_trayIcon->setContextMenu(m_trayMenu);

    m_actionOpen = m_trayMenu->addAction(QStringLiteral("打开"));
    m_actionVersion = m_trayMenu->addAction(QStringLiteral("软件版本"));
    m_actionHelp = m_trayMenu->addAction(QStringLiteral("使用帮助"));
    m_actionCloseWindow = m_trayMenu->addAction(QStringLiteral("关闭客户端界面"));
    m_actionLogoutAndStop = m_trayMenu->addAction(QStringLiteral("退出账号和关闭服务"));
    connect(m_actionOpen, &QAction::triggered, this, &MainDialog::showWindowAgain);
    connect(m_actionVersion, &QAction::triggered, this, &MainDialog::showVersionMessage);
    connect(m_actionHelp, &QAction::triggered, this, &MainDialog::openHelp);
    connect(m_actionCloseWindow, &QAction::triggered, this, &MainDialog::confirmExit);
    connect(m_actionLogoutAndStop, &QAction::triggered, this, &MainDialog::logout);

    connect(m_trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                switch (reason) {
                case QSystemTrayIcon::Context:
                    m_trayMenu->popup(QCursor::pos());
                    break;
                case QSystemTrayIcon::DoubleClick:
                    showWindowAgain();
                    break;
                case QSystemTrayIcon::Trigger:
                    showVersionMessage();
                    break;
                default:
                    break;
                }
            });
    connect(m_trayIcon, &QSystemTrayIcon::messageClicked, this, &MainDialog::showWindowAgain);
}

QSystemTrayIcon *MainDialog::retireTrayIcon()
{
    // Detached from the window, with neither menu nor reactions, the icon
    // outlives it only for the logout's balloon (whoever shows it deletes it
    // after), and not past the next sign-in's icon.
    QSystemTrayIcon *icon = m_trayIcon;
    icon->disconnect(this);
    icon->setContextMenu(nullptr);
    icon->setParent(qApp);
    delete g_retiredTrayIcon.data();
    g_retiredTrayIcon = icon;
    m_trayIcon = nullptr;
    return icon;
}

void MainDialog::showVersionMessage()
{
    if (!m_trayIcon)
        return;
    m_trayIcon->showMessage(QStringLiteral("Tessaro"),
                            QStringLiteral("企业私有云V") + g_clientVersion + QStringLiteral("!"),
                            QSystemTrayIcon::Information, TrayBalloonMs);
}

void MainDialog::showWindowAgain()
{
    if (m_signedOut)
        return;
    lifetime::keepWhileHidden(this);
    // Also out of the task bar, where a desktop without a tray minimised it.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}
