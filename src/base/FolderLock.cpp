#include "base/FolderLock.h"

namespace ristova {

FolderLock::~FolderLock() {
    Release();
}

FolderLock::Result FolderLock::Acquire(const std::string& folder) {
    Release();
    error_.clear();
    return Lock(folder + kFolderLockFileName);
}

}  // namespace ristova
