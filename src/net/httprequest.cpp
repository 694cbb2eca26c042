#include "net/httprequest.h"

#include "app/globals.h"
#include "net/apipath.h"

#include <QDebug>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

HttpRequest::HttpRequest(QObject *parent) : QObject(nullptr)
{
    Q_UNUSED(parent)
    m_manager = new QNetworkAccessManager(this);
}

QJsonObject HttpRequest::postRequest(const QString &path)
{
    qDebug() << "请求url=" + redactPasswords(path);
    QNetworkRequest request(QUrl(g_apiBaseUrl + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    m_httpReply = m_manager->post(request, m_body);
    qDebug() << "http请求已发送";

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setInterval(TimeoutMs);
    // Whichever comes first decides. A call made meanwhile (a window's timer)
    // runs its loop inside this one, so this loop may return only after this
    // timer has fired although the reply came in time: that reply still counts.
    bool answered = false;
    bool timedOut = false;
    connect(m_httpReply, &QNetworkReply::finished, &loop, [&] {
        if (!timedOut)
            answered = true;
        loop.quit();
    });
    connect(&timer, &QTimer::timeout, &loop, [&] {
        if (!answered)
            timedOut = true;
        loop.quit();
    });
    timer.start();
    loop.exec();

    if (timedOut) {
        qDebug() << "time Out";
        m_json.insert(QStringLiteral("code"), -1);
        m_json.insert(QStringLiteral("msg"), QStringLiteral("连接超时"));
    } else if (!answered) {
        // Neither the reply nor the time-out: the program is quitting, which
        // ends every loop. The reply has not come, so there is none to read.
        qDebug() << "请求已中断：程序正在退出";
        m_json.insert(QStringLiteral("code"), -1);
        m_json.insert(QStringLiteral("msg"), QStringLiteral("请求已中断"));
    } else {
        qDebug() << "开始执行httpHandleData";
        timer.stop();
        m_json = httpHandleData();
    }
    m_httpReply->abort();
    return m_json;
}

QJsonObject HttpRequest::httpHandleData()
{
    const QNetworkReply::NetworkError error = m_httpReply->error();
    qDebug() << "httpHandleData m_httpReply->error()=" << error;
    if (error == QNetworkReply::NoError)
        m_json = QJsonDocument::fromJson(m_httpReply->readAll()).object();
    m_httpReply->deleteLater();
    return m_json;
}

QString HttpRequest::jsonToString(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson());
}
