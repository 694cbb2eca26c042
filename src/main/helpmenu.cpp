#include "main/maindialog.h"

#include "ui_maindialog.h"

#include <QAction>
#include <QMenu>

namespace {

const char kHelpMenuStyle[] =
    "QMenu {border-radius:5px;font-family:'Microsoft Yahei';font-size:12px;"
    "color: rgb(77, 77, 77);background-color:#fff;}"
    "QMenu::item {height:28px; width:100px;padding-left:20px;border: 1px solid none;}"
    "QMenu::item:selected {background-color:#e3e2e3;padding-left:20px;"
    "border: 1px solid #e3e2e3;}";

} // namespace

void MainDialog::initHelpMenu()
{
    m_helpMenu = new QMenu(this);
    ui->menuBtn->setMenu(m_helpMenu);

    m_helpTickets = m_helpMenu->addAction(QStringLiteral("我的工单"));
    m_helpDocs = m_helpMenu->addAction(QStringLiteral("帮助文档"));
    m_helpMenu->addSeparator();
    m_helpFlushDns = m_helpMenu->addAction(QStringLiteral("清除DNS缓存"));
    m_helpLogs = m_helpMenu->addAction(QStringLiteral("查看日志"));
    m_helpLogout = m_helpMenu->addAction(QStringLiteral("退出当前账号"));
    m_helpToolbox = m_helpMenu->addAction(QStringLiteral("工具箱"));
    m_helpVip = m_helpMenu->addAction(QStringLiteral("VIP专属服务"));

    // Rounded corners need a frameless, see-through menu window.
    m_helpMenu->setWindowFlags(m_helpMenu->windowFlags() | Qt::FramelessWindowHint);
    m_helpMenu->setAttribute(Qt::WA_TranslucentBackground);
    m_helpMenu->setStyleSheet(QString::fromUtf8(kHelpMenuStyle));

    connect(m_helpMenu, &QMenu::triggered, this, &MainDialog::slot_action_triggered);
}

void MainDialog::slot_action_triggered(QAction *action)
{
    if (action == m_helpTickets)
        openConsolePage(QStringLiteral("gongdan"));
    else if (action == m_helpDocs)
        openConsolePage(QStringLiteral("jiaocheng"));
    else if (action == m_helpFlushDns)
        flushDns();
    else if (action == m_helpLogs)
        openLogFolder();
    else if (action == m_helpLogout)
        logout();
    else if (action == m_helpToolbox)
        openToolbox();
    else if (action == m_helpVip)
        openConsolePage(QStringLiteral("vip"));
}
