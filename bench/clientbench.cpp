// The client's own code, driven in this process: sign-in, memory and idle CPU
// after it, tunnel list reloads, and the test web server under load.
#include "benchutil.h"

#include "app/globals.h"
#include "diagnostics/httpserverthread.h"
#include "login/logindialog.h"
#include "main/maindialog.h"
#include "platform/platform.h"
#include "tunnels/tunnelwidget.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

namespace bench {

namespace {

void runEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

MainDialog *visibleMainDialog()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<MainDialog *>(widget); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

// Signs in as the demo account through the login dialog against the API at
// the URL. Returns the ms from the click to the main window shown and
// painted, and the window; the login dialog is gone again.
double signIn(const QString &apiUrl, MainDialog **shown)
{
    g_apiBaseUrl = apiUrl;
    auto *login = new LoginDialog;
    login->show();
    QCoreApplication::processEvents();
    login->findChild<QLineEdit *>(QStringLiteral("lineEdit"))->setText(QStringLiteral("demo"));
    login->findChild<QLineEdit *>(QStringLiteral("lineEdit_2"))
        ->setText(QStringLiteral("demo1234"));
    auto *button = login->findChild<QPushButton *>(QStringLiteral("loginBtn"));

    const double start = nowMs();
    button->click(); // returns once the main window is built and shown
    *shown = visibleMainDialog();
    QCoreApplication::processEvents(); // its first paint
    const double elapsed = nowMs() - start;
    delete login;
    return *shown ? elapsed : -1;
}

void closeMainDialog(MainDialog *dialog)
{
    dialog->hide();
    delete dialog;
    QCoreApplication::processEvents();
}

} // namespace

int runClient(const QStringList &args)
{
    int argc = 1;
    char name[] = "tessaro-bench";
    char *argv[] = {name, nullptr};
    // As the client's main() does.
    platform::prepareApplication();
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    // The windows built here must not claim port 18000 from a client running
    // on this machine.
    HttpServerThread::setDefaultEndpoint(0, QHostAddress::LocalHost);

    // Messages the client shows in modal dialogs (the service restart after
    // sign-in reports its result) are acknowledged as a user would.
    QTimer dismisser;
    QObject::connect(&dismisser, &QTimer::timeout, [] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            dialog->accept();
    });
    dismisser.start(500);

    const QString api = option(args, QStringLiteral("api"));
    const QString slowApi = option(args, QStringLiteral("slow-api"));
    const int runs = option(args, QStringLiteral("runs"), QStringLiteral("5")).toInt();
    const int idleMs = option(args, QStringLiteral("idle-ms"), QStringLiteral("10000")).toInt();

    // First sign-in of the process, then the window as a user leaves it.
    MainDialog *main = nullptr;
    const double first = signIn(api, &main);
    if (first < 0) {
        std::fprintf(stderr, "sign-in failed\n");
        return 1;
    }
    runEventsFor(3000); // deferred loads (messages, announcement, service restart)
    const long rss = residentKiB();
    const double cpuBefore = cpuMs();
    const double idleStart = nowMs();
    runEventsFor(idleMs);
    const double idleCpu = cpuMs() - cpuBefore;
    const double idleWall = nowMs() - idleStart;
    report(QStringLiteral("signin first_ms=%1").arg(first, 0, 'f', 1));
    report(QStringLiteral("memory rss_kib=%1").arg(rss));
    report(QStringLiteral("idle cpu_ms=%1 wall_ms=%2 percent=%3")
               .arg(idleCpu, 0, 'f', 1)
               .arg(idleWall, 0, 'f', 0)
               .arg(100.0 * idleCpu / idleWall, 0, 'f', 3));

    // Tunnel list reloads on this window, each size from its own list server.
    for (const QString &entry : option(args, QStringLiteral("lists")).split(QLatin1Char(','))) {
        const int count = entry.section(QLatin1Char('='), 0, 0).toInt();
        g_apiBaseUrl = entry.section(QLatin1Char('='), 1);
        std::vector<double> times;
        for (int i = 0; i < 3; ++i) {
            const double start = nowMs();
            main->reloadTunnelList();
            QCoreApplication::processEvents();
            times.push_back(nowMs() - start);
        }
        const int cards = main->findChildren<TunnelWidget *>().size();
        const long reloadedRss = residentKiB();
        // Cards are made as the list is scrolled: page through all of it, a
        // view at a time, as a user dragging down the list would.
        auto *area = main->findChild<QScrollArea *>(QStringLiteral("tunnelScrollArea"));
        QScrollBar *bar = area->verticalScrollBar();
        const double scrollStart = nowMs();
        int views = 0;
        for (int value = 0;; value += area->viewport()->height()) {
            bar->setValue(value);
            QCoreApplication::processEvents();
            ++views;
            if (value >= bar->maximum())
                break;
        }
        const double scrolled = nowMs() - scrollStart;
        report(QStringLiteral("reload tunnels=%1 cards=%2 ms=%3 rss_kib=%4 scroll_ms=%5 "
                              "scroll_views=%6 all_cards=%7 scrolled_rss_kib=%8")
                   .arg(count)
                   .arg(cards)
                   .arg(median(times), 0, 'f', 1)
                   .arg(reloadedRss)
                   .arg(scrolled, 0, 'f', 1)
                   .arg(views)
                   .arg(main->findChildren<TunnelWidget *>().size())
                   .arg(residentKiB()));
        bar->setValue(0);
    }
    g_apiBaseUrl = api;
    closeMainDialog(main);

