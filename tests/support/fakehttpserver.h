#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 for tests of the network code. It runs
// in the test's own thread and serves from the event loop, so a client that
// waits for its reply in a nested QEventLoop gets answered.
//
// Requests on one connection are answered in order; a delayed or unanswered
// request holds back later requests on the same connection (as HTTP/1.1
// requires), while other connections are served independently.
class FakeHttpServer : public QObject
{
    Q_OBJECT
public:
    struct Response
    {
        int status = 200;
        QByteArray body;
        int delayMs = 0;                                            // answer after this many ms
        QByteArray contentType = "application/json; charset=utf-8"; // empty: no header
        bool neverAnswer = false;     // accept, read, never reply (connection stays open)
        bool resetConnection = false; // close the connection abruptly without any reply
        int cutOffAfter = -1;         // >= 0: announce the whole body, send this many bytes, close
        QList<QPair<QByteArray, QByteArray>> extraHeaders;
    };

    struct Request
    {
        QByteArray method;   // "POST", "GET"
        QString path;        // decoded path without query, without leading '/'
        QByteArray rawQuery; // exactly as on the wire, without '?'
        QList<QPair<QByteArray, QByteArray>> headers; // names lower-cased, in order
        QByteArray body;

        QByteArray header(const QByteArray &lowerName) const; // first match or empty
        // Percent-decoded (UTF-8) value of the first matching key; '+' stays '+'.
        QString queryValue(const QString &key) const;
        QStringList queryKeys() const; // decoded keys in order
    };

    explicit FakeHttpServer(QObject *parent = nullptr);
    ~FakeHttpServer() override;

    bool listen(); // 127.0.0.1, free port chosen by the OS
    quint16 port() const;
    QString baseUrl() const; // "http://127.0.0.1:<port>/"

    // route: a path such as "Action" or "images/x.png", optionally followed by
    // query conditions, e.g. "Action?method=name". A request matches when its
    // path is equal and every condition holds; among matches the route with the
    // most conditions wins. A later setResponse for the same route replaces it.
    void setResponse(const QString &route, const Response &response);
    void setDefaultResponse(const Response &response); // default: 404, empty body

    QList<Request> requests() const;
    int requestCount() const;
    void clearRequests();
    // Spins the event loop until requestCount() reaches count or timeoutMs
    // passed. Returns whether the count was reached.
    bool waitForRequests(int count, int timeoutMs);
    int openConnections() const; // connections currently open

signals:
    void requestReceived();

private:
    struct Route
    {
        QString path;
        QList<QPair<QString, QString>> conditions;
        Response response;
    };
    struct Connection
    {
        QByteArray buffer;
        bool busy = false; // an answer is pending; later requests wait
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void processBuffer(QTcpSocket *socket);
    Response responseFor(const Request &request) const;
    void answer(QTcpSocket *socket, const Request &request, const Response &response,
                bool keepAlive);
    void resetSocket(QTcpSocket *socket);
    void dropConnection(QTcpSocket *socket);

    QTcpServer *m_server = nullptr;
    QHash<QTcpSocket *, Connection> m_connections;
    QList<Route> m_routes;
    Response m_defaultResponse;
    QList<Request> m_requests;
};
