#include "diagnostics/checkthread.h"

#include <QDebug>
#include <QTcpSocket>

namespace {

const int kConnectTimeoutMs = 5000;

} // namespace

CheckThread::CheckThread(QObject *parent) : QThread(parent) {}

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
    socket.connectToHost(m_host, static_cast<quint16>(m_port & 0xffff), QIODevice::ReadWrite,
                         QAbstractSocket::AnyIPProtocol);
    const bool success = socket.waitForConnected(kConnectTimeoutMs);
    emit connectionResult(success, m_labelIndex);
}
