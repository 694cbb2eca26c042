#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class CTParamWidget;
}

// A small figure tile: a big value, its unit beside it and a caption beneath.
class CTParamWidget : public QWidget
{
    Q_OBJECT

public:
    explicit CTParamWidget(QWidget *parent = nullptr);
    ~CTParamWidget() override;

    void setParam(const QString &value, const QString &unit, const QString &caption);

private:
    Ui::CTParamWidget *ui;
};
