#pragma once
// The program's UTF-8 texts and paths as the UTF-16 of the wide Win32 calls,
// and back. Shared by the Windows backends; a path keeps working whatever
// the system's ANSI code page is.
#include <windows.h>

#include <string>
#include <string_view>

namespace ristova::win32 {

// Invalid UTF-8 becomes U+FFFD; nothing is dropped silently.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);
// A path for the wide calls, with the backslashes Windows writes.
std::wstring WidePath(std::string_view path);
// A path from the system, with the forward slashes the program keeps.
std::string PathFromWide(std::wstring_view path);
// The system's text for an error number, without its line end.
std::string ErrorText(DWORD error);

// Closes a handle when it goes out of scope.
class Handle {
  public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { Reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : h_(other.Release()) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            Reset();
            h_ = other.Release();
        }
        return *this;
    }
    HANDLE Get() const { return h_; }
    // CreateFile fails with INVALID_HANDLE_VALUE, most other calls with null.
    bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    HANDLE Release() {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    void Reset(HANDLE h = nullptr) {
        if (Valid()) ::CloseHandle(h_);
        h_ = h;
    }

  private:
    HANDLE h_ = nullptr;
};

}  // namespace ristova::win32
