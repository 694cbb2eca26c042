#include "app/pictures.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QLabel>

namespace {

QString twiceAsLarge(const QString &path)
{
    const QFileInfo file(path);
    return file.path() + QLatin1Char('/') + file.completeBaseName() + QStringLiteral("@2x.") +
           file.suffix();
}

bool wantsLargePictures()
{
    return qApp && qApp->devicePixelRatio() > 1.0;
}

QByteArray fingerprint(const QImage &picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(reinterpret_cast<const char *>(image.constBits()), int(image.sizeInBytes()));
    hash.addData(QByteArray::number(image.width()) + 'x' + QByteArray::number(image.height()));
    return hash.result();
}

// Recognises a small picture by its pixels and swaps in the large one.
class Sharpener : public QObject
{
public:
    explicit Sharpener(QObject *parent) : QObject(parent)
    {
        QDirIterator it(QStringLiteral(":/images/icon"));
        while (it.hasNext()) {
            const QString path = it.next();
            if (path.contains(QLatin1String("@2x")) || !QFile::exists(twiceAsLarge(path)))
                continue;
            m_paths.insert(fingerprint(QImage(path)), path);
        }
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Polish)
            return false;
        auto *label = qobject_cast<QLabel *>(watched);
        if (!label)
            return false;
        const QPixmap shown = label->pixmap(Qt::ReturnByValue);
        if (shown.isNull() || shown.devicePixelRatio() > 1.0)
            return false;
        const auto found = m_paths.constFind(fingerprint(shown.toImage()));
        if (found != m_paths.constEnd())
            label->setPixmap(pictures::load(*found));
        return false;
    }

private:
    QHash<QByteArray, QString> m_paths;
};

} // namespace

namespace pictures {

QPixmap load(const QString &path)
{
    if (wantsLargePictures()) {
        const QString large = twiceAsLarge(path);
        // The file name's "@2x" gives the picture its device pixel ratio.
        if (QFile::exists(large))
            return QPixmap(large);
    }
    return QPixmap(path);
}

void sharpenFormPictures(QApplication &app)
{
    if (wantsLargePictures())
        app.installEventFilter(new Sharpener(&app));
}

} // namespace pictures
