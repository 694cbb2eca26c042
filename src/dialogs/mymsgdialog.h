#pragma once

#include <QDialog>
#include <QPoint>

namespace Ui {
class MyMsgDialog;
}

class QMouseEvent;

// One message with a single "确定" button, application-modal while exec() runs.
class MyMsgDialog : public QDialog
{
    Q_OBJECT

public:
    explicit MyMsgDialog(QWidget *parent = nullptr);
    ~MyMsgDialog() override;

    void setMessage(const QString &text, const QString &title);

public slots:
    void okBtn_press();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    Ui::MyMsgDialog *ui;
    QPoint m_dragOffset;
    bool m_dragging = false;
};
