#include "HostPlatform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace ristova::decoder_host {

bool HostChannel::Open() {
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    if (in == nullptr || in == INVALID_HANDLE_VALUE) return false;
    // A copy of its own: the runtime closes the standard handles it is
    // given below, and not inherited by anything the plug-in starts.
    if (!::DuplicateHandle(::GetCurrentProcess(), in, ::GetCurrentProcess(), &handle_, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
        return false;
    // A plug-in's own prints go to standard error; it reads nothing.
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    ::SetStdHandle(STD_OUTPUT_HANDLE, err);
    HANDLE nothing = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    ::SetStdHandle(STD_INPUT_HANDLE, nothing);
    std::fflush(stdout);
    ::_dup2(2, 1);
    const int none = ::_open("NUL", _O_RDONLY);
    if (none >= 0) {
        ::_dup2(none, 0);
        ::_close(none);
    }
    return true;
}

std::size_t HostChannel::Read(char* buffer, std::size_t size) {
    DWORD n = 0;
    if (!::ReadFile(handle_, buffer, static_cast<DWORD>(size), &n, nullptr)) return 0;
    return n;
}

bool HostChannel::WriteAll(std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD n = 0;
        if (!::WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) ||
            n == 0)
            return false;
        bytes.remove_prefix(n);
    }
    return true;
}

void IgnoreStopSignals() {
    // Ctrl+C and Ctrl+Break are the engine's; no fault dialog box waits for
    // a user when a plug-in crashes.
    ::SetConsoleCtrlHandler(nullptr, TRUE);
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

namespace {

bool Readable(DWORD protect) {
    if ((protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return false;
    return (protect & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                       PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

}  // namespace

std::string CopyPluginText(const char* text, std::size_t limit) {
    if (text == nullptr) return {};
    // Read only as far as committed, readable memory goes: a text without
    // its terminator is cut where that ends.
    std::size_t length = 0;
    const char* p = text;
    while (length < limit) {
        MEMORY_BASIC_INFORMATION region{};
        if (::VirtualQuery(p, &region, sizeof region) == 0 || region.State != MEM_COMMIT ||
            !Readable(region.Protect))
            break;
        const char* end = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        while (p < end && length < limit && *p != '\0') {
            ++p;
            ++length;
        }
        if (p < end) break;  // the terminator, or the limit
    }
    return std::string(text, length);
}

}  // namespace ristova::decoder_host
