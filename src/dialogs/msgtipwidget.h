#pragma once

#include <QWidget>

namespace Ui {
class MsgTipWidget;
}

// Light-green strip with an icon and one line of text inside a window. It is
// visible from construction, hides itself 3000 ms after showTip and is then
// deleted, so it must be made with new. Callers create a new tip per message
// and move it to (300, 2).
class MsgTipWidget : public QWidget
{
    Q_OBJECT

public:
    explicit MsgTipWidget(QWidget *parent = nullptr);
    ~MsgTipWidget() override;

    // kind 1 success, 0 information, -1 error; any other kind keeps the icon.
    void showTip(int kind, const QString &text);
    void setTipIcon(const QString &path);

private:
    Ui::MsgTipWidget *ui;
};
