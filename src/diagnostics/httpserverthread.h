#pragma once

#include <QThread>

// The local test web server on port 18000 that a user can point a tunnel at.
// It serves from the GUI thread; the thread base only hosts the server object.
class HttpServerThread : public QThread
{
    Q_OBJECT

public:
    HttpServerThread();

    // Begins listening. Not serving yet: the page it answers with comes later.
    void startServer();

private:
    quint16 m_port;
};
