// The program behind FakeCommand: copied under the name of the program it
// stands in for (sc, ps, ipconfig, ...). Its settings lie beside it, named
// after the path it was started by:
//   <path>.conf   "exit <code>", "delay <ms>", "hang" lines
//   <path>.out    printed byte for byte
//   <path>.calls  every run's arguments appended: "<argc>\0" and each one
//                 NUL-terminated
// Plain C++ with no toolkit, so it starts at once on every system.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

std::string readFile(const std::string &path)
{
    std::string bytes;
    if (std::FILE *file = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        size_t count;
        while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0)
            bytes.append(chunk, count);
        std::fclose(file);
    }
    return bytes;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::string self = argv[0];

    // One write of the whole record, so runs that overlap do not interleave
    // their arguments.
    std::string record = std::to_string(argc - 1);
    record.push_back('\0');
    for (int i = 1; i < argc; ++i) {
        record += argv[i];
        record.push_back('\0');
    }
    if (std::FILE *calls = std::fopen((self + ".calls").c_str(), "ab")) {
        std::setvbuf(calls, nullptr, _IOFBF, record.size() + 1);
        std::fwrite(record.data(), 1, record.size(), calls);
        std::fclose(calls);
    }

    int exitCode = 0;
    long delayMs = 0;
    bool hang = false;
    const std::string conf = readFile(self + ".conf");
    size_t start = 0;
    while (start < conf.size()) {
        size_t end = conf.find('\n', start);
        if (end == std::string::npos)
            end = conf.size();
        const std::string line = conf.substr(start, end - start);
        if (line.rfind("exit ", 0) == 0)
            exitCode = std::atoi(line.c_str() + 5);
        else if (line.rfind("delay ", 0) == 0)
            delayMs = std::atol(line.c_str() + 6);
        else if (line == "hang")
            hang = true;
        start = end + 1;
    }

    if (delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
#ifdef _WIN32
    // Byte for byte: the C runtime would otherwise print CR LF for each LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    const std::string out = readFile(self + ".out");
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    if (hang) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    }
    return exitCode & 0xff;
}
