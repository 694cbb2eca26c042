#pragma once

#include <QWidget>

namespace Ui {
class TitleBarWidget;
}

class MyOperatorUtil;

// Strip along the top of the frameless main window: minimise (into the tray,
// or to the task bar where there is no tray), close and a link to the
// service-ticket page. It acts on its parent widget, which must
// be the main window. Dragging is left to the main window.
class TitleBarWidget : public QWidget
{
    Q_OBJECT

public:
    explicit TitleBarWidget(QWidget *parent = nullptr);
    ~TitleBarWidget() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static void minimise(QWidget *window);
    void confirmClose();

    Ui::TitleBarWidget *ui;
    MyOperatorUtil *m_util;
};
