// The program behind FakeCommand: copied under the name of the program it
// stands in for (sc, ps, ipconfig, ...). Its settings lie beside it, named
// after the path it was started by:
//   <path>.conf   "exit <code>", "delay <ms>", "hang" lines; "service" lines
//                 (below) make it answer as sc does for one service;
//                 "forward <program>" (Windows) records, then runs the
//                 program it stands in front of with the same command line
//   <path>.out    printed byte for byte
//   <path>.state  with "service": "<STATE> <queries left> <STATE after>"
//   <path>.calls  every run's arguments appended: "<argc>\0" and each one
//                 NUL-terminated
// Plain C++ with no toolkit, so it starts at once on every system.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
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

void writeFile(const std::string &path, const std::string &bytes)
{
    if (std::FILE *file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
}

// sc as Windows answers for one service, in Windows' words. Conf lines:
//   "service <STATE>"           the state when no state file exists yet
//   "start-pending <queries>"   after a start, queries that show START_PENDING
//   "stop-pending <queries>"    after a stop, queries that show STOP_PENDING
//   "refuse <verb> <error>"     the verb is refused with that error (5: access)
struct ServiceModel
{
    std::string state = "RUNNING";
    int startPending = 0;
    int stopPending = 0;
    std::vector<std::pair<std::string, int>> refusals;
};

int stateNumber(const std::string &state)
{
    if (state == "STOPPED")
        return 1;
    if (state == "START_PENDING")
        return 2;
    return state == "STOP_PENDING" ? 3 : 4;
}

std::string stateBlock(const std::string &state)
{
    const bool pending = state.find("PENDING") != std::string::npos;
    return "\r\nSERVICE_NAME: tessarosvc \r\n"
           "        TYPE               : 10  WIN32_OWN_PROCESS  \r\n"
           "        STATE              : " +
           std::to_string(stateNumber(state)) + "  " + state + " \r\n" +
           (pending ? "                                (NOT_STOPPABLE, NOT_PAUSABLE, "
                      "IGNORES_SHUTDOWN)\r\n"
                    : "                                (STOPPABLE, NOT_PAUSABLE, "
                      "ACCEPTS_SHUTDOWN)\r\n") +
           "        WIN32_EXIT_CODE    : 0  (0x0)\r\n"
           "        SERVICE_EXIT_CODE  : 0  (0x0)\r\n"
           "        CHECKPOINT         : 0x0\r\n"
           "        WAIT_HINT          : 0x0\r\n\r\n";
}

int failure(const char *operation, int error, const char *text, std::string *out)
{
    *out = std::string("[SC] ") + operation + " FAILED " + std::to_string(error) + ":\r\n\r\n" +
           text + "\r\n\r\n";
    return error;
}

// Runs one sc command against the model; returns the exit code (Windows'
// error number).
int serviceCommand(const std::string &self, const ServiceModel &model, int argc, char *argv[],
                   std::string *out)
{
    const std::string verb = argc > 1 ? argv[1] : "";
    for (const auto &refusal : model.refusals) {
        if (refusal.first == verb)
            return failure(verb == "query" ? "EnumQueryServicesStatus:OpenService" : "OpenService",
                           refusal.second,
                           refusal.second == 5 ? "Access is denied." : "The operation failed.",
                           out);
    }
    std::string state = model.state;
    int left = 0;
    std::string after;
    {
        const std::string saved = readFile(self + ".state");
        char word[32] = {0}, then[32] = {0};
        if (std::sscanf(saved.c_str(), "%31s %d %31s", word, &left, then) >= 1) {
            state = word;
            after = then;
        }
    }
    const auto save = [&self](const std::string &now, int queries, const std::string &next) {
        writeFile(self + ".state", now + " " + std::to_string(queries) + " " + next);
    };
    if (verb == "query") {
        *out = stateBlock(state);
        if (left > 0 && --left == 0)
            save(after, 0, after);
        else
            save(state, left, after);
        return 0;
    }
    if (verb == "start") {
        if (state != "STOPPED")
            return failure("StartService", 1056, "An instance of the service is already running.",
                           out);
        *out = stateBlock("START_PENDING");
        if (model.startPending > 0)
            save("START_PENDING", model.startPending, "RUNNING");
        else
            save("RUNNING", 0, "RUNNING");
        return 0;
    }
    if (verb == "stop") {
        if (state == "STOPPED")
            return failure("ControlService", 1062, "The service has not been started.", out);
        if (state != "RUNNING")
            return failure("ControlService", 1061,
                           "The service cannot accept control messages at this time.", out);
        *out = stateBlock("STOP_PENDING");
        if (model.stopPending > 0)
            save("STOP_PENDING", model.stopPending, "STOPPED");
        else
            save("STOPPED", 0, "STOPPED");
        return 0;
    }
    return failure("OpenService", 1060,
                   "The specified service does not exist as an installed service.", out);
}

} // namespace

#ifdef _WIN32
// Runs the program with this run's own command line (quoting untouched) and
// returns its exit code; its output goes where this program's goes.
int forward(const std::string &program)
{
    const wchar_t *line = GetCommandLineW();
    // Past this program's own name, quoted or not.
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"')
            ++line;
        if (*line)
            ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t')
            ++line;
    }
    const std::wstring path(program.begin(), program.end());
    std::wstring command = L"\"" + path + L"\"" + line;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(path.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
        return 2;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(code);
}
#endif

// Where the settings lie: beside the program, by the path it was started by;
// a program started by bare name (found on the search path) by its own.
std::string selfPath(const char *argv0)
{
    const std::string started = argv0;
#ifdef _WIN32
    if (started.find_first_of("\\/") == std::string::npos) {
        char module[MAX_PATH];
        const DWORD size = GetModuleFileNameA(nullptr, module, MAX_PATH);
        if (size > 0 && size < MAX_PATH)
            return module;
    }
#endif
    return started;
}

int main(int argc, char *argv[])
{
    const std::string self = selfPath(argv[0]);

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
    bool service = false;
    std::string forwardTo;
    ServiceModel model;
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
        else if (line.rfind("forward ", 0) == 0)
            forwardTo = line.substr(8);
        else if (line.rfind("service ", 0) == 0) {
            service = true;
            model.state = line.substr(8);
        } else if (line.rfind("start-pending ", 0) == 0)
            model.startPending = std::atoi(line.c_str() + 14);
        else if (line.rfind("stop-pending ", 0) == 0)
            model.stopPending = std::atoi(line.c_str() + 13);
        else if (line.rfind("refuse ", 0) == 0) {
            const size_t blank = line.find(' ', 7);
            if (blank != std::string::npos)
                model.refusals.emplace_back(line.substr(7, blank - 7),
                                            std::atoi(line.c_str() + blank + 1));
        }
        start = end + 1;
    }

    if (delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
#ifdef _WIN32
    if (!forwardTo.empty())
        return forward(forwardTo);
    // Byte for byte: the C runtime would otherwise print CR LF for each LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::string out = readFile(self + ".out");
    if (service)
        exitCode = serviceCommand(self, model, argc, argv, &out);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    if (hang) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    }
#ifdef _WIN32
    // sc exits with the whole error number there.
    return exitCode;
#else
    return exitCode & 0xff;
#endif
}
