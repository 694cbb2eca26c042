#include "diagnostics/testpage.h"

QString testPageBody(const QString &userId, const QDateTime &pageTime)
{
    return QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
                          "<title>web server</title></head><body><h1>Hi,") +
           userId.toHtmlEscaped() +
           QStringLiteral("</h1><p>This is your local web service page, current time is ") +
           pageTime.toString(Qt::RFC2822Date) + QStringLiteral("</p></body></html>");
}

QByteArray testPageResponse(const QString &userId, const QDateTime &headerTime,
                            const QDateTime &pageTime)
{
    const QByteArray body = testPageBody(userId, pageTime).toUtf8();
    QByteArray response;
    response += "HTTP/1.1 200 OK\r\n";
    response += "Content-Type: text/html\r\n";
    response += "Connection: keep-alive\r\n";
    response += "Date: " + headerTime.toString(Qt::RFC2822Date).toUtf8() + "\r\n";
    response += "Etag: W/\"10114-1648135252000\"\r\n";
    response += "Keep-Alive: timeout=20\r\n";
    response += "Server: tessaro server/1.0.1\r\n";
    response += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    response += "\r\n";
    response += body;
    return response;
}
