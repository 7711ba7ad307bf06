// The loader on Windows: LoadLibraryExW with the library's own folder first
// in the search for what it needs, GetProcAddress, FreeLibrary.
#include "base/SharedLibrary.h"

#include <windows.h>

#include <cstring>

#include "base/win32/Wide.h"

namespace ristova {

SharedLibrary::~SharedLibrary() {
    Close();
}

bool SharedLibrary::Open(const std::string& path) {
    Close();
    // No dialog box for a library that cannot be loaded: the caller says why.
    const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module =
        ::LoadLibraryExW(win32::WidePath(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD error = ::GetLastError();
    ::SetErrorMode(oldMode);
    if (module != nullptr) {
        handle_ = module;
        lastError_.clear();
        return true;
    }
    lastError_ = win32::ErrorText(error);
    return false;
}

void* SharedLibrary::Symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    const FARPROC found = ::GetProcAddress(static_cast<HMODULE>(handle_), name);
    // A code address as the data pointer that the front hands out.
    void* address = nullptr;
    static_assert(sizeof address == sizeof found);
    std::memcpy(&address, &found, sizeof address);
    return address;
}

void SharedLibrary::Close() {
    if (handle_ != nullptr) ::FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

}  // namespace ristova
