#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// One synchronous call of the provider's API: posts, waits in a nested event
// loop for the reply or the time-out, and returns the reply's JSON object.
class HttpRequest : public QObject
{
public:
    // Callers pass their window, but the request does not take it as parent:
    // it lives on the caller's stack for one call.
    explicit HttpRequest(QObject *parent = nullptr);

    QJsonObject postRequest(const QString &path);
    QJsonObject httpHandleData();
    static QString jsonToString(const QJsonObject &object);

    static constexpr int TimeoutMs = 2000;

private:
    QNetworkAccessManager *m_manager;
    QNetworkReply *m_httpReply = nullptr;
    QByteArray m_body;
    QJsonObject m_json;
};
