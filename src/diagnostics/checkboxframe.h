#pragma once

#include <QPoint>
#include <QProcess>
#include <QWidget>

class QLabel;

namespace Ui {
class CheckBoxFrame;
}

// The diagnostics toolbox: a frameless window with three tabs that checks the
// background service, scans for security suites that block it, probes the API
// host and the tunnel login server, and shows whether the local test web
// server answers. Checks block the GUI thread while they wait.
//
// Open it without a parent and show() it; it deletes itself when closed.
class CheckBoxFrame : public QWidget
{
    Q_OBJECT

public:
    explicit CheckBoxFrame(QWidget *parent = nullptr);
    ~CheckBoxFrame() override;

    void runLocalCheck();
    void finishLocalCheck();
    // "1060" when the service is not installed, otherwise its state text
    // ("4  RUNNING"), empty when the service tool gave no state.
    QString readServiceState();
    // The concatenated warnings, empty when nothing was found or the process
    // list could not be read.
    QString scanInterferingSoftware();

    void runNetworkCheck();
    void checkServerConnection();
    static bool testTcpConnection(const QString &host, quint16 port);

    // Looks whether the local test web server accepts connections and shows
    // the answer on the third tab. Runs on construction and whenever the tab
    // is selected.
    void refreshWebServerState();

    void setLabelIcon(QLabel *label, const QString &imagePath);

    // The ports the toolbox probes. Tests point them at listeners of their
    // own; 0 restores the default.
    static quint16 tunnelLoginPort();
    static quint16 webServerPort();
    static void setPortsForTesting(quint16 tunnelLoginPort, quint16 webServerPort);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    static bool testTcpConnection(const QString &host, quint16 port, int waitMs);

    QProcess m_process;
    QPoint m_dragOffset;
    Ui::CheckBoxFrame *ui;
};
