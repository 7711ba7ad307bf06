#include "base/Process.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "base/win32/Wide.h"

namespace ristova {

long ProcessId() {
    return static_cast<long>(::GetCurrentProcessId());
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(win32::Narrow(wide[i]));
    ::LocalFree(wide);
    return args;
}

void UseUtf8Console() {
    ::SetConsoleOutputCP(CP_UTF8);
}

std::string HostName() {
    wchar_t name[256] = {};
    DWORD size = sizeof name / sizeof name[0];
    if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size) || size == 0)
        return "localhost";
    return win32::Narrow(std::wstring_view(name, size));
}

bool UnderWine() {
    // Wine's ntdll exports this; Windows' does not.
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace ristova
