#include "catalogue/zengzhiwidget.h"

#include "ui_zengzhiwidget.h"

#include "catalogue/changjingwidget.h"

ZengzhiWidget::ZengzhiWidget(QWidget *parent) : QWidget(parent), ui(new Ui::ZengzhiWidget)
{
    ui->setupUi(this);
    // A QWidget subclass paints its style-sheet background only with this.
    setAttribute(Qt::WA_StyledBackground, true);
    setAttribute(Qt::WA_Hover, true);
}

ZengzhiWidget::~ZengzhiWidget()
{
    delete ui;
}

void ZengzhiWidget::setAddonData(const QString &id, const QString &icon, const QString &name,
                                 const QString &title, const QString &content, const QString &state,
                                 const QString &ad_url, const QString &stype)
{
    Q_UNUSED(stype)
    m_id = id;
    m_title = title;
    m_content = content;
    m_adUrl = ad_url;
    ui->label_2->setText(name);
    ui->label_3->setText(title);
    ui->label_5->setText(state);
    loadRowIcon(ui->label, icon);
}

void ZengzhiWidget::mousePressEvent(QMouseEvent *)
{
    emit messageSent(m_id);
}
