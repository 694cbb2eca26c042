// tessaro-provider: the provider's server on this machine. It answers the
// client's HTTP API, serves the web console and the pictures, and keeps its
// accounts and tunnels in an SQLite file.

#include "apihandlers.h"
#include "consolepages.h"
#include "database.h"
#include "pictures.h"
#include "serversetup.h"
#include "sitepages.h"
#include "tunnelserver.h"
#include "tunnelwire.h"

#include <httplib.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>

namespace {

constexpr int kDefaultPort = 28080;
const char kDefaultAddress[] = "127.0.0.1";

struct Options
{
    QString address;
    int port = kDefaultPort;
    int tunnelPort = tunnelwire::kDefaultPort;
    bool tunnelPortGiven = false;
    QString database;
    QString baseUrl;
    bool reset = false;
    bool quiet = false;
};

void fail(const QString &message)
{
    std::fprintf(stderr, "tessaro-provider: %s\n", message.toLocal8Bit().constData());
    std::exit(2);
}

Options parseOptions(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The Tessaro provider's server on this machine: HTTP API for the "
                       "client, web console, sign-up and recovery pages, pictures.\n"
                       "Demo account: %1 / %2")
            .arg(QLatin1String(Database::kDemoUser), QLatin1String(Database::kDemoPassword)));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption address(
        QStringLiteral("address"),
        QStringLiteral("Address to listen on (default %1).").arg(QLatin1String(kDefaultAddress)),
        QStringLiteral("A"), QString::fromLatin1(kDefaultAddress));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("TCP port to listen on (default %1; 0 picks a free port, shown in the "
                       "\"listening on\" line).")
            .arg(kDefaultPort),
        QStringLiteral("N"), QString::number(kDefaultPort));
    const QCommandLineOption tunnelPort(
        QStringLiteral("tunnel-port"),
        QStringLiteral(
            "TCP port of the tunnel login server, on the same address (default %1; "
            "0 picks a free port, shown in the \"tunnel server listening on\" line). When the "
            "default port is taken, the provider runs without tunnels.")
            .arg(tunnelwire::kDefaultPort),
        QStringLiteral("N"), QString::number(tunnelwire::kDefaultPort));
    const QString defaultDatabase =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
        QStringLiteral("/provider.db");
    const QCommandLineOption database(
        QStringLiteral("db"),
        QStringLiteral("SQLite database file (default %1). A new file starts with the demo "
                       "data.")
            .arg(defaultDatabase),
        QStringLiteral("FILE"), defaultDatabase);
    const QCommandLineOption baseUrl(
        QStringLiteral("base-url"),
        QStringLiteral("Start of the picture and page links put into replies, ending in \"/\" "
                       "(default http://ADDRESS:PORT/)."),
        QStringLiteral("URL"));
    const QCommandLineOption reset(
        QStringLiteral("reset"),
        QStringLiteral("Erase all accounts, tunnels and messages and write the demo data "
                       "again before serving."));
    const QCommandLineOption quiet(QStringLiteral("quiet"),
                                   QStringLiteral("Do not print a line per request."));
    parser.addOptions({address, port, tunnelPort, database, baseUrl, reset, quiet});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        fail(QStringLiteral("unexpected argument \"%1\"; see --help")
                 .arg(parser.positionalArguments().constFirst()));
    }

    Options options;
    options.address = parser.value(address);
    if (QHostAddress(options.address).isNull()) {
        fail(QStringLiteral("--address needs an IP address, got \"%1\"").arg(options.address));
    }
    bool ok = false;
    options.port = parser.value(port).toInt(&ok);
    if (!ok || options.port < 0 || options.port > 65535) {
        fail(QStringLiteral("--port needs a number from 0 to 65535, got \"%1\"")
                 .arg(parser.value(port)));
    }
    options.tunnelPortGiven = parser.isSet(tunnelPort);
    options.tunnelPort = parser.value(tunnelPort).toInt(&ok);
    if (!ok || options.tunnelPort < 0 || options.tunnelPort > 65535) {
        fail(QStringLiteral("--tunnel-port needs a number from 0 to 65535, got \"%1\"")
                 .arg(parser.value(tunnelPort)));
    }
    options.database = parser.value(database);
    if (options.database.isEmpty()) {
        fail(QStringLiteral("--db needs a file name"));
    }
    options.baseUrl = parser.value(baseUrl);
    if (parser.isSet(baseUrl)) {
        const QUrl url(options.baseUrl, QUrl::StrictMode);
        if (!url.isValid() || url.scheme().isEmpty() ||
            !options.baseUrl.endsWith(QLatin1Char('/'))) {
            fail(QStringLiteral("--base-url needs an absolute URL ending in \"/\""));
        }
    }
    options.reset = parser.isSet(reset);
    options.quiet = parser.isSet(quiet);
    return options;
}

