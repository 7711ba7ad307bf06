#pragma once
// A shared library loaded at run time: open, look up a symbol, close. The
// loader is the platform's (posix/SharedLibrary.cpp: dlopen; win32/SharedLibrary.cpp:
// LoadLibraryExW).
#include <string>
#include <string_view>

namespace ristova {

// The names a shared library file has here.
#ifdef _WIN32
inline constexpr std::string_view kSharedLibraryMask = "*.dll";
#else
inline constexpr std::string_view kSharedLibraryMask = "*.so";
#endif

class SharedLibrary {
  public:
    SharedLibrary() = default;
    ~SharedLibrary();  // closes
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Loads the file at path (closing one open before), resolving its
    // symbols at once and keeping them to itself. False, with LastError(),
    // when it is no library the loader takes.
    bool Open(const std::string& path);
    // The exported symbol's address; null when missing or nothing is open.
    void* Symbol(const char* name) const;
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }
    // The loader's reason for the last failed Open; empty after a success.
    const std::string& LastError() const { return lastError_; }

  private:
    void* handle_ = nullptr;
    std::string lastError_;
};

}  // namespace ristova