    std::vector<double> warm;
    for (int i = 0; i < runs; ++i) {
        warm.push_back(signIn(api, &main));
        closeMainDialog(main);
    }
    report(QStringLiteral("signin warm_ms=%1").arg(median(warm), 0, 'f', 1));

    std::vector<double> slow;
    for (int i = 0; i < 3; ++i) {
        slow.push_back(signIn(slowApi, &main));
        closeMainDialog(main);
    }
    report(QStringLiteral("signin slow_ms=%1").arg(median(slow), 0, 'f', 1));

    // Every picture (avatars, device picture, scene and value-added icons) on
    // a host that accepts and never answers: the provider behind silentApi
    // names it in its replies, the web base URL in the client's own.
    const QString silentApi = option(args, QStringLiteral("silent-api"));
    if (!silentApi.isEmpty()) {
        const QString web = g_webBaseUrl;
        g_webBaseUrl = option(args, QStringLiteral("silent-web"));
        const int silentRuns =
            option(args, QStringLiteral("silent-runs"), QStringLiteral("3")).toInt();
        std::vector<double> silent;
        for (int i = 0; i < silentRuns; ++i) {
            silent.push_back(signIn(silentApi, &main));
            closeMainDialog(main);
        }
        g_webBaseUrl = web;
        report(QStringLiteral("signin silent_ms=%1").arg(median(silent), 0, 'f', 1));
    }
    return 0;
}

int runWebServer(const QStringList &args)
{
    int argc = 1;
    char name[] = "tessaro-bench";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const int connections =
        option(args, QStringLiteral("connections"), QStringLiteral("100000")).toInt();
    const int warmUp = 1000;

    HttpServerThread server(0, QHostAddress::LocalHost);
    server.startServer();
    const quint16 port = server.serverPort();

    std::atomic<bool> failed{false};
    long rssWarm = 0;
    double start = 0;
    double end = 0;
    std::thread client([&] {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const char request[] = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        char buffer[4096];
        for (int i = 0; i < warmUp + connections && !failed; ++i) {
            if (i == warmUp) {
                rssWarm = residentKiB();
                start = nowMs();
            }
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            // Spread over loopback source addresses so that closed connections
            // waiting out their time do not use up one address's ports.
            sockaddr_in from{};
            from.sin_family = AF_INET;
            from.sin_addr.s_addr = htonl(0x7f000002 + i % 64);
            if (bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0 ||
                connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0 ||
                send(fd, request, sizeof request - 1, 0) < 0) {
                failed = true;
                close(fd);
                break;
            }
            // One complete response: headers and the announced body.
            QByteArray response;
            for (;;) {
                const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
                if (got <= 0) {
                    failed = true;
                    break;
                }
                response.append(buffer, int(got));
                const int headerEnd = response.indexOf("\r\n\r\n");
                if (headerEnd < 0)
                    continue;
                const int at = response.indexOf("Content-Length: ");
                const int length =
                    response.mid(at + 16, response.indexOf('\r', at) - at - 16).toInt();
                if (response.size() >= headerEnd + 4 + length)
                    break;
            }
            close(fd);
        }
        end = nowMs();
        QMetaObject::invokeMethod(
            &app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    app.exec();
    client.join();
    runEventsFor(500); // the last disconnects reach the server
    if (failed) {
        std::fprintf(stderr, "a connection to the test web server failed\n");
        return 1;
    }
    report(QStringLiteral("webserver connections=%1 per_s=%2 rss_warm_kib=%3 rss_end_kib=%4 "
                          "open=%5")
               .arg(connections)
               .arg(connections / ((end - start) / 1000.0), 0, 'f', 0)
               .arg(rssWarm)
               .arg(residentKiB())
               .arg(server.openConnections()));
    return 0;
}

} // namespace bench
