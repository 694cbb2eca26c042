#include "main/maindialog.h"

#include "app/globals.h"

#include <QDebug>
#include <QEventLoop>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace {

const char kFallbackPicture[] = ":/images/icon/touxiang2.png";

QString defaultAvatarUrl()
{
    return g_webBaseUrl + QStringLiteral("images/touxiang.png");
}

} // namespace

bool MainDialog::loadImage(const QString &url, QLabel *label)
{
    QString address = url.isEmpty() ? defaultAvatarUrl() : url;
    // Pictures are fetched over plain http.
    address.replace(QStringLiteral("https://"), QStringLiteral("http://"), Qt::CaseInsensitive);

    // The label may go away while the event loop below runs.
    QPointer<QLabel> target(label);
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(address)));

    // Bounded, so a picture that never arrives cannot hold the window for good.
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ImageTimeoutMs);
    loop.exec();

    if (!reply->isFinished())
        reply->abort();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int code = status.isValid() ? status.toInt() : 0;
    const bool arrived = code >= 200 && code <= 299;
    if (!arrived) {
        qDebug() << "Failed to connect to the network.";
        if (target)
            setLocalImage(QString::fromLatin1(kFallbackPicture), target);
    } else if (target) {
        QPixmap pixmap;
        pixmap.loadFromData(reply->readAll());
        if (pixmap.isNull() || address.contains(QLatin1String("client_bg.png")))
            target->setPixmap(pixmap);
        else
            target->setPixmap(pixmap.scaled(48, 48, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    }
    reply->deleteLater();
    return arrived;
}

void MainDialog::setLocalImage(const QString &path, QLabel *label)
{
    if (!label)
        return;
    label->setPixmap(QPixmap(path));
    label->show();
}
