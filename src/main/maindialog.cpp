#include "main/maindialog.h"

#include "app/globals.h"
#include "app/lifetime.h"
#include "app/myoperatorutil.h"
#include "diagnostics/checkboxframe.h"
#include "diagnostics/httpserverthread.h"
#include "dialogs/msgtipwidget.h"
#include "dialogs/myconfirmdialog.h"
#include "login/logindialog.h"
#include "main/navmenuwidget.h"
#include "main/servicestate.h"
#include "main/titlebarwidget.h"
#include "net/consolelinks.h"
#include "service/servicecontroller.h"
#include "tunnels/ctparamwidget.h"
#include "tunnels/tunnelbean.h"

#include "ui_maindialog.h"

#include <QDebug>
#include <QDesktopServices>
#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPixmapCache>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {

// The provider's page about its virtual private line, opened by the banner
// until an announcement brings a link of its own.
QString virtualPrivateLinePage()
{
    return g_webBaseUrl + QStringLiteral("nexl/index.html");
}

struct NavEntry
{
    const char *key;
    const char *icon;
};

const NavEntry kNavEntries[] = {
    {"内网穿透", ":/images/icon/n_chuantou.png"}, {"场景映射", ":/images/icon/n_game.png"},
    {"增值业务", ":/images/icon/n_peizhi.png"},   {"政企服务", ":/images/icon/n_tmp.png"},
    {"智能设备", ":/images/icon/n_haowan.png"},
};
const int kNavTop = 200;
const int kNavStep = 40;

// What a logout tells once its stop has run its course: in the retired tray
// icon's balloon, or where there is no tray, in a tip on the new login dialog
// (which may not exist yet when a refused stop has already ended it).
class LogoutNotice
{
public:
    QPointer<QSystemTrayIcon> icon;

    void setOutcome(const QString &text, bool good)
    {
        m_text = text;
        m_good = good;
        m_known = true;
        deliver();
    }
    void setLoginDialog(LoginDialog *login)
    {
        m_login = login;
        deliver();
    }

private:
    void deliver()
    {
        if (!m_known || m_delivered)
            return;
        if (icon && QSystemTrayIcon::isSystemTrayAvailable()) {
            icon->showMessage(QStringLiteral("Tessaro"), m_text,
                              m_good ? QSystemTrayIcon::Information : QSystemTrayIcon::Warning,
                              kBalloonMs);
            QTimer::singleShot(kBalloonMs, icon, &QObject::deleteLater);
        } else if (m_login) {
            delete icon.data();
            auto *tip = new MsgTipWidget(m_login);
            tip->showTip(m_good ? 1 : -1, m_text);
            tip->move(300, 2);
        } else {
            return;
        }
        m_delivered = true;
    }

    static constexpr int kBalloonMs = 5000;
    QPointer<LoginDialog> m_login;
    QString m_text;
    bool m_good = false;
    bool m_known = false;
    bool m_delivered = false;
};

} // namespace

