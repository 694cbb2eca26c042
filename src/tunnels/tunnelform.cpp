#include "main/maindialog.h"

// Submission of the tunnel create and edit forms.

#include "app/globals.h"
#include "dialogs/myconfirmdialog.h"
#include "net/apipath.h"
#include "net/apireply.h"
#include "net/httprequest.h"
#include "tunnels/tunnelbean.h"
#include "tunnels/tunnelformcheck.h"

#include "ui_maindialog.h"

#include <QDebug>
#include <QJsonObject>
#include <QTimer>

#include <functional>

namespace {

// Every tunnel made here is of the general type; the provider's console
// offers the others.
const char kGeneralChannelType[] = "2";
const char kEngine8[] = "3";
const char kEngine9[] = "4";
const int kUpdateButtonRestoreMs = 1000;

// Marks a tunnel submission as under way for its whole handler and runs
// `done` when the handler leaves, whichever way it leaves.
class SubmissionGuard
{
public:
    explicit SubmissionGuard(bool &flag, std::function<void()> done = {})
        : m_flag(flag), m_done(std::move(done))
    {
        m_flag = true;
    }
    ~SubmissionGuard()
    {
        m_flag = false;
        if (m_done)
            m_done();
    }
    SubmissionGuard(const SubmissionGuard &) = delete;
    SubmissionGuard &operator=(const SubmissionGuard &) = delete;

private:
    bool &m_flag;
    std::function<void()> m_done;
};

bool askToApplyNow(QWidget *parent, const QString &question)
{
    MyConfirmDialog dialog(parent);
    dialog.setMessage(question, QStringLiteral("操作提示"));
    return dialog.exec() == QDialog::Accepted;
}

QString failureText(const QJsonObject &reply)
{
    return QStringLiteral("操作提示:") + replyMessage(reply);
}

} // namespace

void MainDialog::loadTunnelToEditForm(TunnelBean *bean)
{
    ui->create_name_2->setText(bean->name());
    ui->create_dst_address_2->setText(bean->dst_address());
    ui->create_dst_port_2->setText(bean->dst_port());
    ui->create_domain2->setText(bean->domain());
    editTunnelId = bean->id();
    ui->label_32->setText(bean->channel_type() == QLatin1String("5") ? QStringLiteral("443")
                                                                     : bean->public_port());
}

void MainDialog::onclickCreateTunnelBtn()
{
    ui->create_result_msg->setText(QString());
    const QString name = ui->create_name->text();
    const QString address = ui->create_dst_address->text();
    const QString port = ui->create_dst_port->text();

    const QString notice = tunnelFormNotice(name, address, port);
    if (!notice.isEmpty()) {
        ui->create_result_msg->setText(notice);
        showTip(0, notice);
        return;
    }

    if (m_submittingTunnel)
        return;
    // Disabled until the list has been rebuilt and the question answered, so
    // a second click sends nothing.
    const SubmissionGuard guard(m_submittingTunnel, [this] {
        ui->btn_save1->setText(QStringLiteral("保存并提交"));
        ui->btn_save1->setEnabled(true);
    });
    ui->btn_save1->setText(QStringLiteral("提交中.."));
    ui->btn_save1->setEnabled(false);
    const QString model =
        QString::fromLatin1(ui->checkBox_model8->isChecked() ? kEngine8 : kEngine9);

    HttpRequest request(this);
    const QJsonObject reply = request.postRequest(
        buildApiPath(QStringLiteral("ClientTunnelAction"), QStringLiteral("create"),
                     {{QStringLiteral("username"), g_userName},
                      {QStringLiteral("password"), g_password},
                      {QStringLiteral("name"), name},
                      {QStringLiteral("private_address"), address},
                      {QStringLiteral("private_port"), port},
                      {QStringLiteral("channel_type"), QString::fromLatin1(kGeneralChannelType)},
                      {QStringLiteral("channel_model"), model}}));

    if (!isActionSuccess(reply)) {
        ui->create_result_msg->setText(failureText(reply));
        return;
    }
    ui->create_result_msg->setText(replyMessage(reply));
    reloadTunnelList();
    if (askToApplyNow(this, QStringLiteral("创建成功，是否立即生效?")))
        restartService();
}

void MainDialog::onclickUpdateTunnelBtn()
{
    ui->create_result_msg_2->setText(QString());
    const QString name = ui->create_name_2->text();
    const QString address = ui->create_dst_address_2->text();
    const QString port = ui->create_dst_port_2->text();
    const QString id = editTunnelId;

    const QString notice = tunnelFormNotice(name, address, port);
    if (!notice.isEmpty()) {
        ui->create_result_msg_2->setText(notice);
        showTip(0, notice);
        return;
    }

    if (m_submittingTunnel)
        return;
    const SubmissionGuard guard(m_submittingTunnel);
    ui->btn_save2->setText(QStringLiteral("提交中.."));
    ui->btn_save2->setEnabled(false);

    HttpRequest request(this);
    const QJsonObject reply = request.postRequest(
        buildApiPath(QStringLiteral("ClientTunnelAction"), QStringLiteral("update"),
                     {{QStringLiteral("username"), g_userName},
                      {QStringLiteral("password"), g_password},
                      {QStringLiteral("name"), name},
                      {QStringLiteral("private_address"), address},
                      {QStringLiteral("private_port"), port},
                      {QStringLiteral("id"), id}}));

    // Restored on a timer, so it comes back even while the question below is open.
    QTimer::singleShot(kUpdateButtonRestoreMs, this, [this] {
        ui->btn_save2->setText(QStringLiteral("修改并提交"));
        ui->btn_save2->setEnabled(true);
    });
    qDebug().noquote() << QStringLiteral("json=") + HttpRequest::jsonToString(reply);

    if (!isActionSuccess(reply)) {
        ui->create_result_msg_2->setText(failureText(reply));
        return;
    }
    ui->create_result_msg_2->setText(replyMessage(reply));
    reloadTunnelList();
    if (askToApplyNow(this, QStringLiteral("修改成功，是否立即生效?")))
        restartService();
}
