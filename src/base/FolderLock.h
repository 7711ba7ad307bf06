#pragma once
// One program folder, one running program: an exclusive lock on a lock
// file in the folder, held for the process's life and released by the
// system however the process ends. The lock is the platform's
// (posix/FolderLock.cpp).
#include <string>

#include "base/NativeHandle.h"

namespace ristova {

inline constexpr const char* kFolderLockFileName = ".ristova.lock";
inline constexpr const char* kFolderInUse = "该程序文件夹已由另一个Ristova进程使用";

class FolderLock {
  public:
    // Link: the lock file's name is a symbolic link, which is never followed.
    enum class Result { Locked, InUse, Failed, Link };

    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // folder ends in '/'. Failed (with Error()) when the lock file cannot be
    // made, e.g. in a folder without write permission.
    Result Acquire(const std::string& folder);
    void Release();
    const std::string& Error() const { return error_; }

  private:
    // Locks the file at path, making it when missing; sets error_ on Failed.
    Result Lock(const std::string& path);

    NativeHandle handle_ = kNoHandle;
    std::string error_;
};

}  // namespace ristova
