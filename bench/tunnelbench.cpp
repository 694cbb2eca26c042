// tessaro-tunnelbench: an echo server and a load generator that checks every
// byte, for measuring and testing tunnels against a direct connection.
//
//   tessaro-tunnelbench echo [--listen ADDR:PORT]
//       echoes every connection and passes the client's end of stream back;
//       prints "echo listening on ADDR:PORT" and runs until SIGTERM/SIGINT.
//   tessaro-tunnelbench load --target ADDR:PORT [--connections N]
//       [--concurrency K] [--min-bytes A] [--max-bytes B] [--seed S]
//       [--timeout-s T]
//       opens N connections (K at a time), sends each a pseudo-random stream
//       of A..B bytes, half-closes, and checks that exactly that stream comes
//       back. Prints one result line; exits 0 only when every byte matched.
//   tessaro-tunnelbench wait --target ADDR:PORT [--timeout-s T]
//       repeats a small echo until one succeeds; prints how long that took.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr size_t kChunk = 64 * 1024;
volatile std::sig_atomic_t g_stop = 0;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

[[noreturn]] void usage(const char *why)
{
    std::fprintf(stderr, "tessaro-tunnelbench: %s\n", why);
    std::fprintf(stderr, "usage: tessaro-tunnelbench echo [--listen ADDR:PORT]\n"
                         "       tessaro-tunnelbench load --target ADDR:PORT [--connections N] "
                         "[--concurrency K] [--min-bytes A] [--max-bytes B] [--seed S] "
                         "[--timeout-s T]\n"
                         "       tessaro-tunnelbench wait --target ADDR:PORT [--timeout-s T]\n");
    std::exit(2);
}

bool parseEndpoint(const std::string &text, sockaddr_in *address)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    *address = {};
    address->sin_family = AF_INET;
    const long port = std::strtol(text.c_str() + colon + 1, nullptr, 10);
    if (port < 0 || port > 65535)
        return false;
    address->sin_port = htons(uint16_t(port));
    return inet_pton(AF_INET, text.substr(0, colon).c_str(), &address->sin_addr) == 1;
}

void nonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

uint64_t mix(uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// The stream of a connection: byte i depends on the seed and on i only, so
// sender and checker agree without keeping the data.
void fillPattern(uint64_t seed, uint64_t offset, char *out, size_t length)
{
    size_t done = 0;
    while (done < length) {
        const uint64_t position = offset + done;
        const uint64_t word = mix(seed ^ (position >> 3) * 0x2545f4914f6cdd1dULL);
        const size_t skip = size_t(position & 7);
        const size_t take = std::min(length - done, 8 - skip);
        char bytes[8];
        std::memcpy(bytes, &word, 8);
        std::memcpy(out + done, bytes + skip, take);
        done += take;
    }
}

// ---- echo ----------------------------------------------------------------

struct EchoConnection
{
    std::vector<char> buffer = std::vector<char>(kChunk);
    size_t head = 0;
    size_t tail = 0;
    bool endOfStream = false;
};

int runEcho(const std::string &listenAt)
{
    sockaddr_in address;
    if (!parseEndpoint(listenAt, &address))
        usage("--listen needs IPv4ADDRESS:PORT");
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener, 1024) != 0) {
        std::fprintf(stderr, "tessaro-tunnelbench: cannot listen on %s: %s\n", listenAt.c_str(),
                     std::strerror(errno));
        return 1;
    }
    nonBlocking(listener);
    socklen_t size = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size);
    char host[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);
    std::printf("echo listening on %s:%d\n", host, ntohs(address.sin_port));
    std::fflush(stdout);

    std::map<int, EchoConnection> connections;
    std::vector<pollfd> polls;
    while (!g_stop) {
        polls.clear();
        polls.push_back({listener, POLLIN, 0});
        for (auto &[fd, c] : connections) {
            short events = 0;
            if (!c.endOfStream && c.tail < kChunk)
                events |= POLLIN;
            if (c.tail > c.head)
                events |= POLLOUT;
            polls.push_back({fd, events, 0});
        }
        if (::poll(polls.data(), polls.size(), 200) <= 0)
            continue;
        if (polls[0].revents & POLLIN) {
            for (int fd; (fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                nonBlocking(fd);
                connections.emplace(fd, EchoConnection());
            }
        }
        for (size_t i = 1; i < polls.size(); ++i) {
            if (!polls[i].revents)
                continue;
            const int fd = polls[i].fd;
            EchoConnection &c = connections[fd];
            bool failed = false;
            if (!c.endOfStream && c.tail < kChunk) {
                const ssize_t got = ::read(fd, c.buffer.data() + c.tail, kChunk - c.tail);
                if (got > 0)
                    c.tail += size_t(got);
                else if (got == 0)
                    c.endOfStream = true;
                else if (errno != EAGAIN)
                    failed = true;
            }
            if (!failed && c.tail > c.head) {
                const ssize_t sent =
                    ::send(fd, c.buffer.data() + c.head, c.tail - c.head, MSG_NOSIGNAL);
                if (sent > 0)
                    c.head += size_t(sent);
                else if (errno != EAGAIN)
                    failed = true;
                if (c.head == c.tail)
                    c.head = c.tail = 0;
            }
            if (failed || (c.endOfStream && c.head == c.tail)) {
                ::shutdown(fd, SHUT_WR);
                ::close(fd);
                connections.erase(fd);
            }
        }
    }
    for (auto &entry : connections)
        ::close(entry.first);
    ::close(listener);
    return 0;
}

