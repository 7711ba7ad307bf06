#include "base/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ristova {

FolderLock::~FolderLock() {
    Release();
}

FolderLock::Result FolderLock::Acquire(const std::string& folder) {
    Release();
    error_.clear();
    const std::string path = folder + kFolderLockFileName;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error_ = path + ": " + std::strerror(errno);
        return Result::Failed;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return Result::Locked;
    const int error = errno;
    ::close(fd_);
    fd_ = -1;
    if (error == EWOULDBLOCK) return Result::InUse;
    error_ = path + ": " + std::strerror(error);
    return Result::Failed;
}

void FolderLock::Release() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

}  // namespace ristova
