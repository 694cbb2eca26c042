#include "main/maindialog.h"

// The tunnel check page: the local and the public end of one tunnel are tried
// at the same time on two check threads.

#include "diagnostics/checkthread.h"
#include "tunnels/checktarget.h"
#include "tunnels/tunnelbean.h"

#include "ui_maindialog.h"

#include <QDateTime>
#include <QDebug>

namespace {

const char kNeutralStyle[] = "font: 14px \"微软雅黑\";color:#000000;";
const char kSuccessStyle[] = "font: 14px \"微软雅黑\";color: rgb(0, 170, 0);";
const char kFailureStyle[] = "font: 14px \"微软雅黑\";color:#f96f52;";
const char kServiceDownStyle[] = "font: 14px \"微软雅黑\";color:#f96f52;;";
const char kSuccessIcon[] = ":/images/icon/online.png";
const char kFailureIcon[] = ":/images/icon/info.png";

const char kLocalEnd[] = "内网";
const char kPublicEnd[] = "外网";

QString now()
{
    return QDateTime::currentDateTime()
        .toString(Qt::ISODate)
        .replace(QLatin1Char('T'), QLatin1Char(' '));
}

} // namespace

void MainDialog::startTunnelCheck(TunnelBean *bean)
{
    m_checkTarget = CheckTarget::fromBean(*bean);
    checkTunnelId = m_checkTarget.id;

    ui->end_time->setText(QString());
    for (QLabel *result : {ui->jc_nw_result, ui->jc_ww_result}) {
        result->setText(QStringLiteral("正在检测中..."));
        result->setStyleSheet(QString::fromUtf8(kNeutralStyle));
    }
    ui->btn_check1->setText(QStringLiteral("检测中..."));
    ui->btn_check1->setEnabled(false);
    ui->label_44->setText(QStringLiteral("检测进行中..."));
    ui->label_time->setText(QStringLiteral("当前时间：") + now());
    ui->jc_dst->setText(QStringLiteral("正在检测 ") + m_checkTarget.localEnd());
    ui->jc_pst->setText(QStringLiteral("正在检测 ") + m_checkTarget.publicEnd());
    ui->jc_sys_service_state->setText(QString());
    qDebug() << "开始检测...";

    // A thread goes as soon as it has finished; the result it sent is queued
    // before that.
    auto startCheck = [this](const QString &host, const QString &port, const char *label) {
        auto *thread = new CheckThread(this);
        connect(thread, &CheckThread::connectionResult, this, &MainDialog::onConnectionResult);
        connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        thread->setTarget(host, port);
        thread->setLabelIndex(QString::fromUtf8(label));
        thread->start();
        return thread;
    };
    m_localCheck = startCheck(m_checkTarget.dst_address, m_checkTarget.dst_port, kLocalEnd);
    // The page names the domain, but the provider's address is what is tried.
    m_publicCheck = startCheck(m_checkTarget.public_address, m_checkTarget.public_port, kPublicEnd);

    const QString state = queryServiceState();
    if (state.contains(QLatin1String("RUNNING"))) {
        ui->jc_sys_service_state->setText(QStringLiteral("RUNNING"));
        ui->jc_sys_service_state->setStyleSheet(QString::fromUtf8(kSuccessStyle));
    } else {
        ui->jc_sys_service_state->setText(state);
        ui->jc_sys_service_state->setStyleSheet(QString::fromUtf8(kServiceDownStyle));
    }
}

void MainDialog::onConnectionResult(bool success, QString label_index)
{
    // A result of an earlier test would be shown under this tunnel's name.
    QObject *from = sender();
    if (from && from != m_localCheck && from != m_publicCheck)
        return;

    QLabel *line = nullptr;
    QLabel *icon = nullptr;
    QLabel *link = nullptr;
    QString target;
    if (label_index == QString::fromUtf8(kLocalEnd)) {
        line = ui->jc_nw_result;
        icon = ui->label_25;
        link = ui->label_paicha1;
        target = m_checkTarget.localEnd();
    } else if (label_index == QString::fromUtf8(kPublicEnd)) {
        line = ui->jc_ww_result;
        icon = ui->label_43;
        link = ui->label_paicha2;
        target = m_checkTarget.publicEnd();
    } else {
        return;
    }

    if (success) {
        line->setText(QStringLiteral("已成功连接到：") + target);
        line->setStyleSheet(QString::fromUtf8(kSuccessStyle));
        setLocalImage(QString::fromLatin1(kSuccessIcon), icon);
        link->hide();
    } else {
        line->setText(QStringLiteral("暂未连接到：") + target);
        line->setStyleSheet(QString::fromUtf8(kFailureStyle));
        setLocalImage(QString::fromLatin1(kFailureIcon), icon);
        link->show();
    }

    if (line == ui->jc_ww_result) {
        ui->end_time->setText(QStringLiteral("结束时间：") + now());
        ui->btn_check1->setText(QStringLiteral("重新检测"));
        ui->btn_check1->setEnabled(true);
        ui->label_44->setText(QStringLiteral("本次检测已结束"));
    }
}

void MainDialog::clickreCheckBtn()
{
    getTunnelbtnClicked(checkTunnelId, QStringLiteral("检测"));
}