// ---- load ----------------------------------------------------------------

struct LoadOptions
{
    sockaddr_in target = {};
    long connections = 1;
    long concurrency = 1;
    uint64_t minBytes = 1024 * 1024;
    uint64_t maxBytes = 1024 * 1024;
    uint64_t seed = 1;
    double timeoutSeconds = 120;
};

struct LoadConnection
{
    uint64_t seed = 0;
    uint64_t size = 0;
    uint64_t sent = 0;
    uint64_t received = 0;
    bool connecting = true;
    bool shut = false;
};

struct LoadResult
{
    long ok = 0;
    long failed = 0;
    uint64_t bytes = 0;
    double seconds = 0;
    std::string firstError;
};

LoadResult runLoad(const LoadOptions &options)
{
    LoadResult result;
    std::map<int, LoadConnection> active;
    std::vector<char> out(kChunk), in(kChunk), expected(kChunk);
    long started = 0;
    uint64_t sizeState = options.seed;
    const Clock::time_point begin = Clock::now();
    auto fail = [&](int fd, const std::string &why) {
        if (result.firstError.empty())
            result.firstError = why;
        ++result.failed;
        ::close(fd);
        active.erase(fd);
    };

    std::vector<pollfd> polls;
    while (started < options.connections || !active.empty()) {
        if (g_stop || secondsSince(begin) > options.timeoutSeconds) {
            result.failed += long(active.size()) + (options.connections - started);
            if (result.firstError.empty())
                result.firstError = "time limit reached";
            for (auto &entry : active)
                ::close(entry.first);
            active.clear();
            break;
        }
        while (started < options.connections && long(active.size()) < options.concurrency) {
            LoadConnection c;
            c.seed = mix(options.seed * 1000003ULL + uint64_t(started));
            sizeState = mix(sizeState);
            const uint64_t span = options.maxBytes - options.minBytes + 1;
            c.size = options.minBytes + (span ? sizeState % span : 0);
            ++started;
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            nonBlocking(fd);
            if (::connect(fd, reinterpret_cast<const sockaddr *>(&options.target),
                          sizeof options.target) != 0 &&
                errno != EINPROGRESS) {
                active.emplace(fd, c);
                fail(fd, std::string("connect: ") + std::strerror(errno));
                continue;
            }
            active.emplace(fd, c);
        }
        polls.clear();
        for (auto &[fd, c] : active) {
            short events = POLLIN;
            if (c.connecting || c.sent < c.size)
                events |= POLLOUT;
            polls.push_back({fd, events, 0});
        }
        if (::poll(polls.data(), polls.size(), 200) <= 0)
            continue;
        for (const pollfd &p : polls) {
            if (!p.revents)
                continue;
            LoadConnection &c = active[p.fd];
            if (c.connecting) {
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &length);
                if (error != 0) {
                    fail(p.fd, std::string("connect: ") + std::strerror(error));
                    continue;
                }
                if (!(p.revents & POLLOUT))
                    continue;
                c.connecting = false;
            }
            if ((p.revents & POLLOUT) && c.sent < c.size) {
                const size_t length = size_t(std::min<uint64_t>(kChunk, c.size - c.sent));
                fillPattern(c.seed, c.sent, out.data(), length);
                const ssize_t sent = ::send(p.fd, out.data(), length, MSG_NOSIGNAL);
                if (sent > 0) {
                    c.sent += uint64_t(sent);
                } else if (errno != EAGAIN) {
                    fail(p.fd, std::string("send: ") + std::strerror(errno));
                    continue;
                }
            }
            if (c.sent == c.size && !c.shut) {
                ::shutdown(p.fd, SHUT_WR);
                c.shut = true;
            }
            if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t got = ::read(p.fd, in.data(), kChunk);
                if (got > 0) {
                    if (c.received + uint64_t(got) > c.size) {
                        fail(p.fd, "more bytes came back than were sent");
                        continue;
                    }
                    fillPattern(c.seed, c.received, expected.data(), size_t(got));
                    if (std::memcmp(in.data(), expected.data(), size_t(got)) != 0) {
                        fail(p.fd, "bytes came back changed");
                        continue;
                    }
                    c.received += uint64_t(got);
                } else if (got == 0) {
                    if (c.received != c.size) {
                        fail(p.fd, "stream ended after " + std::to_string(c.received) + " of " +
                                       std::to_string(c.size) + " bytes");
                        continue;
                    }
                    ++result.ok;
                    result.bytes += c.size;
                    ::close(p.fd);
                    active.erase(p.fd);
                } else if (errno != EAGAIN) {
                    fail(p.fd, std::string("read: ") + std::strerror(errno));
                }
            }
        }
    }
    result.seconds = secondsSince(begin);
    return result;
}

