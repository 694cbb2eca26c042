#include "catalogue/changjingwidget.h"

#include "ui_changjingwidget.h"

#include <QEventLoop>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QUrl>

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
    QPointer<QLabel> target(label);
    QPixmap picture;

    const QUrl address(url);
    if (address.isValid() && !address.isRelative()) {
        QNetworkAccessManager manager;
        QNetworkReply *reply = manager.get(QNetworkRequest(address));

        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        // The row may be torn down while the loop runs; stop waiting then.
        QObject::connect(label, &QObject::destroyed, &loop, &QEventLoop::quit);
        timer.start(RowIconTimeoutMs);
        loop.exec();

        if (reply->isFinished() && reply->error() == QNetworkReply::NoError)
            picture.loadFromData(reply->readAll());
        else
            reply->abort();
        delete reply;
    }

    if (!target)
        return;
    target->setPixmap(picture);
    target->show();
}
