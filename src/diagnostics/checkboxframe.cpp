#include "diagnostics/checkboxframe.h"

#include "diagnostics/httpserverthread.h"

#include "ui_checkboxframe.h"

#include "app/globals.h"
#include "app/pictures.h"
#include "diagnostics/interferingsoftware.h"
#include "diagnostics/networkprobe.h"
#include "diagnostics/servicequery.h"
#include "diagnostics/tcpprobe.h"
#include "platform/platform.h"

#include <QDebug>
#include <QMouseEvent>
#include <QPixmap>
#include <QTcpSocket>
#include <QTimer>

namespace {

const int kConnectWaitMs = 5000;
const int kStepDelayMs = 1000;
// A listener on this machine answers at once; no need for the full wait.
const int kKillWaitMs = 1000;
const quint16 kTunnelLoginPort = 4568;
const quint16 kWebServerPort = 18000;
const int kWebServerTab = 2;

const char kIconPending[] = ":/images/icon/c2.png";
const char kIconPassed[] = ":/images/icon/c3.png";
const char kIconFailed[] = ":/images/icon/c4.png";
const char kIconWebServer[] = ":/images/icon/web_1.png";

quint16 g_tunnelLoginPortOverride = 0;
quint16 g_webServerPortOverride = 0;

QString icon(const char *path)
{
    return QString::fromLatin1(path);
}

// A process that outlived its wait is killed here rather than by the
// QProcess destructor, which would complain about it.
void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(kKillWaitMs);
}

} // namespace

CheckBoxFrame::CheckBoxFrame(QWidget *parent) : QWidget(parent), ui(new Ui::CheckBoxFrame)
{
    ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint);
    // Every request opens a fresh toolbox; a closed one is of no further use.
    setAttribute(Qt::WA_DeleteOnClose);

    connect(ui->closeBtn, &QPushButton::clicked, this, &QWidget::close);
    connect(ui->btn_check_local, &QPushButton::clicked, this, &CheckBoxFrame::runLocalCheck);
    connect(ui->btn_check_network, &QPushButton::clicked, this, &CheckBoxFrame::runNetworkCheck);
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == kWebServerTab)
            refreshWebServerState();
    });

    refreshWebServerState();
}

CheckBoxFrame::~CheckBoxFrame()
{
    stopProcess(m_process);
    delete ui;
}

void CheckBoxFrame::runLocalCheck()
{
    ui->btn_check_local->setText(QStringLiteral("诊断中..."));
    ui->label_3->setText(QStringLiteral("正在为您诊断..."));
    ui->textEdit->clear();

    setLabelIcon(ui->label_4, icon(kIconPending));
    setLabelIcon(ui->label_6, icon(kIconPending));
    setLabelIcon(ui->label_8, icon(kIconPending));
    ui->label_5->setText(QStringLiteral("正在诊断本地系统服务安装状态..."));
    ui->label_7->setText(QStringLiteral("正在诊断本地系统服务运行状态..."));

    const QString state = readServiceState();
    if (state.contains(QLatin1String("RUNNING"))) {
        setLabelIcon(ui->label_4, icon(kIconPassed));
        ui->label_5->setText(QStringLiteral("本地后台系统服务安装正常!"));
        setLabelIcon(ui->label_6, icon(kIconPassed));
        ui->label_7->setText(QStringLiteral("本地系统服务运行状态正常!"));
    } else if (state == QLatin1String("1060")) {
        setLabelIcon(ui->label_4, icon(kIconFailed));
        ui->label_5->setText(QStringLiteral("Tessaro后台服务未安装成功"));
        setLabelIcon(ui->label_6, icon(kIconFailed));
        ui->label_7->setText(QStringLiteral("后台服务未启动或不存在"));
    } else {
        setLabelIcon(ui->label_4, icon(kIconPassed));
        ui->label_5->setText(QStringLiteral("本地后台系统服务安装正常!"));
        setLabelIcon(ui->label_6, icon(kIconFailed));
        ui->label_7->setText(QStringLiteral("后台服务未启动或不存在"));
    }

    ui->label_9->setText(QStringLiteral("正在诊断本地主机可能拦截服务的进程..."));
    // Bound to this window: a toolbox closed in the meantime is gone, and the
    // step with it.
    QTimer::singleShot(kStepDelayMs, Qt::PreciseTimer, this, [this] { finishLocalCheck(); });
}

QString CheckBoxFrame::readServiceState()
{
    QProcess process;
    process.start(platform::serviceControlProgram(), {QStringLiteral("query"), g_serviceName},
                  QIODevice::ReadWrite);
    // A tool that hangs still gets its say with whatever it printed so far.
    process.waitForFinished(platform::commandWaitMs());
    const QByteArray output = process.readAllStandardOutput();
    stopProcess(process);
    return servicequery::judgeOutput(output);
}

void CheckBoxFrame::finishLocalCheck()
{
    const QString found = scanInterferingSoftware();
    if (!found.isEmpty()) {
        setLabelIcon(ui->label_8, icon(kIconFailed));
        ui->label_9->setText(QStringLiteral("以下是诊断可能对服务造成拦截的程序"));
    } else {
        setLabelIcon(ui->label_8, icon(kIconPassed));
        ui->label_9->setText(QStringLiteral("排查本地主机可能拦截服务的进程"));
    }
    ui->textEdit->setPlainText(found);

    ui->label_3->setText(QStringLiteral("本次诊断已完成"));
    ui->btn_check_local->setText(QStringLiteral("重新诊断"));
}

