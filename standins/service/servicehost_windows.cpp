#include "servicehost.h"

#include <QCoreApplication>

#include <atomic>
#include <mutex>

#include <windows.h>

namespace {

wchar_t g_serviceName[] = L"tessarosvc";

int g_argc = 0;
char **g_argv = nullptr;
const ServiceHost::Body *g_body = nullptr;
int g_exitCode = 0;

// The service manager's calls arrive on the dispatcher's thread; the host
// lives on the service's own thread.
std::mutex g_hostMutex;
ServiceHost *g_host = nullptr;
std::atomic<bool> g_stopWanted{false};

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status = {};
std::mutex g_statusMutex;

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
    std::lock_guard<std::mutex> lock(g_hostMutex);
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

// Runs the body with the host published to the stop requests.
int runBody(ServiceHost &host)
{
    {
        std::lock_guard<std::mutex> lock(g_hostMutex);
        g_host = &host;
    }
    if (g_stopWanted)
        requestStop();
    const int code = (*g_body)(host);
    std::lock_guard<std::mutex> lock(g_hostMutex);
    g_host = nullptr;
    return code;
}

void WINAPI serviceMain(DWORD, wchar_t **)
{
    g_statusHandle = RegisterServiceCtrlHandlerExW(g_serviceName, controlHandler, nullptr);
    if (!g_statusHandle)
        return;
    setState(SERVICE_START_PENDING, 10000);
    {
        QCoreApplication app(g_argc, g_argv);
        ServiceHost host;
        g_exitCode = runBody(host);
    }
    setState(SERVICE_STOPPED);
}

} // namespace

int ServiceHost::run(int argc, char *argv[], const Body &body)
{
    // Hand over to the service manager, which calls serviceMain on a thread
    // of its own and returns here once the service has stopped.
    g_argc = argc;
    g_argv = argv;
    g_body = &body;
    SERVICE_TABLE_ENTRYW table[] = {{g_serviceName, serviceMain}, {nullptr, nullptr}};
    if (StartServiceCtrlDispatcherW(table))
        return g_exitCode;
    if (GetLastError() != ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)
        return 1;
    // Started from a console rather than by the service manager: run until
    // Ctrl+C.
    QCoreApplication app(argc, argv);
    SetConsoleCtrlHandler(consoleHandler, TRUE);
    ServiceHost host;
    return runBody(host);
}

void ServiceHost::reportRunning()
{
    setState(SERVICE_RUNNING);
}

void ServiceHost::reportStopping()
{
    setState(SERVICE_STOP_PENDING, 10000);
}
