#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

#include <initializer_list>

// Stands in for the browser and the file manager: every URL the client asks
// the desktop to open lands in `urls` instead.
class BrowserSink : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;

    // Routes the given schemes here for the rest of the process.
    void install(std::initializer_list<const char *> schemes = {"http", "https", "file"});

public slots:
    void open(const QUrl &url) { urls.append(url); }
};