MainDialog::MainDialog(QWidget *parent)
    : QDialog(parent), m_announcementUrl(virtualPrivateLinePage()), ui(new Ui::MainDialog)
{
    // The order below matters: the page loaders run before the timers are
    // armed, and the service restart comes last.
    // The credential-store helper exists from the start: the tray
    // menu (logout) is usable while later steps wait for the network.
    // Until it is closed the window keeps the program running, also while
    // hidden: during its build, and later in the tray after its minimise.
    lifetime::keepWhileHidden(this);
    selectedSceneId = QStringLiteral("1");
    m_dragOffset = QPoint(0, 0);
    m_util = new MyOperatorUtil(this);

    // Form, no system frame.
    ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint);

    // Title bar, tunnel count tile, service controller.
    m_titleBar = new TitleBarWidget(this);
    m_titleBar->move(175, 0);
    tunnelCountTile = new CTParamWidget(ui->page);
    tunnelCountTile->move(170, 10);
    m_serviceController = std::make_unique<ServiceController>(g_serviceName);

    // Navigation column.
    NavMenuWidget **members[] = {&m_navTunnels, &m_navScenes, &m_navAddons, &m_navEnterprise,
                                 &m_navDevices};
    for (int i = 0; i < 5; ++i) {
        auto *entry = new NavMenuWidget(this);
        entry->setData(QString::fromUtf8(kNavEntries[i].key),
                       QString::fromUtf8(kNavEntries[i].icon));
        entry->move(0, kNavTop + i * kNavStep);
        *members[i] = entry;
        m_navItems.append(entry);
    }

    // Account panel and the scene page's fixed tiles.
    showEdition();
    initTrafficTiles();
    auto *sceneTile = new CTParamWidget(ui->page_3);
    sceneTile->setParam(QStringLiteral("0"), QStringLiteral("个"), QStringLiteral("场景映射"));
    sceneTile->move(170, 10);
    auto *bandwidthTile = new CTParamWidget(ui->page_3);
    bandwidthTile->setParam(QStringLiteral("0/0"), QStringLiteral("M"), QStringLiteral("高速带宽"));
    bandwidthTile->move(320, 10);

    // Pages from the API, personal centre, help menu.
    reloadTunnelList();
    loadSceneList();
    loadAddonList();
    showUserInfo();
    initHelpMenu();

    // Buttons, tray, version line of the check page.
    wireButtons();
    initTrayIcon();
    ui->label_client_version->setText(QStringLiteral("当前版本号：V") + g_clientVersion);

    // Avatars and the clickable labels.
    loadImage(g_avatar, ui->wx_touxiang);
    loadImage(g_avatar, ui->wx_touxiang2);
    for (QLabel *label : {ui->wx_touxiang, ui->label_open_userinfo, ui->label_57, ui->label_58,
                          ui->label_8, ui->label_paicha1, ui->label_paicha2, ui->label_paicha3})
        label->installEventFilter(this);

    // The edit page offers no type choice.
    for (QWidget *widget :
         {static_cast<QWidget *>(ui->label_28), static_cast<QWidget *>(ui->checkBox_7),
          static_cast<QWidget *>(ui->checkBox_9), static_cast<QWidget *>(ui->checkBox_8),
          static_cast<QWidget *>(ui->checkBox_6)})
        widget->hide();

    // Smart-device picture, empty value-added details.
    loadImage(g_webBaseUrl + QStringLiteral("images/client_bg.png"), ui->label_dev);
    ui->zengzhi_title->setText(QStringLiteral("-"));
    ui->zengzhi_content->setPlainText(QStringLiteral("-"));

    // A logout chosen from the tray while the pages above were still loading
    // has cleared the account: the service, the timers and the test web
    // server are not started for it.
    if (m_signedOut)
        return;

    // The background service must run while the client is signed in.
    const QString serviceState = queryServiceState();
    if (!serviceState.contains(QLatin1String("RUNNING")))
        startServiceAtSignIn(serviceState);
    m_dragOffset = QPoint(0, 0);
    setAttribute(Qt::WA_MouseTracking);

    // Account messages, test web server, engine choice.
    QTimer::singleShot(1000, this, &MainDialog::loadMessage);
    QTimer::singleShot(500, this, &MainDialog::loadAnnouncement);
    m_httpServer = std::make_unique<HttpServerThread>();
    m_httpServer->startServer();
    pairEngineCheckBoxes();

    // Every sign-in ends with a fresh start of the service, so it picks up
    // the account just written to the credential store.
    beginServiceRestart(ui->btn_fresh);
    loadCouponCount();
}

MainDialog::~MainDialog()
{
    // The records are not widgets: nothing else frees them.
    qDeleteAll(tunnelBeanList);
    tunnelBeanList.clear();
    delete ui;
    // The toolkit keeps what it draws of every icon (the window's, its
    // buttons', each card's) in a cache of its own, under icons that die
    // with this window and are never drawn again; left there, they would
    // pile up sign-in after sign-in. What is still shown is drawn anew.
    QPixmapCache::clear();
}

