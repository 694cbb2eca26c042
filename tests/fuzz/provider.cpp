// Arbitrary bytes as one raw HTTP exchange with the stand-in provider: its API,
// console and site handlers behind a real cpp-httplib server on loopback, over
// a database in memory that starts with the demo data.

#include "apihandlers.h"
#include "consolepages.h"
#include "database.h"
#include "pictures.h"
#include "serversetup.h"
#include "sitepages.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <thread>

namespace {

// Bounds every exchange; a complete request is answered in well under this.
constexpr int kExchangeSeconds = 10;
constexpr size_t kMaxReplyBytes = 4 * 1024 * 1024;
// The whole input is on the socket before the server reads it, so a pause this
// long means the request is incomplete; the server then gives up on it.
constexpr long kStallMicroseconds = 50 * 1000;

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "provider: %s\n", what.c_str());
    std::abort();
}

class Provider
{
public:
    Provider()
    {
        QString error;
        if (!m_database.open(QStringLiteral(":memory:"), &error))
            fail("cannot open database: " + error.toStdString());
        // The provider's own set-up first; the settings below only bound the
        // exchange and make a throwing handler a fault rather than a 500.
        configureServer(m_server);
        m_server.set_read_timeout(0, kStallMicroseconds);
        m_server.set_write_timeout(2, 0);
        m_server.set_keep_alive_timeout(1);
        // One request per connection, so the server closes as soon as it has answered.
        m_server.set_keep_alive_max_count(1);
        m_server.set_exception_handler(
            [](const httplib::Request &request, httplib::Response &, std::exception_ptr thrown) {
                std::string what = "unknown exception";
                try {
                    std::rethrow_exception(thrown);
                } catch (const std::exception &e) {
                    what = e.what();
                } catch (...) {
                }
                fail("handler for " + request.path.substr(0, 100) + " threw: " + what);
            });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        if (m_port <= 0)
            fail("cannot listen on loopback");
        m_api = std::make_unique<ApiHandlers>(m_database,
                                              QStringLiteral("http://127.0.0.1:%1/").arg(m_port));
        m_console = std::make_unique<ConsolePages>(m_database);
        m_site = std::make_unique<SitePages>(m_database, m_pictures);
        m_api->install(m_server);
        m_console->install(m_server);
        m_site->install(m_server);
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    ~Provider()
    {
        m_server.stop();
        m_thread.join();
    }

    int port() const { return m_port; }

private:
    Database m_database;
    const Pictures m_pictures;
    // Made once the port, which the API's links carry, is known.
    std::unique_ptr<ApiHandlers> m_api;
    std::unique_ptr<ConsolePages> m_console;
    std::unique_ptr<SitePages> m_site;
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
};

// Sends the bytes on a fresh connection and returns what comes back until the
// server closes, so the server has finished with the input when this returns.
// Our side stays open: the server does not answer a peer that has stopped
// sending.
std::string exchange(int port, const uint8_t *data, size_t size)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fail("no socket");
    timeval wait{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        fail("cannot connect to the provider");

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kExchangeSeconds);
    size_t sent = 0;
    while (sent < size && std::chrono::steady_clock::now() < deadline) {
        // The server may answer and close before reading everything.
        const ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += size_t(n);
    }

    std::string reply;
    char buffer[16384];
    for (;;) {
        // A request never takes this long: the handler hangs.
        if (std::chrono::steady_clock::now() >= deadline)
            fail("no end of the answer within " + std::to_string(kExchangeSeconds) + " s");
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            break;
        if (n > 0 && reply.size() < kMaxReplyBytes)
            reply.append(buffer, size_t(n));
    }
    close(fd);
    return reply;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A peer that sends nothing only waits out the server's idle timeout.
    if (size == 0)
        return 0;
    static Provider provider;
    const std::string reply = exchange(provider.port(), data, size);

    // Whatever came in, what goes out is HTTP, and never a server fault.
    if (!reply.empty()) {
        if (reply.compare(0, 9, "HTTP/1.1 ") != 0)
            fail("reply is not HTTP: " + reply.substr(0, 40));
        if (reply.size() > 9 && reply[9] == '5')
            fail("server fault: " + reply.substr(0, reply.find('\r')));
    }
    return 0;
}
