#include "servicehost.h"

#include <QCoreApplication>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <windows.h>

namespace {

wchar_t g_serviceName[] = L"tessarosvc";

// The service manager's calls arrive on threads of its own; the service
// itself, with its event loop, runs on the program's main thread, where Qt
// expects its application object.
std::mutex g_mutex;
std::condition_variable g_changed;
enum class Mode
{
    Unknown,
    Service,
    Console
};
Mode g_mode = Mode::Unknown;
bool g_bodyDone = false;
int g_exitCode = 0;
ServiceHost *g_host = nullptr;
std::atomic<bool> g_stopWanted{false};

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status = {};
std::mutex g_statusMutex;

void setMode(Mode mode)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_mode = mode;
    g_changed.notify_all();
}

void setState(DWORD state, DWORD waitHintMs = 0)
{
    std::lock_guard<std::mutex> lock(g_statusMutex);
    if (!g_statusHandle)
        return;
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    g_status.dwCheckPoint = pending ? g_status.dwCheckPoint + 1 : 0;
    g_status.dwWaitHint = waitHintMs;
    if (state == SERVICE_STOPPED && g_exitCode != 0) {
        g_status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        g_status.dwServiceSpecificExitCode = DWORD(g_exitCode);
    }
    SetServiceStatus(g_statusHandle, &g_status);
}

void requestStop()
{
    g_stopWanted = true;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (ServiceHost *host = g_host)
        QMetaObject::invokeMethod(
            host, [host] { emit host->stopRequested(); }, Qt::QueuedConnection);
}

DWORD WINAPI controlHandler(DWORD control, DWORD, void *, void *)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        requestStop();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

BOOL WINAPI consoleHandler(DWORD)
{
    requestStop();
    return TRUE;
}

// Runs on a thread of the service manager's: hands the start to the main
// thread and reports STOPPED once the service there has ended.
void WINAPI serviceMain(DWORD, wchar_t **)
{
    g_statusHandle = RegisterServiceCtrlHandlerExW(g_serviceName, controlHandler, nullptr);
    if (!g_statusHandle) {
        setMode(Mode::Console);
        return;
    }
    setState(SERVICE_START_PENDING, 10000);
    setMode(Mode::Service);
    std::unique_lock<std::mutex> lock(g_mutex);
    g_changed.wait(lock, [] { return g_bodyDone; });
    lock.unlock();
    setState(SERVICE_STOPPED);
}

} // namespace

int ServiceHost::run(int argc, char *argv[], const Body &body)
{
    // The dispatcher returns only once the service has stopped, so it runs on
    // a thread of its own. Started from a console rather than by the service
    // manager, it fails at once and the service runs until Ctrl+C.
    std::thread dispatcher([] {
        SERVICE_TABLE_ENTRYW table[] = {{g_serviceName, serviceMain}, {nullptr, nullptr}};
        if (!StartServiceCtrlDispatcherW(table)) {
            std::lock_guard<std::mutex> lock(g_mutex);
            if (g_mode == Mode::Unknown) {
                g_mode = Mode::Console;
                g_changed.notify_all();
            }
        }
    });
    {
        std::unique_lock<std::mutex> lock(g_mutex);
        g_changed.wait(lock, [] { return g_mode != Mode::Unknown; });
    }
    if (g_mode == Mode::Console)
        SetConsoleCtrlHandler(consoleHandler, TRUE);

    int code = 0;
    {
        QCoreApplication app(argc, argv);
        ServiceHost host;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_host = &host;
        }
        if (g_stopWanted)
            requestStop();
        code = body(host);
        std::lock_guard<std::mutex> lock(g_mutex);
        g_host = nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_exitCode = code;
        g_bodyDone = true;
        g_changed.notify_all();
    }
    dispatcher.join();
    return code;
}

void ServiceHost::reportRunning()
{
    setState(SERVICE_RUNNING);
}

void ServiceHost::reportStopping()
{
    setState(SERVICE_STOP_PENDING, 10000);
}
