#include "diagnostics/checkthread.h"

#include "diagnostics/tcpprobe.h"

#include <QDebug>
#include <QTcpSocket>

namespace {

const int kConnectTimeoutMs = 5000;

} // namespace

CheckThread::CheckThread(QObject *parent) : QThread(parent), m_lookup(platform::hostLookup()) {}

CheckThread::~CheckThread()
{
    wait();
}

void CheckThread::setTarget(const QString &host, const QString &port)
{
    m_host = host;
    m_port = port.toInt(nullptr, 10);
}

void CheckThread::setLabelIndex(const QString &label)
{
    m_labelIndex = label;
}

void CheckThread::run()
{
    QTcpSocket socket;
    qDebug().noquote() << "开始检测 " + m_host + ":" + QString::number(m_port);
    // The bound holds for the name's resolution too.
    const bool success = tcpprobe::connectWithin(
        socket, m_host, static_cast<quint16>(m_port & 0xffff), kConnectTimeoutMs, m_lookup);
    emit connectionResult(success, m_labelIndex);
}
