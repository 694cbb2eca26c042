#include "catalogue/changjingwidget.h"

#include "net/picturefetch.h"

#include "ui_changjingwidget.h"

#include <QLabel>
#include <QPixmap>

ChangjingWidget::ChangjingWidget(QWidget *parent) : QWidget(parent), ui(new Ui::ChangjingWidget)
{
    ui->setupUi(this);
    // A QWidget subclass paints its style-sheet background only with this.
    setAttribute(Qt::WA_StyledBackground, true);
    setAttribute(Qt::WA_Hover, true);
}

ChangjingWidget::~ChangjingWidget()
{
    delete ui;
}

void ChangjingWidget::setSceneData(const QString &id, const QString &name, const QString &title,
                                   const QString &content, const QString &icon)
{
    m_id = id;
    m_name = name;
    m_title = title;
    m_content = content;
    m_icon = icon;
    ui->label_name->setText(name.isEmpty() ? QStringLiteral("默认") : name);
    loadRowIcon(ui->label, icon);
}

void ChangjingWidget::mousePressEvent(QMouseEvent *)
{
    // The stored name, so a row shown as "默认" still names its empty scene.
    emit messageSent(m_name);
}

void loadRowIcon(QLabel *label, const QString &url)
{
    // Empty until the picture is there, and for good when it never comes.
    label->setPixmap(QPixmap());
    label->show();
    fetchPicture(url, label, RowIconTimeoutMs, [label](const FetchedPicture &picture) {
        QPixmap pixmap;
        if (picture.arrived)
            pixmap.loadFromData(picture.body);
        label->setPixmap(pixmap);
    });
}