// Host part for links: a wildcard address is reached through loopback.
QString linkHost(const QString &address)
{
    const QHostAddress host(address);
    if (host == QHostAddress::AnyIPv4) {
        return QStringLiteral("127.0.0.1");
    }
    if (host == QHostAddress::AnyIPv6) {
        return QStringLiteral("[::1]");
    }
    return host.protocol() == QAbstractSocket::IPv6Protocol
               ? QLatin1Char('[') + address + QLatin1Char(']')
               : address;
}

} // namespace

int main(int argc, char *argv[])
{
    // Termination signals are taken by one thread that stops the server, so
    // the database is closed cleanly. Blocked before any thread starts.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tessaro"));
    QCoreApplication::setApplicationName(QStringLiteral("tessaro-provider"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSARO_PROVIDER_VERSION));
    const Options options = parseOptions(app);

    QDir().mkpath(QFileInfo(options.database).absolutePath());
    Database database;
    QString error;
    if (!database.open(options.database, &error)) {
        fail(QStringLiteral("cannot open database %1: %2").arg(options.database, error));
    }
    if (options.reset && !database.reset(&error)) {
        fail(QStringLiteral("cannot reset database %1: %2").arg(options.database, error));
    }
    const Pictures pictures;

    httplib::Server server;
    configureServer(server);
    if (!options.quiet) {
        // Path and method name only: the query carries passwords.
        server.set_logger([](const httplib::Request &request, const httplib::Response &response) {
            std::string line = request.method + ' ' + request.path.substr(0, 200);
            if (request.get_param_value_count("method") == 1) {
                line += ' ' + request.get_param_value("method").substr(0, 32);
            }
            // Request text is the caller's: keep control characters off the terminal.
            for (char &c : line) {
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                    c = '?';
                }
            }
            std::printf("%s -> %d\n", line.c_str(), response.status);
            std::fflush(stdout);
        });
    }

    int port = options.port;
    const std::string host = options.address.toStdString();
    if (port == 0) {
        port = server.bind_to_any_port(host);
    } else if (!server.bind_to_port(host, port)) {
        port = -1;
    }
    if (port <= 0) {
        fail(QStringLiteral("cannot listen on %1:%2 (in use or not available)")
                 .arg(options.address)
                 .arg(options.port));
    }
    const QString baseUrl =
        options.baseUrl.isEmpty()
            ? QStringLiteral("http://%1:%2/").arg(linkHost(options.address)).arg(port)
            : options.baseUrl;

    ApiHandlers api(database, baseUrl);
    ConsolePages console(database);
    SitePages site(database, pictures);
    api.install(server);
    console.install(server);
    site.install(server);

    // The tunnel server runs its own event loop beside httplib's threads.
    QThread tunnelThread;
    tunnelThread.setObjectName(QStringLiteral("tunnels"));
    auto *tunnels = new TunnelServer(database, options.quiet);
    tunnels->moveToThread(&tunnelThread);
    QObject::connect(&tunnelThread, &QThread::finished, tunnels, &QObject::deleteLater);
    tunnelThread.start();
    bool tunnelsListening = false;
    quint16 tunnelPort = 0;
    QMetaObject::invokeMethod(
        tunnels,
        [&] {
            tunnelsListening =
                tunnels->listen(QHostAddress(options.address), quint16(options.tunnelPort), &error);
            tunnelPort = tunnels->port();
        },
        Qt::BlockingQueuedConnection);
    if (!tunnelsListening && options.tunnelPortGiven) {
        tunnelThread.quit();
        tunnelThread.wait();
        fail(QStringLiteral("cannot listen on %1:%2 for tunnels: %3")
                 .arg(options.address)
                 .arg(options.tunnelPort)
                 .arg(error));
    }
    // Without --tunnel-port a second provider on this machine still serves
    // its HTTP side; the first one keeps the tunnels.
    if (!tunnelsListening) {
        std::fprintf(stderr,
                     "tessaro-provider: tunnel server not started: cannot listen on %s:%d (%s)\n",
                     host.c_str(), options.tunnelPort, error.toLocal8Bit().constData());
    }

    // A stop asked for before the server has begun to accept would be lost
    // (the server ignores it until it runs), so the waiter waits for that.
    std::atomic<bool> listenEnded{false};
    std::thread signalWaiter([&server, &stopSignals, &listenEnded] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        while (!server.is_running() && !listenEnded) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        server.stop();
    });

    std::printf("database: %s\n",
                QDir::toNativeSeparators(options.database).toLocal8Bit().constData());
    std::printf("demo account: %s / %s\n", Database::kDemoUser, Database::kDemoPassword);
    std::printf("listening on %s:%d\n", host.c_str(), port);
    if (tunnelsListening) {
        std::printf("tunnel server listening on %s:%d\n", host.c_str(), int(tunnelPort));
    }
    std::fflush(stdout);

    const bool ok = server.listen_after_bind();
    listenEnded = true;
    // Wake the waiter if the server ended for another reason than a signal.
    pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    // Public ports and visitor connections close with the tunnel server.
    tunnelThread.quit();
    tunnelThread.wait();
    std::printf("stopped\n");
    std::fflush(stdout);
    return ok ? 0 : 1;
}
