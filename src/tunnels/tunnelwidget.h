#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include "tunnels/tunnelbean.h"

namespace Ui {
class TunnelWidget;
}

class QAction;
class QMenu;

// The card of one tunnel on the tunnel page. It acts on nothing itself: every
// button and menu entry leaves the card as messageSent(tunnel id, action name),
// with the names "编辑", "复制", "检测", "删除" and "修改域名".
class TunnelWidget : public QWidget
{
    Q_OBJECT

public:
    explicit TunnelWidget(QWidget *parent = nullptr);
    ~TunnelWidget() override;

    // Binds the record (not owned) and shows its values on the card.
    void setTunnelBean(TunnelBean *bean);
    TunnelBean *tunnelBean() const { return m_tunnelBean; }

signals:
    void messageSent(QString tunnelId, QString name);

public slots:
    void btnEditClicked();
    void btncopyClicked();
    void btnCheckClicked();
    void btnDeleteClicked();
    void showContextMenu(QPoint pos);

private:
    void sendAction(const QString &name);

    Ui::TunnelWidget *ui;
    QMenu *m_contextMenu = nullptr;
    QAction *m_actionEdit = nullptr;
    QAction *m_actionCopy = nullptr;
    QAction *m_actionCheck = nullptr;
    QAction *m_actionDelete = nullptr;
    QAction *m_actionDomain = nullptr;
    // Guarded: the record is deleted by the list rebuild, which may run from a
    // timer while the context menu's own event loop is open.
    QPointer<TunnelBean> m_tunnelBean;
};
