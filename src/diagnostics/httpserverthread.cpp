#include "diagnostics/httpserverthread.h"

HttpServerThread::HttpServerThread() : QThread(nullptr), m_port(18000) {}

void HttpServerThread::startServer() {}
