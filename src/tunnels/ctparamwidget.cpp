#include "tunnels/ctparamwidget.h"

#include "ui_ctparamwidget.h"

CTParamWidget::CTParamWidget(QWidget *parent) : QWidget(parent), ui(new Ui::CTParamWidget)
{
    ui->setupUi(this);
}

CTParamWidget::~CTParamWidget()
{
    delete ui;
}

void CTParamWidget::setParam(const QString &value, const QString &unit, const QString &caption)
{
    ui->label->setText(value);
    ui->label_2->setText(unit);
    ui->label_3->setText(caption);
}
