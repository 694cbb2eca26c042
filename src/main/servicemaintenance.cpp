#include "main/maindialog.h"

#include "app/globals.h"
#include "dialogs/msgtipwidget.h"
#include "main/servicestate.h"
#include "net/consolelinks.h"
#include "platform/platform.h"
#include "service/servicecontroller.h"
#include "service/servicesequence.h"

#include "ui_maindialog.h"

#include <QApplication>
#include <QClipboard>
#include <QDebug>
#include <QDesktopServices>
#include <QProcess>
#include <QTimer>
#include <QUrl>

namespace {

const char kBusyStyle[] = "QPushButton{border:1px solid #cbc8ca;border-radius:3px;color:#fc5531;"
                          "font:12px \"微软雅黑\";}QPushButton:hover{background-color:#e3e2e3;}";
const char kNormalStyle[] =
    "QPushButton{border:1px solid #cbc8ca;border-radius:3px;color:rgb(90, 90, 90);"
    "font:12px \"微软雅黑\";}QPushButton:hover{background-color:#e3e2e3;}";

// Runs one external command to its end or the command wait; a command still
// running then is ended. Returns whether it ran and exited normally with 0.
bool runCommand(QProcess &process, const QString &program, const QStringList &arguments)
{
    process.start(program, arguments, QIODevice::ReadWrite);
    const bool finished = process.waitForFinished(platform::commandWaitMs());
    if (!finished && process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void setRestartButtonNormal(QPushButton *button)
{
    button->setEnabled(true);
    button->setText(QStringLiteral("重启服务"));
    button->setStyleSheet(QString::fromUtf8(kNormalStyle));
}

} // namespace

QString MainDialog::queryServiceState()
{
    return servicestate::query();
}

void MainDialog::beginServiceRestart(QPushButton *button)
{
    button->setText(QStringLiteral("正在重启中"));
    button->setStyleSheet(QString::fromUtf8(kBusyStyle));
    // Disabled until the restart has run, so a second press queues nothing.
    button->setEnabled(false);
    if (button == ui->btn_fresh)
        reloadTunnelList();
    QTimer::singleShot(RestartDelayMs, Qt::CoarseTimer, this, &MainDialog::restartService);
}

void MainDialog::restartService()
{
    // Signed out, the service stays stopped: it would run for no account.
    if (m_signedOut)
        return;
    if (m_serviceSequence) {
        // One sequence at a time: the stop of one must not meet the start of
        // another.
        m_restartQueued = true;
        return;
    }
    runServiceSequence(ServiceSequence::Restart);
}

void MainDialog::startServiceAtSignIn(const QString &state)
{
    if (!state.contains(QLatin1String("STOP_PENDING"))) {
        m_serviceController->startService();
        return;
    }
    // The previous account's service is still stopping (a sign-in right after
    // a logout): a start now would be refused.
    runServiceSequence(ServiceSequence::WaitStopped | ServiceSequence::Start);
}

void MainDialog::runServiceSequence(ServiceSequence::Steps steps)
{
    const bool restart = steps.testFlag(ServiceSequence::WaitRunning);
    m_serviceSequence = new ServiceSequence(m_serviceController.get(), &servicestate::query, this);
    connect(m_serviceSequence, &ServiceSequence::finished, this,
            [this, restart](bool ok, const QString &cause) {
                m_serviceSequence->deleteLater();
                m_serviceSequence = nullptr;
                if (!ok)
                    qDebug() << (restart ? "Service restart failed:" : "Service start failed:")
                             << cause;
                if (restart) {
                    setRestartButtonNormal(ui->btn_fresh);
                    setRestartButtonNormal(ui->btn_fresh_2);
                    // Success is claimed only when both commands were accepted
                    // and the service really came back.
                    if (ok)
                        showTip(1, QStringLiteral("服务重启成功!"));
                    else
                        showTip(-1, QStringLiteral("服务重启失败，请检查后台服务"));
                }
                if (m_restartQueued && !m_signedOut) {
                    m_restartQueued = false;
                    runServiceSequence(ServiceSequence::Restart);
                }
            });
    m_serviceSequence->run(steps);
}

void MainDialog::flushDns()
{
    const platform::Command command = platform::dnsFlushCommand();
    QProcess process;
    if (runCommand(process, command.program, command.arguments))
        showTip(1, QStringLiteral("DNS缓存已清除！"));
    else
        showTip(-1, QStringLiteral("DNS缓存清除失败"));
}

void MainDialog::openLogFolder()
{
    // The folder belongs to the background service; it is opened as it is.
    openInBrowser(QUrl::fromLocalFile(platform::serviceLogPath()));
}

void MainDialog::copyToClipboard(const QString &text)
{
    QApplication::clipboard()->setText(text, QClipboard::Clipboard);
    showTip(1, QStringLiteral("已复制到剪切板"));
}

void MainDialog::showTip(int kind, const QString &text)
{
    auto *tip = new MsgTipWidget(this);
    tip->showTip(kind, text);
    tip->move(300, 2);
}
