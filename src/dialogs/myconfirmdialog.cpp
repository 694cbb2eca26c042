#include "dialogs/myconfirmdialog.h"

#include "ui_myconfirmdialog.h"

#include <QMouseEvent>
#include <QPushButton>

MyConfirmDialog::MyConfirmDialog(QWidget *parent) : QDialog(parent), ui(new Ui::MyConfirmDialog)
{
    ui->setupUi(this);
    connect(ui->btn_ok, &QPushButton::clicked, this, &MyConfirmDialog::okBtn_press);
    connect(ui->btn_cance, &QPushButton::clicked, this, &MyConfirmDialog::cancleBtn_press);
}

MyConfirmDialog::~MyConfirmDialog()
{
    delete ui;
}

void MyConfirmDialog::setMessage(const QString &text, const QString &title)
{
    setWindowTitle(title);
    ui->label_2->setText(text);
}

void MyConfirmDialog::okBtn_press()
{
    accept();
}

void MyConfirmDialog::cancleBtn_press()
{
    reject();
}

void MyConfirmDialog::closeBtn_press()
{
    close();
}

void MyConfirmDialog::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        return;
    }
    m_dragging = true;
    // Measured from the window's outer corner, which is what move() places, so
    // the native title bar does not make the dialog jump on the first move.
    m_dragOffset = event->globalPos() - pos();
}

void MyConfirmDialog::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging) {
        move(event->globalPos() - m_dragOffset);
    }
}

void MyConfirmDialog::mouseReleaseEvent(QMouseEvent *)
{
    m_dragging = false;
}
