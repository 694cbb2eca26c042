#include "dialogs/mymsgdialog.h"

#include "ui_mymsgdialog.h"

#include <QMouseEvent>
#include <QPushButton>

MyMsgDialog::MyMsgDialog(QWidget *parent) : QDialog(parent), ui(new Ui::MyMsgDialog)
{
    ui->setupUi(this);
    // Shown without a parent, so it blocks every window of the client.
    setModal(true);
    connect(ui->btn_ok, &QPushButton::clicked, this, &MyMsgDialog::okBtn_press);
}

MyMsgDialog::~MyMsgDialog()
{
    delete ui;
}

void MyMsgDialog::setMessage(const QString &text, const QString &title)
{
    setWindowTitle(title);
    ui->label_2->setText(text);
}

void MyMsgDialog::okBtn_press()
{
    accept();
}

void MyMsgDialog::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        return;
    }
    m_dragging = true;
    // Measured from the window's outer corner, which is what move() places, so
    // the native title bar does not make the dialog jump on the first move.
    m_dragOffset = event->globalPos() - pos();
}

void MyMsgDialog::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging) {
        move(event->globalPos() - m_dragOffset);
    }
}

void MyMsgDialog::mouseReleaseEvent(QMouseEvent *)
{
    m_dragging = false;
}
