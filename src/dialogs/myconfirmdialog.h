#pragma once

#include <QDialog>
#include <QPoint>

namespace Ui {
class MyConfirmDialog;
}

class QMouseEvent;

// Yes/no question; the caller acts only when exec() returns QDialog::Accepted.
class MyConfirmDialog : public QDialog
{
    Q_OBJECT

public:
    explicit MyConfirmDialog(QWidget *parent = nullptr);
    ~MyConfirmDialog() override;

    void setMessage(const QString &text, const QString &title);

public slots:
    void okBtn_press();
    void cancleBtn_press();
    void closeBtn_press();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    Ui::MyConfirmDialog *ui;
    QPoint m_dragOffset;
    bool m_dragging = false;
};
