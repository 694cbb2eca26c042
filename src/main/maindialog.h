#pragma once

#include <QDialog>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QString>

#include <memory>

#include "service/servicesequence.h"
#include "tunnels/checktarget.h"

namespace Ui {
class MainDialog;
}

class QAction;
class QLabel;
class QMenu;
class QMouseEvent;
class QPixmap;
class QPushButton;
class QSystemTrayIcon;

class ChangjingWidget;
class CheckThread;
class CTParamWidget;
class HttpServerThread;
class MyOperatorUtil;
class NavMenuWidget;
class ServiceController;
class TitleBarWidget;
class TunnelBean;
class TunnelWidget;
class ZengzhiWidget;

// The one main window after sign-in: a frameless dialog hosting every page of
// the client in a page stack, with the navigation column, the account panel,
// the tray icon and the help menu. Its operations are defined in the files of
// their subsystem; this header gathers them.
class MainDialog : public QDialog
{
    Q_OBJECT

public:
    explicit MainDialog(QWidget *parent = nullptr);
    ~MainDialog() override;

    // Shell (maindialog.cpp)
    void showPage(const QString &key);
    static void openConsolePage(const QString &page);
    void logout();
    void confirmExit();
    // After a logout, also one chosen while the window was still being built:
    // the window is then never shown again.
    bool isSignedOut() const;
    // Back on screen from the tray or the task bar (not after a logout).
    void showWindowAgain();

    // Pictures (imageloading.cpp)
    // Starts the download and returns at once; the picture is set on the
    // label when it arrives, the built-in avatar when it does not.
    void loadImage(const QString &url, QLabel *label);
    static void setLocalImage(const QString &path, QLabel *label);
    // A picture that never arrives gives way to the built-in avatar after this.
    static constexpr int ImageTimeoutMs = 5000;

    // Service status and maintenance (servicemaintenance.cpp)
    QString queryServiceState();
    void beginServiceRestart(QPushButton *button);
    void restartService();
    void flushDns();
    void openLogFolder();
    void copyToClipboard(const QString &text);
    static constexpr int RestartDelayMs = 2000;
    // How long the service may take to reach the state a command asked for,
    // and how often it is looked at meanwhile.
    static constexpr int RestartWaitMs = ServiceSequence::WaitMs;
    static constexpr int RestartPollMs = ServiceSequence::PollMs;

    // Tray icon and help menu (trayicon.cpp, helpmenu.cpp)
    void initTrayIcon();
    void initHelpMenu();
    void showVersionMessage();

    // Account panel (accountpanel.cpp)
    void showEdition();
    void initTrafficTiles();
    void showUserInfo();
    static int daysSince(const QString &dateTime);
    void loadCouponCount();
    void loadMessage();
    void loadAnnouncement();

    // Tunnel and catalogue pages (tunnels/, catalogue/)
    void reloadTunnelList();
    void loadTunnelToEditForm(TunnelBean *bean);
    void startTunnelCheck(TunnelBean *bean);
    void loadSceneList();
    void loadAddonList();

private slots:
    void getclickmenu(QString name);
    void slot_action_triggered(QAction *action);
    void onclickCreateTunnelBtn();
    void onclickUpdateTunnelBtn();
    void getTunnelbtnClicked(QString tunnelId, QString name);
    void onConnectionResult(bool success, QString label_index);
    void clickreCheckBtn();
    void getChangjinggclick(QString _name);
    void getZengzhiclick(QString _id);
    void openHelp();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    // The address a picture URL is fetched from, and what a fetched picture
    // looks like on its label.
    static QString pictureAddress(const QString &url);
    static QPixmap pictureToShow(const QString &address, const QByteArray &body);

    void wireButtons();
    void createCardsNearView();
    void pairEngineCheckBoxes();
    void openToolbox();
    void showTip(int kind, const QString &text);
    QSystemTrayIcon *retireTrayIcon();
    void startServiceAtSignIn(const QString &state);
    void runServiceSequence(ServiceSequence::Steps steps);

    TitleBarWidget *m_titleBar = nullptr;
    std::unique_ptr<ServiceController> m_serviceController;
    std::unique_ptr<HttpServerThread> m_httpServer;
    QList<NavMenuWidget *> m_navItems;
    NavMenuWidget *m_navTunnels = nullptr;
    NavMenuWidget *m_navScenes = nullptr;
    NavMenuWidget *m_navAddons = nullptr;
    NavMenuWidget *m_navEnterprise = nullptr;
    NavMenuWidget *m_navDevices = nullptr;

    QList<TunnelBean *> tunnelBeanList;
    // One entry per tunnel of the list; null until the card has been made.
    QList<TunnelWidget *> tunnelWidgetList;
    QList<ChangjingWidget *> sceneWidgetList;
    QList<ZengzhiWidget *> addonWidgetList;

    QString checkTunnelId;
    QString editTunnelId;
    // A create or update is under way, reload and question included: a click
    // delivered meanwhile (the waits run the event loop) sends nothing.
    bool m_submittingTunnel = false;
    // The service commands under way, and whether a restart waits for them.
    ServiceSequence *m_serviceSequence = nullptr;
    bool m_restartQueued = false;
    QString selectedSceneId;
    int m_adPictureRequest = 0; // latest value-added click; older pictures are dropped
    // The tunnel under test, copied: results may arrive after a list rebuild.
    CheckTarget m_checkTarget;
    // The checks of the current test; results of earlier tests are ignored.
    QPointer<CheckThread> m_localCheck;
    QPointer<CheckThread> m_publicCheck;
    CTParamWidget *tunnelCountTile = nullptr;

    QSystemTrayIcon *m_trayIcon = nullptr;
    static constexpr int TrayBalloonMs = 5000;
    bool m_signedOut = false; // set by logout; the window is then never shown again
    QMenu *m_trayMenu = nullptr;
    QAction *m_actionOpen = nullptr;
    QAction *m_actionVersion = nullptr;
    QAction *m_actionHelp = nullptr;
    QAction *m_actionCloseWindow = nullptr;
    QAction *m_actionLogoutAndStop = nullptr;

    QMenu *m_helpMenu = nullptr;
    QAction *m_helpTickets = nullptr;
    QAction *m_helpDocs = nullptr;
    QAction *m_helpFlushDns = nullptr;
    QAction *m_helpLogs = nullptr;
    QAction *m_helpLogout = nullptr;
    QAction *m_helpToolbox = nullptr;
    QAction *m_helpVip = nullptr;

    QPoint m_dragOffset;
    MyOperatorUtil *m_util = nullptr;
    QString m_announcementUrl;
    Ui::MainDialog *ui;
};
