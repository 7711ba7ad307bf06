#include "controller/StatePlugin.h"

#include <cstring>

#include "base/Codec.h"
#include "base/Files.h"
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

// Loaded only for a safe name of an existing file, so that neither the
// library search path nor anything outside the folder is ever tried.
bool OpenPlugin(SharedLibrary& library, const std::string& dllFolder, const std::string& fileName,
                std::string& path, std::string& error) {
    if (!IsSafePluginName(fileName)) {
        error = "name refused";
        return false;
    }
    path = dllFolder + fileName;
    if (path.find('/') == std::string::npos || !IsRegularFile(path)) {
        error = "no such file";
        return false;
    }
    if (library.Open(path)) return true;
    error = library.LastError();
    return false;
}

// By the plain name, then by the names that 32-bit Windows compilers give
// a __stdcall export: "_Name@N" and "Name@N", N the bytes of its arguments.
template <typename Fn>
Fn LookUp(const SharedLibrary& library, const char* name, int argumentBytes) {
    const std::string decorated = std::string(name) + "@" + std::to_string(argumentBytes);
    for (const std::string& candidate : {std::string(name), "_" + decorated, decorated}) {
        if (void* found = library.Symbol(candidate.c_str())) return reinterpret_cast<Fn>(found);
    }
    return nullptr;
}

constexpr int kDescriptionArgumentBytes = 0;
// A pointer and a 32-bit count on the 32-bit convention.
constexpr int kDecodeArgumentBytes = 8;

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
    SharedLibrary library;
    std::string path;
    std::string error;
    if (!OpenPlugin(library, dllFolder, fileName, path, error)) return {};
    auto describe = LookUp<RistovaGetDeviceDescriptionFn>(
        library, RISTOVA_DEVICE_DESCRIPTION_SYMBOL, kDescriptionArgumentBytes);
    return describe != nullptr ? CopyPluginText(describe()) : std::string();
}

StatePlugin::~StatePlugin() {
    UnloadStatePlugin();
}

bool StatePlugin::LoadStatePlugin(const std::string& dllFolder, const std::string& fileName) {
    if (library_.IsOpen()) {
        if (path_ == dllFolder + fileName) return true;
        // Another controller's plug-in would decode this one's answers wrongly.
        UnloadStatePlugin();
    }
    getDeviceDescription_ = nullptr;
    getJDQState_ = nullptr;
    std::string path;
    if (!OpenPlugin(library_, dllFolder, fileName, path, lastError_)) return false;
    lastError_.clear();
    path_ = path;
    getDeviceDescription_ = LookUp<DescriptionFn>(library_, RISTOVA_DEVICE_DESCRIPTION_SYMBOL,
                                                  kDescriptionArgumentBytes);
    getJDQState_ = LookUp<DecodeFn>(library_, RISTOVA_JDQ_STATE_SYMBOL, kDecodeArgumentBytes);
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
    library_.Close();
    path_.clear();
}

}  // namespace ristova::controller
