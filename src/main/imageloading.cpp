#include "main/maindialog.h"

#include "app/globals.h"
#include "app/pictures.h"
#include "net/picturefetch.h"

#include <QDebug>
#include <QLabel>
#include <QPixmap>

namespace {

const char kFallbackPicture[] = ":/images/icon/touxiang2.png";

QString defaultAvatarUrl()
{
    return g_webBaseUrl + QStringLiteral("images/touxiang.png");
}

} // namespace

QString MainDialog::pictureAddress(const QString &url)
{
    QString address = url.isEmpty() ? defaultAvatarUrl() : url;
    // Pictures are fetched over plain http.
    address.replace(QStringLiteral("https://"), QStringLiteral("http://"), Qt::CaseInsensitive);
    return address;
}

QPixmap MainDialog::pictureToShow(const QString &address, const QByteArray &body)
{
    QPixmap pixmap;
    pixmap.loadFromData(body);
    // The smart-device picture fills its page as it is; every other picture
    // is an avatar-sized one.
    if (pixmap.isNull() || address.contains(QLatin1String("client_bg.png")))
        return pixmap;
    return pixmap.scaled(48, 48, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

void MainDialog::loadImage(const QString &url, QLabel *label)
{
    const QString address = pictureAddress(url);
    // Set whenever it arrives; a label gone by then takes nothing.
    fetchPicture(address, label, ImageTimeoutMs, [address, label](const FetchedPicture &picture) {
        if (!picture.arrived) {
            qDebug() << "Failed to connect to the network.";
            setLocalImage(QString::fromLatin1(kFallbackPicture), label);
            return;
        }
        label->setPixmap(pictureToShow(address, picture.body));
    });
}

void MainDialog::setLocalImage(const QString &path, QLabel *label)
{
    if (!label)
        return;
    label->setPixmap(pictures::load(path));
    label->show();
}
