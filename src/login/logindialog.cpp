#include "login/logindialog.h"

#include "app/globals.h"
#include "app/lifetime.h"
#include "app/myoperatorutil.h"
#include "dialogs/msgtipwidget.h"
#include "dialogs/mymsgdialog.h"
#include "main/maindialog.h"
#include "net/apireply.h"
#include "net/consolelinks.h"
#include "net/httprequest.h"
#include "net/signin.h"
#include "platform/platform.h"
#include "ui_logindialog.h"

#include <QApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QJsonObject>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

namespace {
// Used when the probe is given no URL.
const char *const kFallbackProbeUrl = "http://www.baidu.com/";
} // namespace

LoginDialog::LoginDialog(QWidget *parent) : QDialog(parent), ui(new Ui::LoginDialog)
{
    ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint);
    m_util = new MyOperatorUtil(nullptr);
    ui->forgetPass->installEventFilter(this);
    ui->register_2->installEventFilter(this);
    connect(ui->loginBtn, &QPushButton::clicked, this, &LoginDialog::onLoginClicked);
    connect(ui->closeBtn, &QPushButton::clicked, this, &QDialog::close);
    // Return belongs to the login (keyPressEvent): no button of this dialog
    // may take it as its default, and the close button reacts to a click
    // only, so Tab never gives it the focus.
    for (QPushButton *button : findChildren<QPushButton *>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    ui->closeBtn->setFocusPolicy(Qt::NoFocus);
    loadSavedAccount();
    ui->label_connect_state->setText(QStringLiteral("正在检测网络环境..."));
    if (isNetworkOnline(g_apiBaseUrl))
        ui->label_connect_state->setText(QString());
    else
        ui->label_connect_state->setText(QStringLiteral("网络异常，请检查此电脑是否可以正常联网"));
}

LoginDialog::~LoginDialog()
{
    delete m_util;
    delete ui;
}

LoginDialog *LoginDialog::openAfterLogout()
{
    auto *login = new LoginDialog(nullptr);
    login->m_madeAfterLogout = true;
    login->show();
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *earlier = dynamic_cast<LoginDialog *>(widget);
        // Released once idle: the one that signed in may still be waiting in
        // its login (a logout while the main window was being built).
        if (earlier && earlier != login && earlier->m_madeAfterLogout && !earlier->isVisible())
            lifetime::releaseWhenIdle(earlier);
    }
    return login;
}

void LoginDialog::loadSavedAccount()
{
    const QString user = m_util->getValue(QStringLiteral("server/user"));
    const QString pass = m_util->getValue(QStringLiteral("server/pass"));
    ui->lineEdit->setText(user);
    ui->lineEdit_2->setText(pass);
    qDebug() << "iniConfigFile cfg_user=" + user;
    qDebug() << "iniConfigFile cfg_pass=" + (pass.isEmpty() ? QString() : QStringLiteral("***"));
}

bool LoginDialog::isNetworkOnline(const QString &url)
{
    QNetworkAccessManager manager;
    const QString target = url.isEmpty() ? QString::fromLatin1(kFallbackProbeUrl) : url;
    QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(target)));

    // Bounded: the dialog is not shown until the probe ends.
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ProbeTimeoutMs);
    loop.exec();

    bool online = false;
    if (reply->isFinished()) {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        online = status >= 200 && status <= 299;
    } else {
        reply->abort();
    }
    qDebug() << (online ? "The network is OK." : "Failed to connect to the network.");
    reply->deleteLater();
    return online;
}

void LoginDialog::showToast(int kind, const QString &text)
{
    auto *tip = new MsgTipWidget(this);
    tip->showTip(kind, text);
    tip->move(300, 2);
}

void LoginDialog::onLoginClicked()
{
    if (m_loginPending)
        return;
    const QString userName = ui->lineEdit->text();
    const QString password = ui->lineEdit_2->text();
    if (userName.isEmpty()) {
        showToast(0, QStringLiteral("请填写登录名"));
        ui->lineEdit->setFocus();
        return;
    }
    if (password.isEmpty()) {
        showToast(0, QStringLiteral("请填写密码"));
        ui->lineEdit_2->setFocus();
        return;
    }
    doLogin(userName, password);
}

void LoginDialog::doLogin(const QString &userName, const QString &password)
{
    ui->loginBtn->setText(QStringLiteral("正在登录中..."));
    ui->loginBtn->setEnabled(false);
    m_loginPending = true;
    HttpRequest request(this);
    const QJsonObject reply = request.postRequest(loginPath(userName, password));
    m_loginPending = false;

    if (isActionSuccess(reply) && !applyLoginReply(reply, *m_util)) {
        // The service reads the account only from the store: signed in
        // without it, the client would restart the service with someone
        // else's account, or none.
        ui->loginBtn->setEnabled(true);
        ui->loginBtn->setText(QStringLiteral("点击登录"));
        const QString message =
            QStringLiteral(
                "账户信息无法保存到%1，内网穿透服务无法使用此账号，请检查该文件的权限后重新登录")
                .arg(QDir::toNativeSeparators(QDir::cleanPath(platform::credentialStorePath())));
        qDebug() << "Sign-in stopped: the account could not be stored";
        showToast(-1, QStringLiteral("账户信息保存失败"));
        MyMsgDialog dialog(nullptr);
        dialog.setMessage(message, QStringLiteral("操作提示"));
        dialog.exec();
        return;
    }
    if (isActionSuccess(reply)) {
        ui->loginBtn->setText(QStringLiteral("登录成功"));
        showToast(1, QStringLiteral("登录成功，跳转中..."));
        ui->loginBtn->setEnabled(true);
        hide();
        auto *mainDialog = new MainDialog(nullptr);
        // A logout from its tray during the build has already replaced it by
        // a new login dialog.
        if (!mainDialog->isSignedOut())
            mainDialog->show();
        return;
    }

    ui->loginBtn->setEnabled(true);
    ui->loginBtn->setText(QStringLiteral("点击登录"));
    QString message = replyMessage(reply);
    qDebug() << "错误信息 message=" + message;
    if (message.isEmpty())
        message = QStringLiteral("您当前网络或环境未初始化，请重新登录！");
    showToast(-1, message);
    MyMsgDialog dialog(nullptr);
    dialog.setMessage(message, QStringLiteral("操作提示"));
    if (dialog.exec() == QDialog::Accepted)
        dialog.close();
}

bool LoginDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        if (watched == ui->forgetPass) {
            openInBrowser(QUrl(g_webBaseUrl + QStringLiteral("forget/index.html")));
            return true;
        }
        if (watched == ui->register_2) {
            openInBrowser(QUrl(g_webBaseUrl + QStringLiteral("register/index.html")));
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void LoginDialog::mousePressEvent(QMouseEvent *event)
{
    m_windowX = x();
    m_windowY = y();
    m_pressX = event->globalPos().x();
    m_pressY = event->globalPos().y();
    m_dragOffset = QPoint(m_pressX - m_windowX, m_pressY - m_windowY);
}

void LoginDialog::mouseMoveEvent(QMouseEvent *event)
{
    move(event->globalPos() - m_dragOffset);
}

void LoginDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        onLoginClicked();
        return;
    }
    QWidget::keyPressEvent(event);
}