QString CheckBoxFrame::scanInterferingSoftware()
{
    const platform::Command command = platform::processListCommand();
    m_process.start(command.program, command.arguments, QIODevice::ReadWrite);
    if (!m_process.waitForFinished(platform::commandWaitMs())) {
        // Killed now, so the next scan can start the process object again.
        stopProcess(m_process);
        return QString();
    }
    return interferingsoftware::warningsFor(m_process.readAll());
}

void CheckBoxFrame::runNetworkCheck()
{
    ui->label_11->setText(QStringLiteral("正在进行诊断..."));
    setLabelIcon(ui->label_12, icon(kIconPending));
    setLabelIcon(ui->label_14, icon(kIconPending));
    ui->label_13->setText(QStringLiteral("检测是否可以上网"));
    ui->label_15->setText(QStringLiteral("检测服务器连接状态"));
    ui->label_13->setText(QStringLiteral("正在检测是否可以连接网络..."));

    const networkprobe::Target target = networkprobe::internetTarget(g_apiBaseUrl);
    if (testTcpConnection(target.host, target.port)) {
        ui->label_13->setText(QStringLiteral("检测接网络访问网页正常！"));
        setLabelIcon(ui->label_12, icon(kIconPassed));
    } else {
        ui->label_13->setText(QStringLiteral("检测失败，无法访问网络"));
        setLabelIcon(ui->label_12, icon(kIconFailed));
    }

    QTimer::singleShot(kStepDelayMs, Qt::PreciseTimer, this, [this] { checkServerConnection(); });
}

void CheckBoxFrame::checkServerConnection()
{
    ui->label_15->setText(QStringLiteral("正在检测连接服务器状态..."));
    if (testTcpConnection(g_tunnelLoginHost, tunnelLoginPort())) {
        ui->label_15->setText(QStringLiteral("检测连接服务器成功!"));
        setLabelIcon(ui->label_14, icon(kIconPassed));
    } else {
        ui->label_15->setText(QStringLiteral("网络异常，无法连接服务器"));
        setLabelIcon(ui->label_14, icon(kIconFailed));
    }
    ui->label_11->setText(QStringLiteral("点击按钮进行诊断"));
}

bool CheckBoxFrame::testTcpConnection(const QString &host, quint16 port)
{
    return testTcpConnection(host, port, kConnectWaitMs);
}

bool CheckBoxFrame::testTcpConnection(const QString &host, quint16 port, int waitMs)
{
    QTcpSocket socket;
    QString why;
    if (tcpprobe::connectWithin(socket, host, port, waitMs, platform::hostLookup(), &why)) {
        qDebug() << "Connection successful.";
        socket.disconnectFromHost();
        return true;
    }
    qDebug().noquote() << QStringLiteral("Connection failed: ") + why;
    return false;
}

void CheckBoxFrame::refreshWebServerState()
{
    // This client's own server, not whatever answers on the port: when
    // another program holds it, ours failed to listen.
    const quint16 port = webServerPort();
    if (HttpServerThread::anyListening()) {
        setLabelIcon(ui->label_21, icon(kIconWebServer));
        ui->label_22->setStyleSheet(
            QStringLiteral("font: 14px \"微软雅黑\";\ncolor: rgb(0, 170, 0);"));
        ui->label_22->setText(QStringLiteral("服务运行中"));
    } else {
        setLabelIcon(ui->label_21, icon(kIconFailed));
        ui->label_22->setStyleSheet(QStringLiteral("font: 14px \"微软雅黑\";\ncolor: #fc5531;"));
        ui->label_22->setText(QStringLiteral("服务未运行，端口%1可能被占用").arg(port));
    }
    // The failure text is longer than the room the form gives the label.
    ui->label_22->resize(qMax(130, ui->label_22->sizeHint().width()), ui->label_22->height());
}

void CheckBoxFrame::setLabelIcon(QLabel *label, const QString &imagePath)
{
    label->setPixmap(pictures::load(imagePath));
    label->show();
}

quint16 CheckBoxFrame::tunnelLoginPort()
{
    return g_tunnelLoginPortOverride ? g_tunnelLoginPortOverride : kTunnelLoginPort;
}

quint16 CheckBoxFrame::webServerPort()
{
    return g_webServerPortOverride ? g_webServerPortOverride : kWebServerPort;
}

void CheckBoxFrame::setPortsForTesting(quint16 tunnelLoginPort, quint16 webServerPort)
{
    g_tunnelLoginPortOverride = tunnelLoginPort;
    g_webServerPortOverride = webServerPort;
}

void CheckBoxFrame::mousePressEvent(QMouseEvent *event)
{
    m_dragOffset = event->globalPos() - pos();
}

void CheckBoxFrame::mouseMoveEvent(QMouseEvent *event)
{
    // Move events reach the window only while a button is held.
    move(event->globalPos() - m_dragOffset);
}
