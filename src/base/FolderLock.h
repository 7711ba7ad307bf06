#pragma once
// One program folder, one running program: an exclusive flock on a lock
// file in the folder, held for the process's life and released by the
// kernel however the process ends.
#include <string>

namespace ristova {

inline constexpr const char* kFolderLockFileName = ".ristova.lock";
inline constexpr const char* kFolderInUse = "该程序文件夹已由另一个Ristova进程使用";

class FolderLock {
  public:
    enum class Result { Locked, InUse, Failed };

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
    int fd_ = -1;
    std::string error_;
};

}  // namespace ristova
