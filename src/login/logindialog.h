#pragma once

#include <QDialog>
#include <QPoint>
#include <QString>

class MyOperatorUtil;

namespace Ui {
class LoginDialog;
}

// The first window: pre-fills the saved account, probes the API host, signs in
// and hands over to the main window.
class LoginDialog : public QDialog
{
    Q_OBJECT

public:
    explicit LoginDialog(QWidget *parent = nullptr);
    ~LoginDialog() override;

    // Shows a fresh login dialog after a logout. Those made earlier this way
    // and hidden since (by their sign-in, or closed) are released: nothing
    // shows a hidden login dialog again. The program's first one is not made
    // here and stays.
    static LoginDialog *openAfterLogout();

    void onLoginClicked();
    void doLogin(const QString &userName, const QString &password);
    void loadSavedAccount();
    // GET on the URL; true for a 2xx status within ProbeTimeoutMs.
    static bool isNetworkOnline(const QString &url);

    static constexpr int ProbeTimeoutMs = 5000;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showToast(int kind, const QString &text);

    MyOperatorUtil *m_util;
    int m_windowX = 0;
    int m_windowY = 0;
    int m_pressX = 0;
    int m_pressY = 0;
    QPoint m_dragOffset;
    Ui::LoginDialog *ui;
    // A login request waits in a nested event loop; Return must not start another.
    bool m_loginPending = false;
    bool m_madeAfterLogout = false;
};
