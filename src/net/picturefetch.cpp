#include "net/picturefetch.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace {

// A manager per picture would start a network thread per picture.
QNetworkAccessManager *pictureNetwork()
{
    static QPointer<QNetworkAccessManager> manager;
    if (!manager)
        manager = new QNetworkAccessManager(QCoreApplication::instance());
    return manager;
}

// One transfer, living as a child of its reply.
class PictureFetch : public QObject
{
public:
    PictureFetch(QNetworkReply *reply, QObject *receiver, int timeoutMs,
                 std::function<void(const FetchedPicture &)> done)
        : QObject(reply), m_reply(reply), m_done(std::move(done))
    {
        connect(reply, &QNetworkReply::finished, this, &PictureFetch::finish);
        // The receiver's own pointers may already be gone while it emits
        // destroyed(), so the handover is cancelled before the abort below
        // finishes the reply.
        connect(receiver, &QObject::destroyed, this, [this] {
            m_done = nullptr;
            m_reply->abort();
        });
        auto *deadline = new QTimer(this);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
        deadline->start(timeoutMs);
    }

private:
    void finish()
    {
        m_reply->deleteLater();
        if (!m_done)
            return;
        FetchedPicture picture;
        const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const int code = status.isValid() ? status.toInt() : 0;
        picture.arrived = m_reply->error() == QNetworkReply::NoError && code >= 200 && code <= 299;
        if (picture.arrived)
            picture.body = m_reply->readAll();
        const auto done = std::move(m_done);
        m_done = nullptr;
        done(picture);
    }

    QNetworkReply *m_reply;
    std::function<void(const FetchedPicture &)> m_done;
};

} // namespace

void fetchPicture(const QString &url, QObject *receiver, int timeoutMs,
                  std::function<void(const FetchedPicture &)> done)
{
    const QUrl address(url);
    if (!address.isValid() || address.isRelative()) {
        // Nothing to fetch; told from the event loop all the same, as a
        // fetch would be.
        QTimer::singleShot(0, receiver, [done] { done(FetchedPicture()); });
        return;
    }
    QNetworkReply *reply = pictureNetwork()->get(QNetworkRequest(address));
    new PictureFetch(reply, receiver, timeoutMs, std::move(done));
}