int runWait(const LoadOptions &options)
{
    const Clock::time_point begin = Clock::now();
    LoadOptions probe = options;
    probe.connections = 1;
    probe.concurrency = 1;
    probe.minBytes = probe.maxBytes = 1024;
    probe.timeoutSeconds = 2;
    while (!g_stop && secondsSince(begin) < options.timeoutSeconds) {
        if (runLoad(probe).ok == 1) {
            std::printf("reachable after %.0f ms\n", secondsSince(begin) * 1000);
            return 0;
        }
        ::usleep(50 * 1000);
    }
    std::printf("not reachable within %.0f s\n", options.timeoutSeconds);
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    std::signal(SIGINT, [](int) { g_stop = 1; });
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2)
        usage("missing mode");
    const std::string mode = argv[1];
    std::string listenAt = "127.0.0.1:0";
    std::string target;
    LoadOptions options;
    for (int i = 2; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc)
            usage(("missing value for " + name).c_str());
        const char *value = argv[++i];
        if (name == "--listen")
            listenAt = value;
        else if (name == "--target")
            target = value;
        else if (name == "--connections")
            options.connections = std::max(1L, std::atol(value));
        else if (name == "--concurrency")
            options.concurrency = std::max(1L, std::atol(value));
        else if (name == "--min-bytes")
            options.minBytes = std::strtoull(value, nullptr, 10);
        else if (name == "--max-bytes")
            options.maxBytes = std::strtoull(value, nullptr, 10);
        else if (name == "--seed")
            options.seed = std::strtoull(value, nullptr, 10);
        else if (name == "--timeout-s")
            options.timeoutSeconds = std::atof(value);
        else
            usage(("unknown option " + name).c_str());
    }
    if (mode == "echo")
        return runEcho(listenAt);
    if (mode != "load" && mode != "wait")
        usage("unknown mode");
    if (!parseEndpoint(target, &options.target))
        usage("--target needs IPv4ADDRESS:PORT");
    if (options.maxBytes < options.minBytes)
        options.maxBytes = options.minBytes;
    if (mode == "wait")
        return runWait(options);

    const LoadResult result = runLoad(options);
    const double megabytes = double(result.bytes) / 1e6;
    std::printf("connections=%ld ok=%ld failed=%ld bytes=%llu seconds=%.3f MBps=%.1f "
                "conn_per_s=%.1f%s%s\n",
                options.connections, result.ok, result.failed,
                static_cast<unsigned long long>(result.bytes), result.seconds,
                result.seconds > 0 ? megabytes / result.seconds : 0.0,
                result.seconds > 0 ? double(result.ok) / result.seconds : 0.0,
                result.firstError.empty() ? "" : " first_error=", result.firstError.c_str());
    return result.failed == 0 && result.ok == options.connections ? 0 : 1;
}