void MainDialog::wireButtons()
{
    connect(ui->btn_create, &QPushButton::clicked, this,
            [this] { showPage(QStringLiteral("创建映射")); });
    for (QPushButton *back : {ui->btn_back1, ui->btn_back2, ui->btn_back3})
        connect(back, &QPushButton::clicked, this,
                [this] { showPage(QStringLiteral("内网穿透")); });
    connect(ui->tunnelScrollArea->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &MainDialog::createCardsNearView);
    connect(ui->btn_save1, &QPushButton::clicked, this, &MainDialog::onclickCreateTunnelBtn);
    connect(ui->btn_save2, &QPushButton::clicked, this, &MainDialog::onclickUpdateTunnelBtn);
    connect(ui->btn_check1, &QPushButton::clicked, this, &MainDialog::clickreCheckBtn);
    for (QPushButton *fresh : {ui->btn_fresh, ui->btn_fresh_2})
        connect(fresh, &QPushButton::clicked, this, [this, fresh] { beginServiceRestart(fresh); });
    for (QPushButton *check : {ui->btn_local_check, ui->btn_local_check_2})
        connect(check, &QPushButton::clicked, this, &MainDialog::openToolbox);
    connect(ui->exit_login_btn, &QPushButton::clicked, this, &MainDialog::logout);

    const struct
    {
        QPushButton *button;
        const char *page;
    } consoleButtons[] = {
        {ui->buyBtn, "price"},
        {ui->btn_high, "daijinquan"},
        {ui->btn_buy_changjing, "changjing_panel"},
        {ui->btn_save3, "dingzhi"},
        {ui->btn_save4, "kaipiao"},
        {ui->btn_save5, "gongdan"},
        {ui->btn_save6, "jiaocheng"},
        {ui->btn_buy_dev, "c750"},
    };
    for (const auto &entry : consoleButtons) {
        const QString page = QString::fromLatin1(entry.page);
        connect(entry.button, &QPushButton::clicked, this, [page] { openConsolePage(page); });
    }
}

void MainDialog::pairEngineCheckBoxes()
{
    // Exactly one engine is chosen: ticking one clears the other, clearing one
    // ticks the other.
    auto pair = [this](QCheckBox *self, QCheckBox *other) {
        connect(self, &QCheckBox::stateChanged, this, [other](int state) {
            if (state == Qt::Checked)
                other->setChecked(false);
            else if (state == Qt::Unchecked)
                other->setChecked(true);
        });
    };
    pair(ui->checkBox_model8, ui->checkBox_model9);
    pair(ui->checkBox_model9, ui->checkBox_model8);
}

void MainDialog::openToolbox()
{
    // Each click opens a window of its own; it deletes itself when closed.
    auto *toolbox = new CheckBoxFrame();
    toolbox->show();
}

void MainDialog::showPage(const QString &key)
{
    static const char *const keys[] = {"内网穿透", "场景映射", "增值业务", "政企服务",
                                       "智能设备", "创建映射", "编辑映射", "检测通道"};
    for (int index = 0; index < 8; ++index) {
        if (key != QString::fromUtf8(keys[index]))
            continue;
        if (index == 5) {
            // A new tunnel always starts from an empty form on the 8.0 engine.
            ui->create_name->setText(QString());
            ui->create_dst_address->setText(QString());
            ui->create_dst_port->setText(QString());
            ui->checkBox_model8->setChecked(true);
        }
        ui->stackedWidget->setCurrentIndex(index);
        return;
    }
}

void MainDialog::getclickmenu(QString name)
{
    qDebug() << "当前点击了" + name;
    showPage(name);
    for (NavMenuWidget *entry : qAsConst(m_navItems))
        entry->setSelected(entry->name() == name);
}

void MainDialog::openConsolePage(const QString &page)
{
    MyOperatorUtil::jumpToPage(page);
}

void MainDialog::openHelp()
{
    openConsolePage(QStringLiteral("jiaocheng"));
}

