// The Windows service control manager: a runner that it starts registers
// with StartServiceCtrlDispatcher, says RUNNING once its runs are up and
// stops on SERVICE_CONTROL_STOP (or at shutdown) as it does on Ctrl+C. A
// runner started from a console runs as before. The dispatcher is only
// asked when the process looks started by the manager (--service on its
// command line, or the service group in its token): some emulations let a
// console program wait seconds for a manager that never answers.
#include "app/ServiceManager.h"

#include <windows.h>

#include <csignal>
#include <cstdio>

#include "base/Process.h"
#include "base/win32/Waits.h"

namespace ristova::service {

namespace {

struct Service {
    Body body = nullptr;
    int argc = 0;
    char** argv = nullptr;
    int exitStatus = 0;
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status{};
};
Service service;

void Report(DWORD state, DWORD waitHintMs = 0) {
    if (service.handle == nullptr) return;
    service.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    service.status.dwCurrentState = state;
    service.status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    service.status.dwWaitHint = waitHintMs;
    if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING)
        ++service.status.dwCheckPoint;
    else
        service.status.dwCheckPoint = 0;
    ::SetServiceStatus(service.handle, &service.status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            Report(SERVICE_STOP_PENDING, 10000);
            win32::RaiseStopSignal(SIGTERM);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
    // An own-process service: the name is not looked at.
    service.handle = ::RegisterServiceCtrlHandlerExW(L"", OnControl, nullptr);
    if (service.handle == nullptr) return;
    Report(SERVICE_START_PENDING, 30000);
    // The command line of the service's image (--folder) is the program's.
    service.exitStatus = service.body(service.argc, service.argv);
    if (service.exitStatus != 0) {
        service.status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        service.status.dwServiceSpecificExitCode = static_cast<DWORD>(service.exitStatus);
    }
    Report(SERVICE_STOPPED);
}

// The token of a process that the service manager started holds the
// well-known SERVICE group (S-1-5-6).
bool InServiceGroup() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID group = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 1, SECURITY_SERVICE_RID, 0, 0, 0, 0, 0, 0, 0, &group))
        return false;
    BOOL member = FALSE;
    if (!::CheckTokenMembership(nullptr, group, &member)) member = FALSE;
    ::FreeSid(group);
    return member != FALSE;
}

bool StartedAsService(int argc, char** argv) {
    for (const std::string& arg : ProgramArguments(argc, argv))
        if (arg == "--service") return true;
    return InServiceGroup();
}

}  // namespace

int RunAsServiceOrConsole(Body body, int argc, char** argv) {
    service.body = body;
    service.argc = argc;
    service.argv = argv;
    wchar_t name[] = L"ristova-run";
    const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (StartedAsService(argc, argv) && ::StartServiceCtrlDispatcherW(table))
        return service.exitStatus;
    // Not started by the service manager: a console program, whose lines
    // are UTF-8.
    UseUtf8Console();
    return body(argc, argv);
}

void NotifyReady() {
    Report(SERVICE_RUNNING);
}

void NotifyAlive() {}

void NotifyStopping() {
    Report(SERVICE_STOP_PENDING, 10000);
}

}  // namespace ristova::service
