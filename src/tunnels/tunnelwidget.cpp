#include "tunnels/tunnelwidget.h"

#include "tunnels/tunnelbean.h"
#include "ui_tunnelwidget.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>

namespace {

const char *const kMenuStyle =
    " QMenu {border-radius:5px;font-family:'Microsoft Yahei';font-size:12px;color: rgb(77, 77, "
    "77);background-color:#fff;} QMenu::item {height:28px; width:100px;padding-left:20px;border: "
    "1px solid none;}QMenu::item:selected {background-color:#e7e7e7;                            "
    "padding-left:20px;border: 1px solid #e3e2e3;}";

} // namespace

TunnelWidget::TunnelWidget(QWidget *parent) : QWidget(parent), ui(new Ui::TunnelWidget)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    setFixedSize(290, 171);

    connect(ui->pushButton, &QPushButton::clicked, this, &TunnelWidget::btnEditClicked);
    connect(ui->pushButton_2, &QPushButton::clicked, this, &TunnelWidget::btncopyClicked);
    connect(ui->pushButton_3, &QPushButton::clicked, this, &TunnelWidget::btnCheckClicked);
    connect(ui->pushButton_4, &QPushButton::clicked, this, &TunnelWidget::btnDeleteClicked);

    m_contextMenu = new QMenu(this);
    m_actionEdit = new QAction(QStringLiteral("编辑"), this);
    m_actionCopy = new QAction(QStringLiteral("复制地址"), this);
    m_actionCheck = new QAction(QStringLiteral("检测"), this);
    m_actionDelete = new QAction(QStringLiteral("删除"), this);
    m_actionDomain = new QAction(QStringLiteral("修改域名"), this);
    m_contextMenu->addAction(m_actionEdit);
    m_contextMenu->addAction(m_actionCopy);
    m_contextMenu->addAction(m_actionCheck);
    m_contextMenu->addAction(m_actionDelete);
    m_contextMenu->addAction(m_actionDomain);
    m_contextMenu->setStyleSheet(QString::fromUtf8(kMenuStyle));

    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &TunnelWidget::showContextMenu);
}

TunnelWidget::~TunnelWidget()
{
    delete ui;
}

void TunnelWidget::setTunnelBean(TunnelBean *bean)
{
    m_tunnelBean = bean;
    if (!bean) {
        return;
    }
    if (bean->name().isEmpty()) {
        // A nameless record keeps the form's sample values beside the default title.
        ui->label_name->setText(QStringLiteral("默认"));
        return;
    }
    ui->label_name->setText(bean->name());
    ui->label_3->setText(bean->domain() + QLatin1Char(':') + bean->public_port());
    ui->label_5->setText(bean->dst_address() + QLatin1Char(':') + bean->dst_port());
    ui->label_7->setText(bean->daikuan() + QLatin1Char('M'));
}

void TunnelWidget::btnEditClicked()
{
    sendAction(QStringLiteral("编辑"));
}

void TunnelWidget::btncopyClicked()
{
    sendAction(QStringLiteral("复制"));
}

void TunnelWidget::btnCheckClicked()
{
    sendAction(QStringLiteral("检测"));
}

void TunnelWidget::btnDeleteClicked()
{
    sendAction(QStringLiteral("删除"));
}

void TunnelWidget::showContextMenu(QPoint pos)
{
    // The menu's loop lets a list rebuild delete this card before exec returns.
    QPointer<TunnelWidget> self(this);
    QAction *chosen = m_contextMenu->exec(mapToGlobal(pos));
    if (!self || !chosen) {
        return;
    }
    const QString text = chosen->text();
    if (text == QStringLiteral("编辑")) {
        sendAction(QStringLiteral("编辑"));
    } else if (text == QStringLiteral("复制地址")) {
        sendAction(QStringLiteral("复制"));
    } else if (text == QStringLiteral("检测")) {
        sendAction(QStringLiteral("检测"));
    } else if (text == QStringLiteral("删除")) {
        sendAction(QStringLiteral("删除"));
    } else if (text == QStringLiteral("修改域名")) {
        sendAction(QStringLiteral("修改域名"));
    }
}

void TunnelWidget::sendAction(const QString &name)
{
    // Without a record there is no tunnel to act on.
    if (!m_tunnelBean) {
        return;
    }
    emit messageSent(m_tunnelBean->id(), name);
}