bool MainDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::MouseButtonPress)
        return QDialog::eventFilter(watched, event);

    if (watched == ui->wx_touxiang || watched == ui->label_open_userinfo) {
        ui->stackedWidget->setCurrentIndex(9);
    } else if (watched == ui->label_57) {
        openConsolePage(QStringLiteral("jiaocheng"));
    } else if (watched == ui->label_58) {
        openConsolePage(QStringLiteral("gongdan"));
    } else if (watched == ui->label_paicha1) {
        openConsolePage(QStringLiteral("paicha1"));
    } else if (watched == ui->label_paicha2) {
        openConsolePage(QStringLiteral("paicha2"));
    } else if (watched == ui->label_paicha3) {
        openConsolePage(QStringLiteral("paicha3"));
    } else if (watched == ui->label_8) {
        openInBrowser(QUrl(m_announcementUrl));
    } else {
        return QDialog::eventFilter(watched, event);
    }
    return true;
}

void MainDialog::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragOffset = event->pos();
}

void MainDialog::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPointF global = event->screenPos();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    // Kept inside the primary screen measured from (0, 0); a window larger
    // than the screen is pinned at the origin.
    const int x = qMax(0, qMin(qRound(global.x()) - m_dragOffset.x(), screen.width() - width()));
    const int y = qMax(0, qMin(qRound(global.y()) - m_dragOffset.y(), screen.height() - height()));
    move(x, y);
}

void MainDialog::confirmExit()
{
    MyConfirmDialog dialog(this);
    dialog.setMessage(QStringLiteral("是否要退出当前客户端?"), QStringLiteral("操作提示"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    // Only the window goes: the background service keeps running.
    close();
}

void MainDialog::logout()
{
    if (m_signedOut)
        return;
    MyConfirmDialog dialog(this);
    dialog.setMessage(QStringLiteral("确定停止服务并注销退出当前账号?"),
                      QStringLiteral("退出提示"));
    if (dialog.exec() != QDialog::Accepted || m_signedOut)
        return;

    // Cleared before the stop, so the service cannot come back signed in even
    // when stopping it fails.
    bool cleared = true;
    for (const char *key : {"server/user", "server/pass", "server/userId"})
        cleared = m_util->setValue(QLatin1String(key), QString()) && cleared;

    // Nothing of this window acts after a logout: its timers find it signed
    // out, port 18000 is free for the next sign-in's window at once, and the
    // window itself is deleted once no wait of its own (a page load, a
    // question) is still running.
    m_signedOut = true;
    m_restartQueued = false;
    if (m_serviceSequence) {
        m_serviceSequence->cancel();
        m_serviceSequence->deleteLater();
        m_serviceSequence = nullptr;
    }
    m_httpServer.reset();

    // The stop is followed to its end after the window has gone; only then
    // does the user learn whether the service stopped.
    auto notice = std::make_shared<LogoutNotice>();
    notice->icon = retireTrayIcon();
    ServiceController *controller = m_serviceController.release();
    auto *stop = new ServiceSequence(controller, &servicestate::query, qApp);
    controller->setParent(stop);
    connect(stop, &ServiceSequence::finished, stop,
            [stop, notice, cleared](bool ok, const QString &cause) {
                if (!ok)
                    qDebug() << "Logout: the service was not stopped:" << cause;
                if (!cleared)
                    qDebug() << "Logout: the credential store could not be emptied";
                QString text = cleared ? QStringLiteral("退出账号，")
                                       : QStringLiteral("退出账号，但保存的账户信息未能清除，");
                text += ok ? QStringLiteral("内网穿透服务已停止!")
                           : QStringLiteral("内网穿透服务未能停止，请检查后台服务");
                notice->setOutcome(text, ok && cleared);
                stop->deleteLater();
            });
    stop->run(ServiceSequence::Stop);

    notice->setLoginDialog(LoginDialog::openAfterLogout());
    close();
    lifetime::releaseWhenIdle(this);
}

bool MainDialog::isSignedOut() const
{
    return m_signedOut;
}
