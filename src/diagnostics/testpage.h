#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The one page that the local test web server answers every connection with.

// The HTML page greeting the user; the user ID is HTML-escaped, so an ID with
// markup in it cannot change the page.
QString testPageBody(const QString &userId, const QDateTime &pageTime);

// The complete HTTP/1.1 response as sent, UTF-8 encoded: status line, headers,
// an empty line and the body. Content-Length counts the UTF-8 bytes of the body.
QByteArray testPageResponse(const QString &userId, const QDateTime &headerTime,
                            const QDateTime &pageTime);
