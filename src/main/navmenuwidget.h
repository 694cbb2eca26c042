#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class NavMenuWidget;
}

class QEvent;
class QMouseEvent;

// One entry of the main window's navigation column. Its key is also its
// caption; a press emits the key. Built with the main window as parent, it is
// wired to that window's getclickmenu(QString) slot.
class NavMenuWidget : public QWidget
{
    Q_OBJECT

public:
    explicit NavMenuWidget(QWidget *parent = nullptr);
    ~NavMenuWidget() override;

    void setData(const QString &name, const QString &iconPath);
    void setIcon(const QString &path);
    QString name() const;

    // Replaces the entry's style sheet with the selected or the plain look.
    // Neither carries a hover rule, so once applied the entry no longer
    // lightens under the cursor.
    void setSelected(bool selected);

signals:
    void widgetClicked(QString name);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    Ui::NavMenuWidget *ui;
    QString m_name;
};
