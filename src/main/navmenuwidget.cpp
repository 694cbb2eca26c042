#include "main/navmenuwidget.h"

#include "app/pictures.h"

#include "ui_navmenuwidget.h"

#include <QDebug>
#include <QMouseEvent>
#include <QPixmap>

namespace {

const char kSelectedStyle[] = "QWidget#NavMenuWidget{background-color:#cbc8ca;}";
const char kNormalStyle[] = "QWidget#NavMenuWidget{background-color: rgb(232, 232, 232);}";

const char kCaptionHoverStyle[] = "font: 14px \"微软雅黑\";\ncolor: rgb(0, 0, 0);";
const char kCaptionStyle[] = "font: 14px \"微软雅黑\";\ncolor: rgb(100, 100, 100);";

} // namespace

NavMenuWidget::NavMenuWidget(QWidget *parent) : QWidget(parent), ui(new Ui::NavMenuWidget)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);

    // Wired by name, so this class needs nothing of the main window's header.
    // A parent without the slot (e.g. during tests) simply gets no connection.
    if (parent && parent->metaObject()->indexOfSlot("getclickmenu(QString)") >= 0)
        connect(this, SIGNAL(widgetClicked(QString)), parent, SLOT(getclickmenu(QString)));
}

NavMenuWidget::~NavMenuWidget()
{
    delete ui;
}

void NavMenuWidget::setData(const QString &name, const QString &iconPath)
{
    m_name = name;
    ui->label->setText(name);
    setIcon(iconPath);
}

void NavMenuWidget::setIcon(const QString &path)
{
    ui->nav_icon->setScaledContents(true);
    ui->nav_icon->setPixmap(pictures::load(path));
    ui->nav_icon->show();
}

QString NavMenuWidget::name() const
{
    return m_name;
}

void NavMenuWidget::setSelected(bool selected)
{
    setStyleSheet(QString::fromUtf8(selected ? kSelectedStyle : kNormalStyle));
}

void NavMenuWidget::mousePressEvent(QMouseEvent *event)
{
    qDebug() << "鼠标点击事件";
    // Accepted here so the press does not also start a window drag.
    event->accept();
    emit widgetClicked(m_name);
}

void NavMenuWidget::enterEvent(QEvent *event)
{
    ui->label->setStyleSheet(QString::fromUtf8(kCaptionHoverStyle));
    QWidget::enterEvent(event);
}

void NavMenuWidget::leaveEvent(QEvent *event)
{
    ui->label->setStyleSheet(QString::fromUtf8(kCaptionStyle));
    QWidget::leaveEvent(event);
}
