// The folder lock on POSIX: flock, which the kernel drops with the last
// descriptor, so a crashed process leaves no stale lock.
#include "base/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ristova {

FolderLock::Result FolderLock::Lock(const std::string& path) {
    // A link planted in place of the lock file would have us create its
    // target, anywhere we may write: it is refused, not followed.
    handle_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (handle_ < 0) {
        const int error = errno;
        error_ = path + ": " + std::strerror(error);
        return error == ELOOP ? Result::Link : Result::Failed;
    }
    if (::flock(handle_, LOCK_EX | LOCK_NB) == 0) return Result::Locked;
    const int error = errno;
    ::close(handle_);
    handle_ = kNoHandle;
    if (error == EWOULDBLOCK) return Result::InUse;
    error_ = path + ": " + std::strerror(error);
    return Result::Failed;
}

void FolderLock::Release() {
    if (handle_ == kNoHandle) return;
    ::close(handle_);
    handle_ = kNoHandle;
}

}  // namespace ristova
