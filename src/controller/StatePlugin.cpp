#include "controller/StatePlugin.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>

#include "base/Codec.h"
#include "ristova/state_plugin.h"

namespace ristova::controller {

namespace {

// A plug-in text without its terminator must not run us off the end of
// memory for long; no real state or description text comes near this.
constexpr std::size_t kMaxPluginTextBytes = 64 * 1024;

std::string CopyPluginText(const char* text) {
    if (text == nullptr) return {};
    return codec::FromCodePage(std::string_view(text, strnlen(text, kMaxPluginTextBytes)));
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// dlopen only for a safe name of an existing file, so that neither the
// library search path nor anything outside the folder is ever tried.
void* OpenPlugin(const std::string& dllFolder, const std::string& fileName, std::string& path,
                 std::string* error = nullptr) {
    auto fail = [&](const char* why) -> void* {
        if (error) *error = why ? why : "";
        return nullptr;
    };
    if (!IsSafePluginName(fileName)) return fail("name refused");
    path = dllFolder + fileName;
    if (path.find('/') == std::string::npos || !IsRegularFile(path)) return fail("no such file");
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    return handle ? handle : fail(::dlerror());
}

template <typename Fn>
Fn LookUp(void* handle, const char* name) {
    return reinterpret_cast<Fn>(::dlsym(handle, name));
}

}  // namespace

bool IsSafePluginName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    if (name.find("..") != std::string_view::npos) return false;
    for (char c : name) {
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
    }
    return true;
}

std::string QueryPluginDescription(const std::string& dllFolder, const std::string& fileName) {
    std::string path;
    void* handle = OpenPlugin(dllFolder, fileName, path);
    if (handle == nullptr) return {};
    std::string text;
    auto describe =
        LookUp<RistovaGetDeviceDescriptionFn>(handle, RISTOVA_DEVICE_DESCRIPTION_SYMBOL);
    if (describe != nullptr) text = CopyPluginText(describe());
    ::dlclose(handle);
    return text;
}

StatePlugin::~StatePlugin() {
    UnloadStatePlugin();
}

bool StatePlugin::LoadStatePlugin(const std::string& dllFolder, const std::string& fileName) {
    if (handle_ != nullptr) {
        if (path_ == dllFolder + fileName) return true;
        // Another controller's plug-in would decode this one's answers wrongly.
        UnloadStatePlugin();
    }
    getDeviceDescription_ = nullptr;
    getJDQState_ = nullptr;
    std::string path;
    handle_ = OpenPlugin(dllFolder, fileName, path, &lastError_);
    if (handle_ == nullptr) return false;
    lastError_.clear();
    path_ = path;
    getDeviceDescription_ = LookUp<DescriptionFn>(handle_, RISTOVA_DEVICE_DESCRIPTION_SYMBOL);
    getJDQState_ = LookUp<DecodeFn>(handle_, RISTOVA_JDQ_STATE_SYMBOL);
    return true;
}

std::string StatePlugin::DeviceDescription() const {
    return getDeviceDescription_ ? CopyPluginText(getDeviceDescription_()) : std::string();
}

std::string StatePlugin::DecodeStates(const void* data, std::size_t count) const {
    if (getJDQState_ == nullptr || data == nullptr) return {};
    return CopyPluginText(
        getJDQState_(static_cast<const unsigned char*>(data), static_cast<std::int32_t>(count)));
}

void StatePlugin::UnloadStatePlugin() {
    getDeviceDescription_ = nullptr;
    getJDQState_ = nullptr;
    if (handle_ != nullptr) ::dlclose(handle_);
    handle_ = nullptr;
    path_.clear();
}

}  // namespace ristova::controller
