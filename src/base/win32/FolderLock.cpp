// The folder lock on Windows: LockFileEx on the lock file, which the system
// drops with the process however it ends, so a crash leaves no stale lock.
#include "base/FolderLock.h"

#include <windows.h>

#include "base/win32/Wide.h"

namespace ristova {

FolderLock::Result FolderLock::Lock(const std::string& path) {
    HANDLE file = ::CreateFileW(win32::WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error_ = path + ": " + win32::ErrorText(::GetLastError());
        return Result::Failed;
    }
    OVERLAPPED whole{};
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                     MAXDWORD, &whole)) {
        handle_ = file;
        return Result::Locked;
    }
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return Result::InUse;
    error_ = path + ": " + win32::ErrorText(error);
    return Result::Failed;
}

void FolderLock::Release() {
    if (handle_ == kNoHandle) return;
    ::CloseHandle(handle_);
    handle_ = kNoHandle;
}

}  // namespace ristova
