#include "base/SharedLibrary.h"

#include <dlfcn.h>

namespace ristova {

SharedLibrary::~SharedLibrary() {
    Close();
}

bool SharedLibrary::Open(const std::string& path) {
    Close();
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ != nullptr) {
        lastError_.clear();
        return true;
    }
    const char* why = ::dlerror();
    lastError_ = why != nullptr ? why : "";
    return false;
}

void* SharedLibrary::Symbol(const char* name) const {
    return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
}

void SharedLibrary::Close() {
    if (handle_ != nullptr) ::dlclose(handle_);
    handle_ = nullptr;
}

}  // namespace ristova
